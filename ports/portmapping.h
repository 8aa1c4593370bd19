#pragma once

#include "comnumbers.h"
#include "portinfo.h"

#include <QString>

#include <functional>
#include <optional>

namespace serial {

/// Reads one environment variable; empty when it is not set.
using EnvironmentLookup = std::function<QString(const char* name)>;

/// This process's environment.
QString processEnvironment(const char* name);

/// The device behind port number n (1 to 255) and how it was found.
struct PortChoice {
    enum class Source {
        Variable, ///< ZEL_COM<n> names it
        Numbered, ///< the device that holds the number is present
        Absent,   ///< the device that holds the number is not plugged in
        Fallback, ///< nothing holds the number: /dev/ttyS<n-1>, which the system does not list
        None,     ///< nothing holds the number and nothing can stand in
    };
    QString device; ///< empty for Absent and None
    Source source = Source::Fallback;
    /// What the inventory knows of the device (also when a variable named it).
    std::optional<PortInfo> info;
    /// Absent: the device the number belongs to.
    std::optional<ComAssignment> owner;
    /// None: why /dev/ttyS<n-1> cannot stand in.
    QString noFallback;
    /// Variable: the named path does not exist (filled in by whoever can look).
    bool missing = false;
};

/// Windows: "COMn". Elsewhere, in this order: the device the variable ZEL_COM<n> names; else
/// the device that holds number n; else /dev/ttyS<n-1>, so that an error names a path,
/// unless another number has it or it cannot be a serial port.
PortChoice choosePort(int port, const EnvironmentLookup& environment,
                      const QList<PortInfo>& present, const ComAssignments& numbers);

/// choosePort() for this process and the ports present now: the Com numbers the devices
/// hold brought up to date, and whether a named path exists.
PortChoice lookUpPort(int port, const QList<PortInfo>& present, const QString& numbersFile);

/// A port present on this machine and the number it answers to.
struct NumberedPort {
    int number = 0;
    PortInfo info;
    friend bool operator==(const NumberedPort&, const NumberedPort&) = default;
};

/// The ports present by number, in ascending order: on Windows each COMn the system lists;
/// elsewhere each device named by ZEL_COM<n> or holding number n and plugged in.
QList<NumberedPort> numberedPorts(const EnvironmentLookup& environment,
                                  const QList<PortInfo>& present, const ComAssignments& numbers);

/// The numbers the Port menu lists below Com 1 to Com 4: each further port present, and the
/// chosen one also while it is not.
QList<int> furtherMenuPorts(const QList<NumberedPort>& ports, int chosen);

/// For a box that says the chosen port is not there: the ports that are, "This computer's
/// serial ports: COM7 (USB Serial Port)."; empty when there are none.
QString otherPortsText(const QList<NumberedPort>& ports, int chosen);

/// The ports present and the numbers they hold, looked up once: what the Port menu, the box
/// that says a port is not there and --ports show at one moment, without asking the system
/// again for every port they name.
struct PortsNow {
    QList<PortInfo> present;
    ComAssignments numbers;

    /// lookUpPort() of this moment.
    PortChoice choice(int port) const;
    /// numberedPorts() for this process and the ports present at this moment.
    QList<NumberedPort> numbered() const;
};
PortsNow lookUpPorts(QList<PortInfo> present, const QString& numbersFile);

/// "Com1", the way the menu and the boxes name a port.
QString comName(int port);

/// What a user reads about port n: the device and what the system says of it, e.g.
/// "/dev/ttyUSB0: FT232R USB UART; serial A50285BI", or why there is nothing to find.
QString portSummary(int port, const PortChoice& choice);
/// The Port menu's item of a further port, as Windows tools name ports: "Com 7 — USB Serial
/// Port", the device's name where the system gives one, else its node.
QString furtherPortCaption(int port, const PortChoice& choice);

} // namespace serial
