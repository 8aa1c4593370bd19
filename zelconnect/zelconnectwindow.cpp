#include "zelconnectwindow.h"

#include "colormeasurement.h"
#include "drawbox.h"
#include "numbertext.h"
#include "sampleplot.h"

#include <QCoreApplication>
#include <QDir>

ZelConnectWindow::ZelConnectWindow(const QString& logPath, QWidget* parent)
    : frmMain(
          zelConnectVariant(), [](QWidget* container) { return new DrawBox(container); }, parent),
      m_color(new ColorMeasurement(*this)), m_plot(new SamplePlot(*this, logPath)) {
    m_color->setPlotSample([this] { m_plot->PlotSample(); });
    if (logPath.isEmpty()) {
        const SampleLog::Location location = SampleLog::defaultLocation();
        m_plot->setLogPath(location.path);
        if (location.inDataFolder) {
            m_plot->announceLogLocation(
                QStringLiteral("the program's folder %1 cannot be written")
                    .arg(QDir::toNativeSeparators(QCoreApplication::applicationDirPath())));
        }
    }
}

void ZelConnectWindow::redMarkerReceived(const terminal::SampleFields& fields) {
    if (!sampleSpansClose() && numbers::isNumericText(fields.red) &&
        numbers::isNumericText(fields.green) && numbers::isNumericText(fields.blue)) {
        m_color->evaluateSample(); // reads the same fields, as they stand at this "R"
    }
}
