#include "deviceidentity.h"

#include <QFileInfo>

#include <algorithm>

namespace serial {

namespace {

bool sameUsbPort(const DeviceIdentity& identity, const PortInfo& candidate) {
    return candidate.isUsb() && candidate.vendorId == identity.vendorId &&
           candidate.productId == identity.productId &&
           candidate.interfaceNumber == identity.interfaceNumber &&
           candidate.serialNumber == identity.serialNumber;
}

// No other present device reports the same serial number on the same interface.
bool serialIsUnique(const PortInfo& device, const QList<PortInfo>& present) {
    if (device.serialNumber.isEmpty()) {
        return false;
    }
    return std::count_if(present.begin(), present.end(), [&device](const PortInfo& other) {
               return other.isUsb() && other.vendorId == device.vendorId &&
                      other.productId == device.productId &&
                      other.interfaceNumber == device.interfaceNumber &&
                      other.serialNumber == device.serialNumber;
           }) == 1;
}

} // namespace

QString canonicalPath(const QString& path) {
#ifdef Q_OS_WIN
    // COM names are no files; whether one is there is for its open to find out.
    return path;
#else
    return QFileInfo(path).canonicalFilePath();
#endif
}

bool isPseudoTerminal(const QString& device) {
    return device.startsWith(QLatin1String("/dev/pts/"));
}

DeviceIdentity identityOf(const PortInfo& device, const QList<PortInfo>& present,
                          const QString& namedPath) {
    DeviceIdentity identity;
    identity.path = device.device;
    if (device.isUsb()) {
        identity.kind = DeviceIdentity::Kind::Usb;
        identity.vendorId = device.vendorId;
        identity.productId = device.productId;
        identity.interfaceNumber = device.interfaceNumber;
        identity.serialNumber = device.serialNumber;
        identity.usbLocation = device.usbLocation;
        identity.serialTellsApart = serialIsUnique(device, present);
    } else if (!isPseudoTerminal(device.device)) {
        identity.kind = DeviceIdentity::Kind::Path;
    } else if (!namedPath.isEmpty() && namedPath != device.device) {
        identity.kind = DeviceIdentity::Kind::Link;
        identity.path = namedPath;
    }
    return identity;
}

DeviceSearch findDevice(const DeviceIdentity& identity, const QList<PortInfo>& present) {
    QList<PortInfo> matches;
    for (const PortInfo& port : present) {
        const bool same = identity.kind == DeviceIdentity::Kind::Usb ? sameUsbPort(identity, port)
                          : identity.kind == DeviceIdentity::Kind::Path
                              ? !port.isUsb() && port.device == identity.path
                              : false;
        // A serial number that others share tells nothing: where it is plugged in does.
        if (same && (identity.serialTellsApart || port.usbLocation == identity.usbLocation)) {
            matches << port;
        }
    }
    if (matches.size() > 1) {
        QList<PortInfo> stayed;
        std::copy_if(
            matches.begin(), matches.end(), std::back_inserter(stayed),
            [&identity](const PortInfo& port) { return port.usbLocation == identity.usbLocation; });
        return stayed.size() == 1 ? DeviceSearch{stayed.front(), {}} : DeviceSearch{{}, matches};
    }
    return {matches.isEmpty() ? std::nullopt : std::optional(matches.front()), {}};
}

Reopening whereToReopen(const DeviceIdentity& lost, const QList<PortInfo>& present,
                        const PathResolver& resolve) {
    switch (lost.kind) {
    case DeviceIdentity::Kind::Usb: {
        const DeviceSearch search = findDevice(lost, present);
        if (search.found) {
            return {search.found->device, {}, true};
        }
        if (search.tied.isEmpty()) {
            return {};
        }
        QStringList devices;
        for (const PortInfo& port : search.tied) {
            devices << port.device;
        }
        return {{},
                QStringLiteral("%1 devices match it equally (%2), so neither is opened. Unplug "
                               "the others, or name the device in ZEL_COM<n>.")
                    .arg(search.tied.size())
                    .arg(devices.join(QStringLiteral(", ")))};
    }
    case DeviceIdentity::Kind::Path: {
        const bool listed =
            std::any_of(present.begin(), present.end(),
                        [&lost](const PortInfo& port) { return port.device == lost.path; });
        return {resolve(lost.path).isEmpty() ? QString() : lost.path, {}, listed};
    }
    case DeviceIdentity::Kind::Link: {
        const QString target = resolve(lost.path);
        if (target.isEmpty()) {
            return {};
        }
        // Another kind of device behind the same link is not the one that went away.
        if (!isPseudoTerminal(target)) {
            return {{},
                    QStringLiteral("%1 now leads to %2, not to a pseudo-terminal like the "
                                   "device that went away.")
                        .arg(lost.path, target)};
        }
        return {lost.path, {}, true};
    }
    case DeviceIdentity::Kind::None:
        break;
    }
    return {};
}

QString sameKindAppeared(const PortInfo& lost, const QList<PortInfo>& atLoss,
                         const QList<PortInfo>& present) {
    const auto sameKind = [&lost](const PortInfo& port) {
        if (lost.isUsb()) {
            return port.isUsb() && port.vendorId == lost.vendorId &&
                   port.productId == lost.productId && port.interfaceNumber == lost.interfaceNumber;
        }
        return !lost.builtIn && !port.builtIn && !lost.description.isEmpty() &&
               port.description == lost.description;
    };
    for (const PortInfo& port : present) {
        const bool wasThere =
            std::any_of(atLoss.begin(), atLoss.end(), [&port](const PortInfo& before) {
                return before.device == port.device && before.usbLocation == port.usbLocation;
            });
        if (wasThere || !sameKind(port)) {
            continue;
        }
        if (port.description.isEmpty()) {
            return QStringLiteral("a device of its kind appeared as %1").arg(port.device);
        }
        return QStringLiteral("a %1 appeared as %2").arg(port.description, port.device);
    }
    return {};
}

QString describeIdentity(const DeviceIdentity& identity) {
    switch (identity.kind) {
    case DeviceIdentity::Kind::Usb: {
        QString text =
            QStringLiteral("the USB adapter %1:%2").arg(identity.vendorId, identity.productId);
        if (identity.serialTellsApart) {
            text += QStringLiteral(" with serial %1").arg(identity.serialNumber);
        } else {
            text += QStringLiteral(" at USB port %1").arg(identity.usbLocation);
        }
        if (!identity.interfaceNumber.isEmpty()) {
            text += QStringLiteral(", interface %1").arg(identity.interfaceNumber.toInt());
        }
        return text;
    }
    case DeviceIdentity::Kind::Path:
        return identity.path;
    case DeviceIdentity::Kind::Link:
        return QStringLiteral("the pseudo-terminal behind %1").arg(identity.path);
    case DeviceIdentity::Kind::None:
        break;
    }
    return QStringLiteral("the pseudo-terminal %1").arg(identity.path);
}

} // namespace serial
