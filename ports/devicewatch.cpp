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

} // namespace serial
