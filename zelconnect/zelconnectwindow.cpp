#include "zelconnectwindow.h"

#include "colormeasurement.h"
#include "drawbox.h"
#include "sampleplot.h"

ZelConnectWindow::ZelConnectWindow(const QString& logPath, QWidget* parent)
    : frmMain(
          zelConnectVariant(), [](QWidget* container) { return new DrawBox(container); }, parent),
      m_color(new ColorMeasurement(*this)),
      m_plot(new SamplePlot(*this, logPath.isEmpty() ? SampleLog::besideProgram() : logPath)) {
    m_color->setPlotSample([this] { m_plot->PlotSample(); });
}
