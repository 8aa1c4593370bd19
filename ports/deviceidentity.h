#pragma once

#include "portinfo.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace serial {

/// Where a path leads: its canonical path, empty when nothing is there. A seam for tests.
using PathResolver = std::function<QString(const QString& path)>;
QString canonicalPath(const QString& path);

/// True for a pseudo-terminal's node: its number is given again to the next terminal opened.
bool isPseudoTerminal(const QString& device);

/// What tells one serial device from another, so that the program opens only the device the
/// user means: after it went away, and for the Com number it keeps.
struct DeviceIdentity {
    enum class Kind {
        None, ///< nothing tells it apart: a pseudo-terminal named by its number
        Usb,  ///< vendor, product, interface, and the serial number or the USB location
        Path, ///< a built-in UART or another fixed device: its node
        Link, ///< a pseudo-terminal reached through a link the user named: the link
    };
    Kind kind = Kind::None;
    QString path; ///< Path, Link: what is opened; Usb: where it was last seen
    QString vendorId;
    QString productId;
    QString interfaceNumber;
    QString serialNumber;
    QString usbLocation;
    /// Usb: no other device present had the same serial number (and interface) when it was
    /// seen; clones that all report "0001" are told apart by where they are plugged in.
    bool serialTellsApart = false;

    friend bool operator==(const DeviceIdentity&, const DeviceIdentity&) = default;
};

/// The identity of device as the inventory lists it now. namedPath: the path a user named,
/// where it differs from device (a link).
DeviceIdentity identityOf(const PortInfo& device, const QList<PortInfo>& present,
                          const QString& namedPath = {});

/// The present device that identity names. Where several match equally (a shared serial
/// number), the one at the identity's USB location; where that does not decide, none, and
/// tied lists them.
struct DeviceSearch {
    std::optional<PortInfo> found;
    QList<PortInfo> tied;
};
DeviceSearch findDevice(const DeviceIdentity& identity, const QList<PortInfo>& present);

/// Where a device that went away can be opened again, if it is back: a node to open, or
/// nothing and, when something stands in its way, why not. listed: the system lists it as
/// present. On Windows a port known by its name is tried whether or not it is listed (its
/// open fails at once when it is absent, and not every driver lists its ports), but only a
/// listed one is back for the user: else another may have come in its place.
struct Reopening {
    QString device;
    QString notYet;
    bool listed = false;
};
Reopening whereToReopen(const DeviceIdentity& lost, const QList<PortInfo>& present,
                        const PathResolver& resolve);

/// A device of the same kind as lost (the same USB adapter model and interface; on Windows,
/// where an adapter's port is known by its name, the same device name) that was not present
/// at the loss and is now: "a USB Serial Port appeared as COM8". An adapter without a serial
/// number that comes back in another USB socket gets another name and is not opened in its
/// place (it could be another sensor), but the user may choose it. Empty when none has.
QString sameKindAppeared(const PortInfo& lost, const QList<PortInfo>& atLoss,
                         const QList<PortInfo>& present);

/// How a user reads an identity: "the USB adapter 0403:6001 with serial A50285BI".
QString describeIdentity(const DeviceIdentity& identity);

} // namespace serial
