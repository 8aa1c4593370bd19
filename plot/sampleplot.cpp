#include "sampleplot.h"

#include "drawbox.h"
#include "frmmain.h"
#include "numbertext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QTimer>

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

QString samplesCount(qint64 count) {
    return count == 1 ? QStringLiteral("1 sample") : QStringLiteral("%1 samples").arg(count);
}

QString logWaitingText(const QString& path, const SampleLog::Failure& failure, qint64 waiting,
                       qint64 dropped) {
    using Kind = SampleLog::Failure::Kind;
    const QString name = QFileInfo(path).fileName();
    const QString waits = waiting == 1
                              ? QStringLiteral("1 sample waits and is written")
                              : QStringLiteral("%1 samples wait and are written").arg(waiting);
    QString text;
    switch (failure.kind) {
    case Kind::HeldElsewhere:
        text = QStringLiteral("%1 is open in another program, which does not let others write "
                              "it; %2 when it is closed.")
                   .arg(name, waits);
        break;
    case Kind::ReadOnly:
        text = QStringLiteral("%1 is read-only (%2); %3 as soon as it can be written again.")
                   .arg(name, failure.reason, waits);
        break;
    case Kind::DiskFull:
        text = QStringLiteral("The disk that holds %1 is full; %2 as soon as there is room.")
                   .arg(name, waits);
        break;
    case Kind::Other:
        text = QStringLiteral("Samples cannot be written to %1 (%2); %3 as soon as it works "
                              "again.")
                   .arg(name, failure.reason, waits);
        break;
    }
    if (dropped > 0) {
        text += QStringLiteral(" %1 more did not fit in the %2 MB that may wait and were dropped.")
                    .arg(samplesCount(dropped))
                    .arg(SampleLog::kWaitingLimit >> 20);
    }
    return text +
           QStringLiteral("\n\nThe log: %1\nThe plot goes on.").arg(QDir::toNativeSeparators(path));
}

QString logWrittenText(const QString& path, qint64 waited, qint64 dropped) {
    QString text =
        QStringLiteral("The %1 that waited %2 now in %3.")
            .arg(samplesCount(waited), waited == 1 ? "is" : "are", QDir::toNativeSeparators(path));
    if (dropped > 0) {
        text += QStringLiteral(" %1 had to be dropped.").arg(samplesCount(dropped));
    }
    return text;
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
    m_logRetry = new QTimer(this);
    m_logRetry->setInterval(kLogRetryMs);
    connect(m_logRetry, &QTimer::timeout, this, &SamplePlot::retryLog);
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
        m_rememberAnnounced = true;
    }
}

void SamplePlot::LogSample(qint64 position) {
    using Text = frmMain::SampleText;
    const QByteArray line =
        SampleLog::line(position, m_window.sampleText(Text::Red), m_window.sampleText(Text::Green),
                        m_window.sampleText(Text::Blue));
    if (m_window.receiving()) {
        // With the other samples of this read, in one append: a burst completes thousands.
        m_readLines += line;
        return;
    }
    logResult(m_log.log(line), false);
}

void SamplePlot::logReadSamples() {
    if (!m_readLines.isEmpty()) {
        logResult(m_log.log(std::exchange(m_readLines, {})), false);
    }
}

void SamplePlot::tellWhereTheLogIs() {
    const QString& claimed = m_log.path();
    if (claimed != std::exchange(m_toldFile, claimed) && claimed != m_log.wantedPath()) {
        // Told at every such start, and whenever it changes: it depends on the other program.
        m_announce = QStringLiteral("%1 running at the same time logs to %2")
                         .arg(QCoreApplication::applicationName(),
                              QDir::toNativeSeparators(m_log.wantedPath()));
        m_rememberAnnounced = false;
    }
    if (m_announce.isEmpty()) {
        return;
    }
    m_window.Notice({QStringLiteral("Samples are logged to\n%1\n(%2).")
                         .arg(QDir::toNativeSeparators(claimed), std::exchange(m_announce, {})),
                     m_window.variant().applicationTitle, MessageButtons::OkOnly,
                     MessageIcon::Information});
    if (m_rememberAnnounced) {
        userSettings().setValue(kAnnouncedLog, claimed);
    }
}

void SamplePlot::retryLog() {
    logResult(m_log.writeWaiting(), true);
}

QString SamplePlot::logBeforeClosing() {
    const std::optional<SampleLog::Failure> failure = m_log.writeWaiting();
    if (!failure) {
        return {};
    }
    const qsizetype waiting = m_log.waitingLines(); // some may have gone in
    return QStringLiteral("%1 could not be written to the log file\n%2\n(%3) and %4 lost.")
        .arg(samplesCount(waiting), QDir::toNativeSeparators(m_log.path()), failure->reason,
             waiting == 1 ? QStringLiteral("is") : QStringLiteral("are"));
}

void SamplePlot::logResult(const std::optional<SampleLog::Failure>& failure, bool retried) {
    const QString title = m_window.variant().applicationTitle;
    if (!failure) {
        if (std::exchange(m_logFailing, false)) {
            m_logRetry->stop();
            m_window.Notice(
                {logWrittenText(m_log.path(), m_log.waitedLines(), m_log.droppedLines()), title,
                 MessageButtons::OkOnly, MessageIcon::Information});
            m_log.resetCounts();
        }
        tellWhereTheLogIs();
        return;
    }
    const bool first = !std::exchange(m_logFailing, true);
    if (first) {
        m_logRetry->start();
    }
    // The count changes with every sample: an open notice shows it anew at each retry, and
    // the notice comes up by itself only when the failure starts.
    if (first || retried) {
        MessageBoxRequest notice{
            logWaitingText(m_log.path(), *failure, m_log.waitingLines(), m_log.droppedLines()),
            title, MessageButtons::OkOnly, MessageIcon::Warning};
        notice.onlyIfOpen = !first;
        m_window.Notice(notice);
    }
}
