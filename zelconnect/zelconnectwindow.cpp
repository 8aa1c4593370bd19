#include "zelconnectwindow.h"

#include "colormeasurement.h"
#include "drawbox.h"
#include "numbertext.h"
#include "sampleplot.h"

#include <QCloseEvent>

ZelConnectWindow::ZelConnectWindow(const QString& logPath, QWidget* parent)
    : frmMain(
          zelConnectVariant(), [](QWidget* container) { return new DrawBox(container); }, parent),
      m_color(new ColorMeasurement(*this)), m_plot(new SamplePlot(*this, logPath)) {
    m_color->setPlotSample([this] { m_plot->PlotSample(); });
    if (logPath.isEmpty()) {
        m_plot->useDefaultLocation();
    }
}

void ZelConnectWindow::redMarkerReceived(const terminal::SampleFields& fields) {
    if (!sampleSpansClose() && numbers::isNumericText(fields.red) &&
        numbers::isNumericText(fields.green) && numbers::isNumericText(fields.blue)) {
        m_color->evaluateSample(); // reads the same fields, as they stand at this "R"
    }
}

void ZelConnectWindow::receiveEventHandled() {
    m_plot->logReadSamples();
}

bool ZelConnectWindow::leavesWorkBehind() const {
    return m_plot->logLeftBehind();
}

void ZelConnectWindow::closeEvent(QCloseEvent* event) {
    frmMain::closeEvent(event);
    if (!event->isAccepted()) {
        return;
    }
    if (const QString lost = m_plot->logBeforeClosing(); !lost.isEmpty()) {
        qWarning("%s", qPrintable(lost));
        MsgBox({lost, variant().applicationTitle, MessageButtons::OkOnly, MessageIcon::Warning});
    }
}
