#include "devicewatch.h"

#include <QFileInfo>

namespace serial {

QStringList foldersToWatch(const DeviceIdentity& awaited) {
    switch (awaited.kind) {
    case DeviceIdentity::Kind::Usb:
        // The node appears in /dev; udev adds the links by identity a moment later.
        return {QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")};
    case DeviceIdentity::Kind::Path:
    case DeviceIdentity::Kind::Link:
        return {QFileInfo(awaited.path).absolutePath()};
    case DeviceIdentity::Kind::None:
        break;
    }
    return {};
}

QString nearestExistingFolder(const QString& folder,
                              const std::function<bool(const QString&)>& exists) {
    for (QString above = folder; !above.isEmpty();) {
        if (exists(above)) {
            return above;
        }
        const QString up = QFileInfo(above).path();
        if (up == above) {
            break;
        }
        above = up;
    }
    return {};
}

} // namespace serial
