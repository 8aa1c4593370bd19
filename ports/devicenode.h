#pragma once

#include <QString>

#include <optional>

namespace serial {

/// What the file system says of a device node: enough to tell a user why it cannot be opened.
struct DeviceNode {
    enum class Kind { Missing, CharacterDevice, RegularFile, Directory, Other };
    Kind kind = Kind::Missing;
    QString owner; ///< user name, or the number where it has none
    QString group; ///< group name, or the number
    bool rootGroup = false;
    unsigned permissions = 0; ///< the mode's permission bits, 0660
};

/// The node at path (following links). On systems without device nodes, a character device.
DeviceNode inspectNode(const QString& path);

/// Whether the device is there: its node, or on Windows its COM name.
bool deviceExists(const QString& device);

/// A lock file that keeps programs, Qt Serial Port's among them, from opening the device: the
/// UUCP convention of LCK..<name> in the lock folder, with the process that holds it.
struct PortLock {
    QString file;   ///< "/run/lock/LCK..ttyUSB0"
    QString owner;  ///< who owns the file
    qint64 pid = 0; ///< 0 where the file does not say
    bool running = false;
    QString program; ///< the running process's name, where the system tells
};

/// The lock file of device, if there is one.
std::optional<PortLock> portLock(const QString& device);

} // namespace serial
