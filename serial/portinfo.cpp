// The serial ports of this machine.
#include "portinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_WIN
#include <windows.h>
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

QString ttyFolder(const QString& name) {
    return QStringLiteral("/sys/class/tty/") + name;
}

QStringList activeConsoles() {
    QFile consoles(QStringLiteral("/proc/consoles"));
    return consoles.open(QIODevice::ReadOnly) ? consoleNames(consoles.readAll()) : QStringList();
}

// /dev/ttyS* nodes exist whether or not a UART is behind them; the kernel tells which have
// one (a port type other than 0, "unknown"), without the port being opened.
PortInfo builtInUart(const QString& name) {
    PortInfo uart;
    uart.device = QStringLiteral("/dev/") + name;
    uart.builtIn = true;
    const QByteArray type = sysfsAttribute(ttyFolder(name), "type");
    uart.hardware = !type.isEmpty() && type != "0";
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

std::optional<PortInfo> builtInUartAt(const QString& device) {
#ifdef Q_OS_LINUX
    static const QRegularExpression uartNode(QStringLiteral("^/dev/(ttyS\\d+)$"));
    if (const QRegularExpressionMatch node = uartNode.match(device); node.hasMatch()) {
        PortInfo uart = builtInUart(node.captured(1));
        uart.systemConsole = activeConsoles().contains(node.captured(1));
        return uart;
    }
#else
    Q_UNUSED(device);
#endif
    return std::nullopt;
}

#ifdef Q_OS_WIN

QList<PortInfo> machinePorts() {
    // The system's own list of COM ports: the driver's device name and the port name.
    QList<PortInfo> ports;
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
        PortInfo port;
        port.device = QString::fromWCharArray(data, int(dataBytes / sizeof(wchar_t))).trimmed();
        port.device.remove(QChar(0));
        port.description = QString::fromWCharArray(name, int(nameLength));
        ports << port;
    }
    ::RegCloseKey(key);
    return ports;
}

#else

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
