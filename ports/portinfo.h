#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace serial {

/// A serial device node present on the machine.
struct PortInfo {
    QString device;             ///< "/dev/ttyUSB0"
    QString description;        ///< "FT232R USB UART", where the system knows one
    QString serialNumber;       ///< the adapter's own, where it reports one
    bool builtIn = false;       ///< a built-in UART (ttyS*, ttyAMA*, ...), not an adapter
    bool hardware = true;       ///< false: the system says no UART is behind this built-in node
    bool systemConsole = false; ///< the kernel's console runs on it
    // What tells USB adapters apart; empty for other devices.
    QString vendorId;        ///< "0403"
    QString productId;       ///< "6001"
    QString interfaceNumber; ///< "00": which port of a dual or quad adapter
    QString usbLocation;     ///< "1-1.4": the bus and the chain of hub ports it is plugged into

    bool isUsb() const { return !vendorId.isEmpty(); }

    friend bool operator==(const PortInfo&, const PortInfo&) = default;
};

/// Every serial device node of the machine, as the system lists them now. A seam: tests
/// hand in a list, so that no test opens a real port.
using PortInventory = std::function<QList<PortInfo>()>;

/// The machine's own list (Qt Serial Port, and on Linux what the kernel says of each port).
QList<PortInfo> machinePorts();

/// machinePorts(), read again only when the machine's serial devices changed since the last
/// call of this inventory: on Linux the list costs thousands of file reads (udev reads every
/// tty), the look whether anything changed a few dozen. Each inventory keeps its own list.
PortInventory machinePortsWhenChanged();

/// What changes when a serial device comes, goes or is made known by udev: each tty with
/// hardware behind it, where that hardware sits, and udev's record of it. Empty where the
/// system does not say (the list is then read every time). sysfs, udevData: seams for tests.
QByteArray serialDevicesNow(const QString& sysfs = QStringLiteral("/sys"),
                            const QString& udevData = QStringLiteral("/run/udev/data"));

/// A COM port as one of Windows' lists names it: SetupAPI's Ports class ("COM7", "USB Serial
/// Port (COM7)", as Device Manager shows it) or the registry's SERIALCOMM map ("COM7",
/// "\Device\VCP0", the kernel's name).
struct ListedComPort {
    QString portName;
    QString name;
};

/// Windows: the COM name ("COM7") of the device behind a device interface
/// ("\\?\USB#VID_0403&PID_6001#..."), as a device notice names it; empty when it is no port,
/// is already gone, or elsewhere.
QString comPortOfInterface(const QString& interfaceName);

/// Windows' COM ports in the order of their numbers, each named as Device Manager names it,
/// or where SetupAPI has no name for it (as under Wine) by the kernel's.
QList<PortInfo> windowsComPorts(const QList<ListedComPort>& deviceMap,
                                const QList<ListedComPort>& friendlyNames);

/// What the kernel says of a built-in UART's node (/dev/ttyS3) without opening it; nothing
/// for other devices. sysfs: where /sys is mounted.
std::optional<PortInfo> builtInUartAt(const QString& device,
                                      const QString& sysfs = QStringLiteral("/sys"));

/// The names of the ttys the kernel's console runs on ("ttyS0", "ttyAMA0"), from the text of
/// /proc/consoles.
QStringList consoleNames(const QByteArray& procConsoles);

} // namespace serial
