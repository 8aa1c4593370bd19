#pragma once

#include "commdriver.h"
#include "serialline.h"

#include <QElapsedTimer>

#include <functional>
#include <map>
#include <memory>

namespace serial {

/// The serial line over a communications driver, as Windows has it: a read always under way
/// while the control keeps up, and a queue written in pieces of a fraction of a second of
/// line time, so that what is still to go is known at any moment.
class CommLine : public SerialLine {
    Q_OBJECT

public:
    /// Opens the driver on what reachDevice() reached, or says why it cannot.
    using OpenDriver = std::function<std::unique_ptr<CommDriver>(
        const QString& device, ReachedDevice reached, CommError& error)>;

    /// A driver's default input queue of a few KB fills in a fraction of a second at
    /// 256000 baud without flow control.
    static constexpr qint64 kInputQueue = 64 << 10;
    static constexpr qsizetype kReadChunk = 64 << 10;
    /// Reads pause while this much waits for the control, until it has taken it.
    static constexpr qsizetype kMostHeld = 1 << 20;
    /// A read with nothing to read ends after this; one that ends with nothing much sooner,
    /// kQuickEmptyReads times running, means the device has gone (some drivers after an
    /// unplug).
    static constexpr int kReadWaitMs = 200;
    static constexpr int kQuickEmptyReads = 20;
    /// Line time of one written piece.
    static constexpr int kPieceMs = 100;
    /// How long a close waits for cancelled reads and writes to end.
    static constexpr int kCancelWaitMs = 500;

    explicit CommLine(OpenDriver openDriver);
    ~CommLine() override;

    CommError open(const QString& device, const LineSettings& settings,
                   ReachedDevice reached) override;
    void close() override;
    bool isOpen() const override { return m_driver != nullptr; }
    QString write(const QByteArray& bytes) override;
    qint64 pendingOutput() const override;
    void discardOutput() override;
    QString read(QByteArray& into) override;
    bool hasInput() const override { return !m_received.isEmpty(); }
    QString notYetReopenable(const QString& device) override;
    void deviceReplaced(const QString& device) override { m_unsettled.erase(device); }

private:
    void startRead();
    void readEnded(const QByteArray& bytes, const QString& failure);
    void startWrite();
    void writeEnded(qint64 written, const QString& failure);
    void writeFailure(const QString& why);
    void deviceFailed(const QString& why);
    qsizetype pieceSize() const;

    OpenDriver m_openDriver;
    std::unique_ptr<CommDriver> m_driver;
    QString m_device;
    // Closed ports whose driver has not ended the requests a close cancelled: their buffers
    // are the driver's until it does. One per device at most: it is not opened again before.
    std::map<QString, std::unique_ptr<CommDriver>> m_unsettled;
    LineSettings m_settings;
    QByteArray m_received; // what came, not yet taken
    QByteArray m_sending;  // the piece on its way
    QByteArray m_queue;    // to follow it
    bool m_reading = false;
    bool m_readPaused = false;
    bool m_writing = false;
    bool m_dropSending = false; // the piece on its way was given up
    QElapsedTimer m_readSince;
    int m_quickEmptyReads = 0;
    QString m_lastWriteFailure; // told once until a write succeeds again
    QString m_lostReason;
};

/// Puts the whole line on the driver at once: drivers refuse some combinations (5 data bits
/// with 2 stop bits, 6 to 8 with 1.5), so from whatever the last program left, one setting at
/// a time may not get there. Where the whole is refused, the setting to name is found from
/// the state the driver runs.
CommError applyLineSettings(CommDriver& driver, const QString& device, const LineSettings& wanted);

} // namespace serial
