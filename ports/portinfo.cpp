// The serial ports of this machine.
#include "portinfo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <memory>
#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
// After windows.h:
#include <setupapi.h>
#else
#include <QSerialPortInfo>
#endif

namespace serial {

namespace {

#ifdef Q_OS_LINUX
QByteArray sysfsAttribute(const QString& folder, const char* name) {
    QFile file(QDir(folder).filePath(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

QString ttyFolder(const QString& name, const QString& sysfs = QStringLiteral("/sys")) {
    return QDir(sysfs).filePath(QStringLiteral("class/tty/") + name);
}

QStringList activeConsoles() {
    QFile consoles(QStringLiteral("/proc/consoles"));
    return consoles.open(QIODevice::ReadOnly) ? consoleNames(consoles.readAll()) : QStringList();
}

// /dev/ttyS* nodes exist whether or not a UART is behind them; the kernel tells which have
// none (port type 0, "unknown") without the port being opened. Where /sys does not say (WSL 1,
// whose ttyS nodes are Windows' COM ports; containers, chroots), opening the port finds out.
PortInfo builtInUart(const QString& name, const QString& sysfs = QStringLiteral("/sys")) {
    PortInfo uart;
    uart.device = QStringLiteral("/dev/") + name;
    uart.builtIn = true;
    const QByteArray type = sysfsAttribute(ttyFolder(name, sysfs), "type");
    uart.hardware = type != "0";
    uart.description = QStringLiteral("built-in serial port");
    return uart;
}

// The USB interface a tty hangs off and the device above it: what tells adapters apart,
// also two ports of one adapter (the interface) and adapters without a serial number (the
// chain of hub ports, "1-1.4").
void addUsbPlace(PortInfo& port, const QString& name) {
    QString folder = QFileInfo(ttyFolder(name) + QStringLiteral("/device")).canonicalFilePath();
    for (; folder.count(u'/') > 3; folder = folder.section(u'/', 0, -2)) {
        const QByteArray interface = sysfsAttribute(folder, "bInterfaceNumber");
        if (interface.isEmpty()) {
            continue;
        }
        const QString usbDevice = folder.section(u'/', 0, -2);
        port.interfaceNumber = QString::fromLatin1(interface);
        port.usbLocation = usbDevice.section(u'/', -1);
        if (port.vendorId.isEmpty()) {
            port.vendorId = QString::fromLatin1(sysfsAttribute(usbDevice, "idVendor"));
            port.productId = QString::fromLatin1(sysfsAttribute(usbDevice, "idProduct"));
        }
        return;
    }
}

QList<PortInfo> builtInUarts() {
    QList<PortInfo> uarts;
    const QStringList names =
        QDir(QStringLiteral("/sys/class/tty"))
            .entryList({QStringLiteral("ttyS*")},
                       QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        uarts << builtInUart(name);
    }
    return uarts;
}
#endif

#ifndef Q_OS_WIN
QString hex4(quint16 value) {
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}
#endif

} // namespace

QStringList consoleNames(const QByteArray& procConsoles) {
    QStringList names;
    for (const QByteArray& line : procConsoles.split('\n')) {
        if (const QByteArray name = line.simplified().split(' ').value(0); !name.isEmpty()) {
            names << QString::fromLocal8Bit(name);
        }
    }
    return names;
}

QList<PortInfo> windowsComPorts(const QList<ListedComPort>& deviceMap,
                                const QList<ListedComPort>& friendlyNames) {
    QList<PortInfo> ports;
    const auto add = [&ports](const QString& portName, const QString& description) {
        if (!portName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
            return; // a printer port (LPT1) is of the same class
        }
        for (const PortInfo& known : ports) {
            if (known.device.compare(portName, Qt::CaseInsensitive) == 0) {
                return;
            }
        }
        PortInfo port;
        port.device = portName.toUpper();
        port.description = description;
        ports << port;
    };
    for (const ListedComPort& listed : friendlyNames) {
        // "USB Serial Port (COM7)": the port's name is said apart.
        QString name = listed.name.trimmed();
        const QString suffix = QStringLiteral(" (%1)").arg(listed.portName);
        if (name.endsWith(suffix, Qt::CaseInsensitive)) {
            name.chop(suffix.size());
        }
        add(listed.portName, name);
    }
    for (const ListedComPort& listed : deviceMap) {
        add(listed.portName, QStringLiteral("serial port %1").arg(listed.name));
    }
    const auto number = [](const PortInfo& port) {
        return port.device.startsWith(QLatin1String("COM")) ? port.device.mid(3).toInt() : 0;
    };
    std::stable_sort(ports.begin(), ports.end(), [&number](const PortInfo& a, const PortInfo& b) {
        return number(a) < number(b);
    });
    return ports;
}

std::optional<PortInfo> builtInUartAt(const QString& device, const QString& sysfs) {
#ifdef Q_OS_LINUX
    static const QRegularExpression uartNode(QStringLiteral("^/dev/(ttyS\\d+)$"));
    if (const QRegularExpressionMatch node = uartNode.match(device); node.hasMatch()) {
        PortInfo uart = builtInUart(node.captured(1), sysfs);
        uart.systemConsole = activeConsoles().contains(node.captured(1));
        return uart;
    }
#else
    Q_UNUSED(device);
    Q_UNUSED(sysfs);
#endif
    return std::nullopt;
}

PortInventory machinePortsWhenChanged() {
    struct Seen {
        QByteArray devices;
        QList<PortInfo> ports;
    };
    auto seen = std::make_shared<Seen>();
    return [seen] {
        QByteArray devices = serialDevicesNow();
        if (devices.isEmpty() || devices != seen->devices) {
            seen->ports = machinePorts();
            seen->devices = std::move(devices);
        }
        return seen->ports;
    };
}

QByteArray serialDevicesNow(const QString& sysfs, const QString& udevData) {
    QByteArray devices;
#ifdef Q_OS_LINUX
    const QDir ttys(QDir(sysfs).filePath(QStringLiteral("class/tty")));
    for (const QString& name :
         ttys.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString folder = ttys.filePath(name);
        const QString hardware = QFileInfo(folder + QStringLiteral("/device")).symLinkTarget();
        if (hardware.isEmpty()) {
            continue; // a virtual terminal, the console's alias, a pseudo-terminal master
        }
        const QByteArray node = sysfsAttribute(folder, "dev");
        const QFileInfo record(
            QDir(udevData).filePath(QStringLiteral("c") + QString::fromLatin1(node)));
        devices += name.toUtf8() + '>' + hardware.toUtf8() + ' ' + node + ' ' +
                   (record.exists() ? QByteArray::number(record.lastModified().toMSecsSinceEpoch())
                                    : QByteArray("-")) +
                   '\n';
    }
    if (devices.isEmpty()) {
        devices = "none"; // told apart from a system that does not say
    }
#else
    Q_UNUSED(sysfs);
    Q_UNUSED(udevData);
#endif
    return devices;
}

#ifdef Q_OS_WIN

namespace {

// The registry's map of the serial drivers' device names to their COM names.
QList<ListedComPort> serialCommMap() {
    QList<ListedComPort> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[64];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                            reinterpret_cast<BYTE*>(data), &dataBytes) != ERROR_SUCCESS) {
            break;
        }
        if (type != REG_SZ) {
            continue;
        }
        QString portName = QString::fromWCharArray(data, int(dataBytes / sizeof(wchar_t)));
        portName.remove(QChar(0));
        ports.append({portName.trimmed(), QString::fromWCharArray(name, int(nameLength))});
    }
    ::RegCloseKey(key);
    return ports;
}

// The name a port's driver gave it ("COM7"), from the device's own registry key; empty for a
// device that is no port.
QString portNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key =
        ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    wchar_t portName[64] = {};
    DWORD portBytes = sizeof portName - sizeof(wchar_t);
    DWORD type = 0;
    const bool named =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName),
                           &portBytes) == ERROR_SUCCESS &&
        type == REG_SZ;
    ::RegCloseKey(key);
    return named ? QString::fromWCharArray(portName) : QString();
}

