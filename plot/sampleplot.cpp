#include "sampleplot.h"

#include "drawbox.h"
#include "frmmain.h"
#include "numbertext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
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
      m_where([path = std::move(logPath)] {
          return SampleLog::Location{path, false, {}};
      }) {
    if (m_drawBox) {
        m_drawBox->setModel(&m_model);
        m_drawBox->installEventFilter(this);
    }
    connect(m_ui.cmdDraw, &QPushButton::clicked, this, &SamplePlot::cmdDraw_Click);
    connect(m_ui.cmdClearDrawBox, &QPushButton::clicked, this, &SamplePlot::cmdClearDrawBox_Click);
    connect(m_ui.DrawSclBar, &QScrollBar::valueChanged, this, &SamplePlot::DrawSclBar_Change);
    connect(&m_window, &frmMain::frameDue, this, &SamplePlot::showFrame);
    m_logWatch = new QTimer(this);
    m_logWatch->setInterval(kNoAnswerMs / 2);
    connect(m_logWatch, &QTimer::timeout, this, &SamplePlot::watchLog);
}

bool SamplePlot::eventFilter(QObject* watched, QEvent* event) {
    // With the focus on the chart, the keys that move its scroll bar scroll it.
    if (watched == m_drawBox && event->type() == QEvent::KeyPress && m_ui.DrawSclBar) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            QCoreApplication::sendEvent(m_ui.DrawSclBar, event);
            return true;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
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

void SamplePlot::useDefaultLocation() {
    m_where = &SampleLog::defaultLocation;
}

void SamplePlot::useLocation(const SampleLog::Location& location) {
    m_where = [location] {
        return location;
    };
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
    appendToLog(line);
}

void SamplePlot::logReadSamples() {
    if (!m_readLines.isEmpty()) {
        appendToLog(std::exchange(m_readLines, {}));
    }
}

void SamplePlot::appendToLog(const QByteArray& lines) {
    if (!m_writer) {
        m_writer = new LogWriter(m_where, this);
        connect(m_writer, &LogWriter::reported, this, &SamplePlot::logResult);
    }
    m_writer->append(lines);
    if (!m_logWatch->isActive()) {
        m_logWatch->start();
    }
}

void SamplePlot::tellWhereTheLogIs() {
    const LogWriter::Report& report = m_writer->last();
    const QString& claimed = report.path;
    if (claimed != std::exchange(m_toldFile, claimed) && claimed != report.wantedPath) {
        // Told at every such start, and whenever it changes: it depends on the other program.
        m_announce = QStringLiteral("%1 running at the same time logs to %2")
                         .arg(QCoreApplication::applicationName(),
                              QDir::toNativeSeparators(report.wantedPath));
        m_rememberAnnounced = false;
    }
    const QString title = m_window.variant().applicationTitle;
    if (report.unlocked && !std::exchange(m_toldUnlocked, true)) {
        m_window.Notice({QStringLiteral("Samples are logged to\n%1\nbut its folder keeps no "
                                        "locks: a second program logging there at the same time "
                                        "could not be kept out.")
                             .arg(QDir::toNativeSeparators(claimed)),
                         title, MessageButtons::OkOnly, MessageIcon::Warning});
    }
    if (report.pieceKept) {
        m_window.Notice({QStringLiteral("The folder of %1 would not take back the part of a line "
                                        "that went in before a write failed; the rest of that "
                                        "line followed it, so every line is whole.")
                             .arg(QDir::toNativeSeparators(claimed)),
                         title, MessageButtons::OkOnly, MessageIcon::Information});
    }
    if (m_announce.isEmpty()) {
        return;
    }
    m_window.Notice({QStringLiteral("Samples are logged to\n%1\n(%2).")
                         .arg(QDir::toNativeSeparators(claimed), std::exchange(m_announce, {})),
                     title, MessageButtons::OkOnly, MessageIcon::Information});
    if (m_rememberAnnounced) {
        userSettings().setValue(kAnnouncedLog, claimed);
    }
}

QString SamplePlot::logBeforeClosing() {
    if (!m_writer) {
        return {};
    }
    m_logWatch->stop();
    const LogWriter::Ending ending = m_writer->finish();
    if (ending.lost == 0) {
        return {};
    }
    return QStringLiteral("%1 could not be written to the log file\n%2\n(%3) and %4 lost.")
        .arg(samplesCount(ending.lost), QDir::toNativeSeparators(m_writer->last().path),
             ending.reason, ending.lost == 1 ? QStringLiteral("is") : QStringLiteral("are"));
}

void SamplePlot::logWaits(const QString& text, bool first) {
    if (first) {
        m_logWaits = true;
        m_waitedFrom = m_writer->last().written;
    }
    m_waitedUpTo = m_writer->appended();
    // The count changes with every sample: an open notice shows it anew, and the notice
    // comes up by itself only when the waiting starts.
    MessageBoxRequest notice{text, m_window.variant().applicationTitle, MessageButtons::OkOnly,
                             MessageIcon::Warning};
    notice.onlyIfOpen = !first;
    m_window.Notice(notice);
}

void SamplePlot::watchLog() {
    if (m_writer->busyMs() >= kNoAnswerMs) {
        const LogWriter::Report& last = m_writer->last();
        const qint64 waiting = m_writer->waiting();
        logWaits(QStringLiteral("The folder of %1 does not answer; %2 %3 waiting.\n\nThe log: "
                                "%4\nThe plot goes on.")
                     .arg(QFileInfo(last.wantedPath).fileName(), samplesCount(waiting),
                          waiting == 1 ? QStringLiteral("is") : QStringLiteral("are"),
                          QDir::toNativeSeparators(last.path)),
                 !m_logWaits);
    } else if (!m_logWaits && m_writer->idle()) {
        m_logWatch->stop(); // started again with the next sample
    }
}

void SamplePlot::logResult() {
    const LogWriter::Report& report = m_writer->last();
    if (report.location && report.location->inDataFolder &&
        userSettings().value(kAnnouncedLog).toString() != report.location->path) {
        m_announce = report.location->whyNotBeside;
        m_rememberAnnounced = true;
    }
    if (!report.failure) {
        // Over once the writer has caught up: lines that waited behind a try that took long
        // may still be on their way.
        if (m_logWaits && report.caughtUp) {
            m_logWaits = false;
            // Those handed over since went in without waiting.
            const qint64 waited = std::min(report.written, m_waitedUpTo) - m_waitedFrom;
            m_window.Notice(
                {logWrittenText(report.path, waited, m_writer->dropped() - m_droppedFrom),
                 m_window.variant().applicationTitle, MessageButtons::OkOnly,
                 MessageIcon::Information});
            m_droppedFrom = m_writer->dropped();
        }
        tellWhereTheLogIs();
        return;
    }
    m_waitedUpTo = m_writer->appended();
    if (!m_logWaits || report.retried) {
        logWaits(logWaitingText(report.path, *report.failure, m_writer->waiting(),
                                m_writer->dropped() - m_droppedFrom),
                 !m_logWaits);
    }
}
