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
    bool builtIn = false;       ///< a built-in UART's node (/dev/ttyS*)
    bool hardware = true;       ///< false: a built-in node with no UART behind it
    bool systemConsole = false; ///< the kernel's console runs on it

    friend bool operator==(const PortInfo&, const PortInfo&) = default;
};

/// Every serial device node of the machine, as the system lists them now. A seam: tests
/// hand in a list, so that no test opens a real port.
using PortInventory = std::function<QList<PortInfo>()>;

/// The machine's own list (Qt Serial Port, and on Linux the kernel's word on built-in UARTs).
QList<PortInfo> machinePorts();

/// What the kernel says of a built-in UART's node (/dev/ttyS3) without opening it; nothing
/// for other devices and where the system cannot tell.
std::optional<PortInfo> builtInUartAt(const QString& device);

/// Reads one environment variable; empty when it is not set.
using EnvironmentLookup = std::function<QString(const char* name)>;

/// This process's environment.
QString processEnvironment(const char* name);

/// The ports that Com 1, Com 2, ... stand for when no variable names one: built-in UARTs
/// with hardware behind them first, by number (not the one the system console runs on),
/// then adapters and other ports by name (ttyACM0, ttyUSB0, ttyUSB1, ttyUSB10).
QList<PortInfo> comPortOrder(QList<PortInfo> present);

/// The device behind port number n (1 to 4) and how it was found.
struct PortChoice {
    enum class Source { Variable, Found, Fallback };
    QString device;
    Source source = Source::Fallback;
    /// What the inventory knows of the device (also when a variable named it).
    std::optional<PortInfo> info;
};

/// Windows: "COMn". Elsewhere, in this order: the device the variable ZEL_COM<n> names;
/// else the n-th port of comPortOrder(); else /dev/ttyS<n-1>, so that an error names a path.
/// The inventory is asked only when the variable is not set: what a user names is used as
/// it stands.
PortChoice choosePort(int port, const EnvironmentLookup& environment,
                      const PortInventory& inventory);

/// "Com1", the way the menu and the boxes name a port.
QString comName(int port);

/// What a user reads about port n: the device and what the system says of it, e.g.
/// "/dev/ttyUSB0: FT232R USB UART; serial A50285BI", or why there is nothing to find.
QString portSummary(int port, const PortChoice& choice);

} // namespace serial
