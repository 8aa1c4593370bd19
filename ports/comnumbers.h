#pragma once

#include "deviceidentity.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace serial {

/// The device a Com number belongs to, remembered per user across sessions, as on Windows:
/// a device keeps the number it got when first seen.
struct ComAssignment {
    DeviceIdentity identity;
    QString description; ///< what the system called it
    qint64 lastSeen = 0; ///< seconds since the epoch; remembered to the day
    friend bool operator==(const ComAssignment&, const ComAssignment&) = default;
};
/// Com 1 to Com 4 are always offered, as designed; port numbers go up to COM255.
constexpr int kDesignedPorts = 4;
constexpr int kHighestPort = 255;

/// Index n - 1 holds Com n: Com 1 to Com 4 always, further numbers as they were given.
using ComAssignments = std::vector<std::optional<ComAssignment>>;

/// The ports that can hold a Com number: not a built-in node without a UART, not the one the
/// system console runs on, not a pseudo-terminal.
bool canHaveComNumber(const PortInfo& port);

/// Numbers for the devices present. A device that has a number keeps it; a new one gets the
/// lowest free number of Com 1 to Com 4, built-in UARTs before adapters (so that they keep
/// the lowest ones); when all four are taken, the number of the device unseen for longest;
/// only when four present devices hold them (a four-port card and an adapter), 5, 6, ...
ComAssignments assignComNumbers(ComAssignments remembered, const QList<PortInfo>& present,
                                qint64 now);

/// The file the numbers are remembered in for this user (a QSettings file in the user's
/// configuration folder, shared by both programs).
QString defaultComNumbersFile();
ComAssignments loadComNumbers(const QString& file);
void saveComNumbers(const QString& file, const ComAssignments& numbers);
/// Gives the present devices their numbers, as of now (seconds since the epoch), and
/// remembers what changed: the file is written only when a number is given or dropped (a
/// group that names no device, with a warning), or a present device's day last seen moves on.
ComAssignments rememberComNumbers(const QString& file, const QList<PortInfo>& present,
                                  qint64 now = QDateTime::currentSecsSinceEpoch());

} // namespace serial
