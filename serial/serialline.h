#pragma once

#include "commerror.h"
#include "linesettings.h"
#include "reacheddevice.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace serial {

/// One serial line as the serial control drives it: opened with its settings, read as bytes
/// come, written through a queue that goes out while the event loop runs. On Windows the
/// Win32 communications API, elsewhere Qt Serial Port.
class SerialLine : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    /// Opens device with settings, and makes sure the driver runs with them; the error for
    /// the user when it cannot (the line stays closed). What reachDevice() made of the device
    /// meanwhile, off the window's thread, is taken over or, where it failed, reported.
    virtual CommError open(const QString& device, const LineSettings& settings,
                           ReachedDevice reached) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    /// Queues bytes to be written; empty, or why they cannot be.
    virtual QString write(const QByteArray& bytes) = 0;
    /// Bytes written that have not yet gone out: queued here and, where the system tells, in
    /// the driver.
    virtual qint64 pendingOutput() const = 0;
    /// Drops what the driver still holds to send, before a close that would otherwise wait
    /// for it.
    virtual void discardOutput() = 0;
    /// Why device cannot be opened again yet (requests of its last connection that the
    /// driver has not ended); empty when it can.
    virtual QString notYetReopenable(const QString& device) {
        Q_UNUSED(device);
        return {};
    }
    /// The device went away or came back: a new instance of its driver serves it, so what
    /// the last connection left unended no longer keeps it from being opened.
    virtual void deviceReplaced(const QString& device) { Q_UNUSED(device); }
    /// True when bytes were written since the last drain: a close then waits for them.
    virtual bool drainDue() const { return false; }
    /// Once the bytes written have all gone to the driver: starts waiting, off the window's
    /// thread, until they have left the hardware too (a UART's FIFO, a USB adapter's buffer),
    /// since a close puts the port's former settings back at once. Returns how long that may
    /// take in ms; 0 when there is nothing to wait for.
    virtual qint64 startDrain() { return 0; }
    /// True once the drain started last has ended.
    virtual bool drained() const { return true; }

    /// Appends what has come, up to about a megabyte; what was seen when the device has gone.
    virtual QString read(QByteArray& into) = 0;
    /// True when bytes wait to be read.
    virtual bool hasInput() const = 0;

signals:
    void readyRead();
    /// A write failed: why, for the user.
    void writeFailed(const QString& description);
    /// The device went away while open: what was seen.
    void lost(const QString& reason);
};

/// The line of this platform.
std::unique_ptr<SerialLine> makeSerialLine();

/// Settings this platform cannot do at all, refused before any device is touched.
std::optional<CommError> settingsRefused(const LineSettings& settings);

} // namespace serial