// Device Manager's names of the present devices of the Ports class.
QList<ListedComPort> friendlyPortNames() {
    // GUID_DEVCLASS_PORTS
    static const GUID portsClass = {
        0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    QList<ListedComPort> ports;
    const HDEVINFO devices = ::SetupDiGetClassDevsW(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return ports;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const QString portName = portNameOf(devices, device);
        wchar_t friendly[256] = {};
        if (portName.isEmpty() ||
            (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                  reinterpret_cast<BYTE*>(friendly),
                                                  sizeof friendly - sizeof(wchar_t), nullptr) &&
             !::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_DEVICEDESC, nullptr,
                                                  reinterpret_cast<BYTE*>(friendly),
                                                  sizeof friendly - sizeof(wchar_t), nullptr))) {
            continue;
        }
        ports.append({portName, QString::fromWCharArray(friendly)});
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

} // namespace

QList<PortInfo> machinePorts() {
    return windowsComPorts(serialCommMap(), friendlyPortNames());
}

QString comPortOfInterface(const QString& interfaceName) {
    const HDEVINFO devices = ::SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (devices == INVALID_HANDLE_VALUE) {
        return {};
    }
    QString port;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    DWORD size = 0;
    if (::SetupDiOpenDeviceInterfaceW(
            devices, reinterpret_cast<const wchar_t*>(interfaceName.utf16()), 0, &interfaceData)) {
        (void)::SetupDiGetDeviceInterfaceDetailW(devices, &interfaceData, nullptr, 0, &size,
                                                 nullptr);
    }
    if (size >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        std::vector<char> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (::SetupDiGetDeviceInterfaceDetailW(devices, &interfaceData, detail, size, nullptr,
                                               &device)) {
            port = portNameOf(devices, device).toUpper();
        }
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return port.startsWith(QLatin1String("COM")) ? port : QString();
}

#else

QString comPortOfInterface(const QString&) {
    return {}; // device interfaces are Windows'
}

QList<PortInfo> machinePorts() {
    QList<PortInfo> ports;
#ifdef Q_OS_LINUX
    ports = builtInUarts();
#endif
    for (const QSerialPortInfo& found : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_LINUX
        if (found.portName().startsWith(QLatin1String("ttyS"))) {
            continue; // known better from the kernel
        }
#endif
        PortInfo port;
        port.device = found.systemLocation();
        port.description = found.description();
        port.serialNumber = found.serialNumber();
        if (found.hasVendorIdentifier() && found.hasProductIdentifier()) {
            port.vendorId = hex4(found.vendorIdentifier());
            port.productId = hex4(found.productIdentifier());
        }
#ifdef Q_OS_LINUX
        addUsbPlace(port, found.portName());
        // A UART of the board (ttyAMA0, ttymxc0) is built in like ttyS0; an adapter is USB.
        port.builtIn = !port.isUsb() && !found.portName().startsWith(QLatin1String("rfcomm"));
#endif
        ports << port;
    }
#ifdef Q_OS_LINUX
    // The console may run on any UART, whatever its name.
    const QStringList consoles = activeConsoles();
    for (PortInfo& port : ports) {
        port.systemConsole = consoles.contains(port.device.section(u'/', -1));
    }
#endif
    return ports;
}

#endif

} // namespace serial
