#pragma once

#include "deviceidentity.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace serial {

/// Tells, as soon as the system says so, that a serial device may have appeared, so that a
/// port waiting for its device tries it at once instead of at its next retry. What appeared
/// is not said: the same identity checks as at a retry decide whether it is the device
/// awaited, so a notice for another device opens nothing.
class DeviceWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    /// Watches for awaited (anew: a watch follows one device at a time). True when a notice
    /// comes whenever it appears; false where one may not (a folder that cannot be watched, a
    /// Windows port that registers no device interface): the port then polls for it.
    virtual bool watch(const DeviceIdentity& awaited) = 0;
    virtual void stop() = 0;

signals:
    void appeared();
    /// The system says the port of this name (Windows: "COM9") arrived or went away, whether
    /// or not anything is watched: a new instance of its driver serves it from now on.
    void portReplaced(const QString& device);
};

/// The system's own watch: on Linux the folders the device's node or link appears in
/// (inotify), on Windows the device-arrival notices.
std::unique_ptr<DeviceWatch> systemDeviceWatch();

/// The folders in which awaited appears when it comes back: that of its node or of the link
/// the user named, and for a USB adapter /dev and /dev/serial/by-id. None for a device that
/// nothing tells apart.
QStringList foldersToWatch(const DeviceIdentity& awaited);

/// Where to watch for folder to appear while it does not exist: the nearest folder above it
/// that does (exists: a seam for tests). Empty when none does.
QString nearestExistingFolder(const QString& folder,
                              const std::function<bool(const QString&)>& exists);

} // namespace serial
