// The serial ports of this machine.
#include "portmapping.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSerialPortInfo>

namespace serial {

namespace {

#ifdef Q_OS_LINUX
QByteArray sysfsAttribute(const QString& tty, const char* name) {
    QFile file(QStringLiteral("/sys/class/tty/%1/%2").arg(tty, QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// /dev/ttyS* nodes exist whether or not a UART is behind them; the kernel tells which have
// one (a port type other than 0, "unknown") and which one carries the system console,
// without the port being opened.
PortInfo builtInUart(const QString& name) {
    PortInfo uart;
    uart.device = QStringLiteral("/dev/") + name;
    uart.builtIn = true;
    const QByteArray type = sysfsAttribute(name, "type");
    uart.hardware = !type.isEmpty() && type != "0";
    uart.systemConsole = sysfsAttribute(name, "console") == "Y";
    uart.description = QStringLiteral("built-in serial port");
    return uart;
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

} // namespace

std::optional<PortInfo> builtInUartAt(const QString& device) {
#ifdef Q_OS_LINUX
    static const QRegularExpression uartNode(QStringLiteral("^/dev/(ttyS\\d+)$"));
    if (const QRegularExpressionMatch node = uartNode.match(device); node.hasMatch()) {
        return builtInUart(node.captured(1));
    }
#else
    Q_UNUSED(device);
#endif
    return std::nullopt;
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
        ports << port;
    }
    return ports;
}

} // namespace serial
