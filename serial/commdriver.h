#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

namespace serial {

/// The calls the Windows line makes on one open port of the communications driver, its
/// reads and writes ending later through the event loop. Destroying it closes the port.
class CommDriver : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    /// The line as the driver runs it now; nullopt, with why into why, when it cannot say.
    virtual std::optional<LineSettings> line(QString& why) = 0;
    /// Sets the whole line at once, raw bytes without flow control: nullopt when the driver
    /// took it, else its reason (empty when it gives none).
    virtual std::optional<QString> setLine(const LineSettings& line) = 0;
    /// Asks for an input queue of this size and sets how reads end; why not, or empty.
    virtual QString prepare(qint64 inputQueue) = 0;
    /// Starts a read of at most most bytes; readEnded tells its end. Why not, or empty.
    virtual QString startRead(qsizetype most) = 0;
    /// Starts writing bytes, kept until writeEnded tells its end. Why not, or empty.
    virtual QString startWrite(const QByteArray& bytes) = 0;
    /// Bytes the driver still holds to send.
    virtual qint64 outputQueue() = 0;
    /// Drops what the driver holds to send; a write under way ends.
    virtual void purgeOutput() = 0;
    /// Drops what the driver holds received.
    virtual void purgeInput() = 0;
    /// Cancels the read and write under way, waiting at most ms for them to end; false when
    /// they have not (the driver then keeps their buffers until they do).
    virtual bool cancel(int ms) = 0;
    /// True once the requests a cancel did not end have ended after all.
    virtual bool requestsEnded() = 0;
    /// Lets the port go while requests the driver has not ended keep their buffers.
    virtual void closeKeepingRequests() = 0;

signals:
    /// A read ended: the bytes it read, or why it failed.
    void readEnded(const QByteArray& bytes, const QString& failure);
    /// A write ended: how many of its bytes the driver took, and why not all, if not.
    void writeEnded(qint64 written, const QString& failure);
};

} // namespace serial
