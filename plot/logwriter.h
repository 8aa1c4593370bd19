#pragma once

#include "samplelog.h"

#include <QObject>

#include <functional>
#include <memory>

class QThread;

/// The log's writer: the window hands it whole lines and never waits for it. A thread of its
/// own finds where the log goes, claims the file, appends and tries again every kRetryMs
/// while lines wait, however long the file system takes (a network folder that does not
/// answer). Lines wait in memory meanwhile, in order, within SampleLog::kWaitingLimit.
class LogWriter : public QObject {
    Q_OBJECT

public:
    /// What the writer said after its last try; counts are in lines since it started.
    struct Report {
        std::optional<LogFailure> failure;
        QString path; ///< the file claimed; the one wanted until a claim is made
        QString wantedPath;
        std::optional<SampleLog::Location> location; ///< in the first report only
        qint64 written = 0;
        qint64 dropped = 0;    ///< beyond the limit, by the log
        bool retried = false;  ///< a try of lines that waited, with no new ones
        bool caughtUp = false; ///< no lines were handed over during the try
        bool unlocked = false;
        bool pieceKept = false; ///< SampleLog::pieceKeptSinceAsked()
    };

    /// Logs to where() says, asked on the writer's thread (it looks at folders).
    explicit LogWriter(std::function<SampleLog::Location()> where, QObject* parent = nullptr);
    ~LogWriter() override;

    /// Hands over whole lines, each ending in LF; those beyond the limit are dropped.
    void append(const QByteArray& lines);
    const Report& last() const { return m_last; }
    /// Lines handed over, in all.
    qint64 appended() const { return m_appended; }
    /// Lines handed over that are not in the file yet; lines dropped, here or by the log.
    qint64 waiting() const { return m_appended - m_last.written - m_last.dropped; }
    qint64 dropped() const { return m_droppedHere + m_last.dropped; }
    /// How long the writer's present try has taken so far, in ms; 0 when it is not trying.
    qint64 busyMs() const;
    /// Nothing handed over that the writer has not tried and reported.
    bool idle() const;

    static constexpr int kRetryMs = 2000;
    /// How long closing waits for a last try.
    static constexpr int kClosingMs = 5000;
    struct Ending {
        qint64 lost = 0;
        QString reason;
    };
    /// Ends the writer after a last try of what waits, waiting at most ms for it: what could
    /// not be written, and why. A writer that still waits for its file system then is left
    /// behind (abandoned()): the program must not wait for it, nor tidy up under it.
    Ending finish(int ms = kClosingMs);
    bool abandoned() const { return m_abandoned; }

signals:
    void reported();

private:
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared,
                    const std::function<SampleLog::Location()>& where);
    void receive(const Report& report);

    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QThread> m_thread;
    Report m_last;
    qint64 m_appended = 0;
    qint64 m_droppedHere = 0;
    qint64 m_received = 0;
    bool m_abandoned = false;
};
