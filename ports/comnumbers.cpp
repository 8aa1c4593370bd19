#include "comnumbers.h"

#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <tuple>

namespace serial {

namespace {

// "ttyUSB10" as ("ttyUSB", 10), so that names sort as people count: ttyUSB2 before ttyUSB10.
std::tuple<QString, qint64, QString> nameKey(const QString& device) {
    const QString name = device.section(u'/', -1);
    qsizetype digits = name.size();
    while (digits > 0 && name[digits - 1].isDigit()) {
        --digits;
    }
    const QString number = name.mid(digits);
    return {name.left(digits), number.isEmpty() ? -1 : number.left(15).toLongLong(), device};
}

// The lowest free number of Com 1 to Com 4, else the one whose device has been away longest;
// only when four present devices hold them, the same from 5 on. None while every number is
// held by a device that is here.
std::optional<std::size_t> numberToGive(const ComAssignments& numbers,
                                        const std::vector<bool>& here) {
    const std::size_t ranges[][2] = {{0, kDesignedPorts}, {kDesignedPorts, kHighestPort}};
    for (const auto& [from, to] : ranges) {
        std::optional<std::size_t> oldest;
        for (std::size_t n = from; n < to; ++n) {
            if (n >= numbers.size() || !numbers[n]) {
                return n;
            }
            if (!here[n] && (!oldest || numbers[n]->lastSeen < numbers[*oldest]->lastSeen)) {
                oldest = n;
            }
        }
        if (oldest) {
            return oldest;
        }
    }
    return std::nullopt;
}

QString groupName(std::size_t index) {
    return QStringLiteral("Com%1").arg(index + 1);
}

// "Com7" as 7; 0 for any other group.
std::size_t comGroupNumber(const QString& group) {
    if (!group.startsWith(QLatin1String("Com"))) {
        return 0;
    }
    bool number = false;
    const int n = group.mid(3).toInt(&number);
    return number && n >= 1 && n <= kHighestPort && groupName(std::size_t(n - 1)) == group
               ? std::size_t(n)
               : 0;
}

} // namespace

bool canHaveComNumber(const PortInfo& port) {
    return !port.systemConsole && !(port.builtIn && !port.hardware) &&
           !isPseudoTerminal(port.device);
}

ComAssignments assignComNumbers(ComAssignments numbers, const QList<PortInfo>& present,
                                qint64 now) {
    QList<PortInfo> candidates;
    std::copy_if(present.begin(), present.end(), std::back_inserter(candidates), canHaveComNumber);
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const PortInfo& a, const PortInfo& b) {
                         if (a.builtIn != b.builtIn) {
                             return a.builtIn;
                         }
                         return nameKey(a.device) < nameKey(b.device);
                     });
    // Devices that already hold a number, or may (two that match one number equally).
    numbers.resize(std::max<std::size_t>(numbers.size(), kDesignedPorts));
    QStringList claimed;
    std::vector<bool> here(numbers.size());
    for (std::size_t n = 0; n < numbers.size(); ++n) {
        if (!numbers[n]) {
            continue;
        }
        const DeviceSearch search = findDevice(numbers[n]->identity, candidates);
        for (const PortInfo& tied : search.tied) {
            claimed << tied.device;
        }
        if (!search.found) {
            continue;
        }
        claimed << search.found->device;
        here[n] = true;
        ComAssignment& holder = *numbers[n];
        holder.lastSeen = now;
        holder.identity.path = search.found->device;
        holder.identity.usbLocation = search.found->usbLocation;
        // A serial number once seen twice is a factory default, not the device's own.
        holder.identity.serialTellsApart =
            holder.identity.serialTellsApart && identityOf(*search.found, present).serialTellsApart;
    }
    for (const PortInfo& port : candidates) {
        if (claimed.contains(port.device)) {
            continue;
        }
        const auto n = numberToGive(numbers, here);
        if (!n) {
            break;
        }
        if (*n >= numbers.size()) {
            numbers.resize(*n + 1);
            here.resize(*n + 1);
        }
        numbers[*n] = ComAssignment{identityOf(port, present), port.description, now};
        here[*n] = true;
    }
    return numbers;
}

QString defaultComNumbersFile() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("Zel_Connect/ports.conf"));
}

