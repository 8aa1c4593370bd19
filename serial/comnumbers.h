#pragma once

#include "deviceidentity.h"

#include <QString>

#include <array>
#include <optional>

namespace serial {

/// The device a Com number belongs to, remembered per user across sessions, as on Windows:
/// a device keeps the number it got when first seen.
struct ComAssignment {
    DeviceIdentity identity;
    QString description; ///< what the system called it
    qint64 lastSeen = 0; ///< seconds since the epoch
    friend bool operator==(const ComAssignment&, const ComAssignment&) = default;
};
using ComAssignments = std::array<std::optional<ComAssignment>, 4>; ///< Com 1 to Com 4

/// The ports that can hold a Com number: not a built-in node without a UART, not the one the
/// system console runs on, not a pseudo-terminal.
bool canHaveComNumber(const PortInfo& port);

/// Numbers for the devices present. A device that has a number keeps it; a new one gets the
/// lowest free number, built-in UARTs before adapters (so that they keep the lowest ones);
/// when all four are taken, the number of the device unseen for longest.
ComAssignments assignComNumbers(ComAssignments remembered, const QList<PortInfo>& present,
                                qint64 now);

/// The file the numbers are remembered in for this user (a QSettings file in the user's
/// configuration folder, shared by both programs).
QString defaultComNumbersFile();
ComAssignments loadComNumbers(const QString& file);
void saveComNumbers(const QString& file, const ComAssignments& numbers);
/// Gives the present devices their numbers and remembers what changed.
ComAssignments rememberComNumbers(const QString& file, const QList<PortInfo>& present);

} // namespace serial
