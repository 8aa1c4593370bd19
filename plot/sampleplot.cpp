#include "sampleplot.h"

#include "drawbox.h"
#include "frmmain.h"
#include "numbertext.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>

namespace {

// The log file the user has been told of, kept per user.
constexpr char kAnnouncedLog[] = "log/announced";

QSettings userSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Zel_Connect"),
                     QStringLiteral("Zel_Connect"));
}

plot::ScrollState scrollStateOf(const QScrollBar* bar) {
    plot::ScrollState state;
    if (bar) {
        state.minimum = bar->minimum();
        state.maximum = std::max(1, bar->maximum()); // it divides
        state.pageStep = bar->pageStep();
        state.value = bar->value();
    }
    return state;
}

} // namespace

SamplePlot::SamplePlot(frmMain& window, QString logPath)
    : QObject(&window), m_window(window), m_ui(window.controls()),
      m_drawBox(qobject_cast<DrawBox*>(m_ui.DrawBox)), m_model(scrollStateOf(m_ui.DrawSclBar)),
      m_log(std::move(logPath)) {
    if (m_drawBox) {
        m_drawBox->setModel(&m_model);
    }
    connect(m_ui.cmdDraw, &QPushButton::clicked, this, &SamplePlot::cmdDraw_Click);
    connect(m_ui.cmdClearDrawBox, &QPushButton::clicked, this, &SamplePlot::cmdClearDrawBox_Click);
    connect(m_ui.DrawSclBar, &QScrollBar::valueChanged, this, &SamplePlot::DrawSclBar_Change);
    connect(&m_window, &frmMain::frameDue, this, &SamplePlot::showFrame);
}

void SamplePlot::changed() {
    if (m_drawBox) {
        m_drawBox->modelChanged();
    }
    m_window.requestFrame();
}

void SamplePlot::showFrame() {
    showScrollState();
    if (m_drawBox) {
        m_drawBox->refresh();
    }
}

void SamplePlot::PlotSample() {
    const auto value = numbers::toNumber(m_window.sampleText(frmMain::SampleText::Result));
    if (!value) {
        return;
    }
    m_model.plotSample(*value, [this](qint64 position) { LogSample(position); });
    changed();
}

void SamplePlot::ScrollDrawBox() {
    m_model.scrollDrawBox();
    changed();
}

void SamplePlot::DrawSclBar_Change(int value) {
    m_model.setScrollValue(value);
    ScrollDrawBox();
}

void SamplePlot::cmdDraw_Click() {
    if (numbers::isNumericText(m_window.sampleText(frmMain::SampleText::Result))) {
        PlotSample();
    }
}

void SamplePlot::cmdClearDrawBox_Click() {
    m_model.clearDrawBox();
    changed();
}

void SamplePlot::showScrollState() {
    QScrollBar* bar = m_ui.DrawSclBar;
    if (!bar) {
        return;
    }
    const QSignalBlocker quiet(bar); // the model has already placed the box
    if (bar->pageStep() != m_model.scroll().pageStep) {
        bar->setPageStep(m_model.scroll().pageStep);
    }
    if (bar->value() != m_model.scroll().value) {
        bar->setValue(m_model.scroll().value);
    }
}

void SamplePlot::useLocation(const SampleLog::Location& location) {
    m_log.setPath(location.path);
    if (location.inDataFolder && userSettings().value(kAnnouncedLog).toString() != location.path) {
        m_announce = location.whyNotBeside;
    }
}

void SamplePlot::LogSample(qint64 position) {
    using Text = frmMain::SampleText;
    const QString reason = m_log.append(SampleLog::line(position, m_window.sampleText(Text::Red),
                                                        m_window.sampleText(Text::Green),
                                                        m_window.sampleText(Text::Blue)));
    if (reason.isEmpty()) {
        m_logFailing = false;
        if (!m_announce.isEmpty()) {
            m_window.Notice({QStringLiteral("Samples are logged to\n%1\n(%2).")
                                 .arg(m_log.path(), std::exchange(m_announce, {})),
                             m_window.variant().applicationTitle, MessageButtons::OkOnly,
                             MessageIcon::Information});
            userSettings().setValue(kAnnouncedLog, m_log.path());
        }
        return;
    }
    if (m_logFailing) {
        return;
    }
    m_logFailing = true;
    m_window.Notice({QStringLiteral("Samples cannot be written to the log file\n%1\n(%2).\n\n"
                                    "The plot goes on; this "
                                    "notice comes again only if the log fails again after it "
                                    "has worked.")
                         .arg(m_log.path(), reason),
                     m_window.variant().applicationTitle, MessageButtons::OkOnly,
                     MessageIcon::Warning});
}