namespace {

// A group the device can be found by. Hand edits and older versions leave some that name
// none, and such a group would hold its number for ever.
bool namesDevice(const DeviceIdentity& identity) {
    return identity.kind == DeviceIdentity::Kind::Usb
               ? !identity.vendorId.isEmpty() && !identity.productId.isEmpty()
               : identity.kind == DeviceIdentity::Kind::Path && !identity.path.isEmpty();
}

struct StoredNumbers {
    ComAssignments numbers;
    bool dropped = false; ///< a group that names no device was left out
};

StoredNumbers readComNumbers(const QString& file) {
    StoredNumbers stored{ComAssignments(kDesignedPorts)};
    QSettings settings(file, QSettings::IniFormat);
    for (const QString& group : settings.childGroups()) {
        const std::size_t n = comGroupNumber(group);
        if (n == 0) {
            continue;
        }
        settings.beginGroup(group);
        const QString kind = settings.value(QStringLiteral("kind")).toString();
        ComAssignment holder;
        DeviceIdentity& identity = holder.identity;
        identity.kind = kind == QLatin1String("usb")    ? DeviceIdentity::Kind::Usb
                        : kind == QLatin1String("path") ? DeviceIdentity::Kind::Path
                                                        : DeviceIdentity::Kind::None;
        identity.path = settings.value(QStringLiteral("path")).toString();
        identity.vendorId = settings.value(QStringLiteral("vendor")).toString();
        identity.productId = settings.value(QStringLiteral("product")).toString();
        identity.interfaceNumber = settings.value(QStringLiteral("interface")).toString();
        identity.serialNumber = settings.value(QStringLiteral("serial")).toString();
        identity.usbLocation = settings.value(QStringLiteral("location")).toString();
        identity.serialTellsApart = settings.value(QStringLiteral("serialTellsApart")).toBool();
        holder.description = settings.value(QStringLiteral("description")).toString();
        holder.lastSeen = QDateTime::fromString(
                              settings.value(QStringLiteral("lastSeen")).toString(), Qt::ISODate)
                              .toSecsSinceEpoch();
        settings.endGroup();
        if (!namesDevice(identity)) {
            qWarning("%s: the group [%s] names no device; Com%d is free again", qPrintable(file),
                     qPrintable(group), int(n));
            stored.dropped = true;
            continue;
        }
        stored.numbers.resize(std::max(stored.numbers.size(), n));
        stored.numbers[n - 1] = holder;
    }
    return stored;
}

} // namespace

ComAssignments loadComNumbers(const QString& file) {
    return readComNumbers(file).numbers;
}

void saveComNumbers(const QString& file, const ComAssignments& numbers) {
    QSettings settings(file, QSettings::IniFormat);
    for (const QString& group : settings.childGroups()) {
        if (comGroupNumber(group) != 0) {
            settings.remove(group);
        }
    }
    for (std::size_t n = 0; n < numbers.size(); ++n) {
        if (!numbers[n]) {
            continue;
        }
        const DeviceIdentity& identity = numbers[n]->identity;
        settings.beginGroup(groupName(n));
        const bool usb = identity.kind == DeviceIdentity::Kind::Usb;
        settings.setValue(QStringLiteral("kind"),
                          usb ? QStringLiteral("usb") : QStringLiteral("path"));
        settings.setValue(QStringLiteral("path"), identity.path);
        if (usb) {
            settings.setValue(QStringLiteral("vendor"), identity.vendorId);
            settings.setValue(QStringLiteral("product"), identity.productId);
            settings.setValue(QStringLiteral("interface"), identity.interfaceNumber);
            settings.setValue(QStringLiteral("serial"), identity.serialNumber);
            settings.setValue(QStringLiteral("location"), identity.usbLocation);
            settings.setValue(QStringLiteral("serialTellsApart"), identity.serialTellsApart);
        }
        settings.setValue(QStringLiteral("description"), numbers[n]->description);
        settings.setValue(
            QStringLiteral("lastSeen"),
            QDateTime::fromSecsSinceEpoch(numbers[n]->lastSeen, Qt::UTC).toString(Qt::ISODate));
        settings.endGroup();
    }
}

ComAssignments rememberComNumbers(const QString& file, const QList<PortInfo>& present, qint64 now) {
    const StoredNumbers stored = readComNumbers(file);
    // Seen to the day: the file changes when a number does (or a day has passed), not at
    // every look at the ports.
    constexpr qint64 day = 24 * 60 * 60;
    const qint64 today = now / day * day;
    const ComAssignments numbers = assignComNumbers(stored.numbers, present, today);
    if (stored.dropped || numbers != stored.numbers) {
        saveComNumbers(file, numbers);
    }
    return numbers;
}

} // namespace serial
