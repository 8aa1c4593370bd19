#include "logwriter.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

// What the window and the writer share, under the mutex, which neither holds across a call
// to the file system. It outlives a window that left its writer behind.
struct LogWriter::Shared {
    QMutex mutex;
    QWaitCondition wake;
    QByteArray lines;    // handed over, not taken yet
    qsizetype inLog = 0; // bytes waiting inside the writer's log
    bool stopping = false;
    QElapsedTimer busy;          // valid while a try runs
    LogWriter* window = nullptr; // gets the reports; cleared when the writer is ended
    qint64 posted = 0;
    Report final; // what the writer knew when it last tried
};

LogWriter::LogWriter(std::function<SampleLog::Location()> where, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>()) {
    m_shared->window = this;
    m_thread.reset(QThread::create(&LogWriter::run, m_shared, std::move(where)));
    m_thread->setObjectName(QStringLiteral("log writer"));
    m_thread->start();
}

LogWriter::~LogWriter() {
    if (m_thread && !m_abandoned) {
        finish();
    }
}

void LogWriter::run(const std::shared_ptr<Shared>& shared,
                    const std::function<SampleLog::Location()>& where) {
    Shared& s = *shared;
    SampleLog log({});
    Report report;
    QMutexLocker lock(&s.mutex);
    bool failing = false;
    bool first = true;
    for (;;) {
        if (!first && s.lines.isEmpty() && !s.stopping) {
            if (failing) {
                s.wake.wait(&s.mutex, QDeadlineTimer(kRetryMs));
            } else {
                s.wake.wait(&s.mutex);
            }
        }
        if (s.lines.isEmpty() && !failing && s.stopping) {
            break;
        }
        const QByteArray lines = std::exchange(s.lines, {});
        const bool last = s.stopping;
        s.busy.start();
        lock.unlock();

        report.location.reset();
        if (std::exchange(first, false)) {
            report.location = where();
            log.setPath(report.location->path);
        }
        std::optional<LogFailure> failure;
        if (!lines.isEmpty() || failing) {
            failure = lines.isEmpty() ? log.writeWaiting() : log.log(lines);
        }
        report.failure = failure;
        report.retried = lines.isEmpty();
        report.path = log.path();
        report.wantedPath = log.wantedPath();
        report.written = log.writtenLines();
        report.dropped = log.droppedLines();
        report.unlocked = log.unlocked();
        report.pieceKept = log.pieceKeptSinceAsked();
        failing = failure.has_value();

        lock.relock();
        s.busy.invalidate();
        s.inLog = log.waitingBytes();
        report.caughtUp = s.lines.isEmpty();
        s.final = report;
        if (LogWriter* const window = s.window) {
            ++s.posted;
            QMetaObject::invokeMethod(
                window, [window, report] { window->receive(report); }, Qt::QueuedConnection);
        }
        if (last && s.lines.isEmpty()) {
            break; // one last try, however it went
        }
    }
}

void LogWriter::append(const QByteArray& lines) {
    QMutexLocker lock(&m_shared->mutex);
    const qsizetype fits = SampleLog::wholeLinesWithin(
        lines, SampleLog::kWaitingLimit - m_shared->lines.size() - m_shared->inLog);
    const qsizetype count = lines.count('\n');
    const qsizetype taken = fits == lines.size() ? count : lines.first(fits).count('\n');
    m_droppedHere += count - taken;
    m_appended += taken;
    m_shared->lines += lines.first(fits);
    m_shared->wake.wakeAll();
}

void LogWriter::receive(const Report& report) {
    ++m_received;
    m_last = report;
    emit reported();
}

qint64 LogWriter::busyMs() const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->busy.isValid() ? std::max<qint64>(m_shared->busy.elapsed(), 1) : 0;
}

bool LogWriter::idle() const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->lines.isEmpty() && !m_shared->busy.isValid() && m_shared->posted == m_received;
}

LogWriter::Ending LogWriter::finish(int ms) {
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->stopping = true;
        m_shared->wake.wakeAll();
    }
    const bool ended = m_thread->wait(QDeadlineTimer(ms));
    QMutexLocker lock(&m_shared->mutex);
    m_shared->window = nullptr;
    const Report& final = m_shared->final;
    Ending ending{m_appended - final.written - final.dropped, {}};
    if (!ended) {
        m_abandoned = true;
        (void)m_thread.release(); // it ends, if ever, on its own; a QThread must not be
                                  // destroyed while it runs
        ending.reason = QStringLiteral("its folder does not answer");
    } else if (final.failure) {
        ending.reason = final.failure->reason;
    }
    return ending;
}
