#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

/// SIGTERM, SIGINT and SIGHUP (the session ends, `kill`, Ctrl+C in the terminal that started
/// the program) brought into the event loop as received(), so that the program can end as when
/// its window is closed instead of dying with the port open. A signal that was ignored when the
/// program started (nohup) stays ignored. One object at a time; the signals' former handling
/// comes back when it is destroyed. Where there are no such signals (Windows), never emitted.
/// SIGPIPE is ignored from then on: a pipe whose reader went away fails a write instead.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

signals:
    void received(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};
