#pragma once

#include "devicenode.h"
#include "portmapping.h"

#include <QString>

#include <optional>

namespace serial {

/// What the window shows of the connection: the three status panels, the caption of the
/// Connect command and whether the Send buttons can be pressed.
struct StatusDisplay {
    QString connection;     ///< panel 1
    QString port;           ///< panel 2
    QString settings;       ///< panel 3
    QString connectCaption; ///< the Connect command names what a click will do
    bool sendEnabled = false;
    /// Beside the panels, where it fits (panel 1 is narrow): what the user may do while the
    /// port waits; empty when there is nothing.
    QString notice;
};

/// waitingForDevice: the device went away (or the port chosen meanwhile has none yet) and the
/// port waits for it; the session goes on for the user, so the command offered is still
/// Disconnect, and panel 1 says "Waiting"; where a device of its kind appeared under another
/// name, the notice says so ("Waiting for Com7; a USB Serial Port appeared as COM8").
StatusDisplay statusDisplay(bool portOpen, bool waitingForDevice, int commPort,
                            const QString& settings, const QString& appearedElsewhere = {});

/// The prompt of the box that reports a port that cannot be opened:
/// "Com3 is not available." CR LF and the serial service's description.
QString portNotAvailablePrompt(int commPort, const QString& description);

/// Why port n may not be opened on the device chosen for it, before it is touched: a
/// built-in UART's node that the system says has no UART behind it (opening may even
/// succeed, and then nothing would ever arrive), or the system console; nothing when the
/// user named the device.
std::optional<QString> refusalBeforeOpening(int commPort, const PortChoice& choice);

/// Descriptions of a failed open that say what to do about it.
QString noHardwareDescription(const QString& device);
QString systemConsoleDescription(const QString& device, int commPort);
QString notSerialDeviceDescription(const QString& device, DeviceNode::Kind kind);
/// Advice to join the device's group only where that group may read and write it.
QString permissionDescription(const QString& device, const DeviceNode& node);
/// Another program has the device, or a lock file says so; a lock whose process has ended
/// is named with the command that removes it.
QString inUseDescription(const QString& device, const std::optional<PortLock>& lock);

/// What the program saw when the device went away.
QString deviceHungUpText();
QString deviceNodeGoneText(const QString& device);
QString readFailedText(const QString& reason);

/// The tooltip of the connection panel while the port waits for its device to come back:
/// what went away and why, what it waits for, and what keeps a match from being opened.
/// elsewhere: a device of its kind that appeared under another name (MSComm::AppearedElsewhere).
QString waitingForDeviceText(const QString& device, const QString& reason, const QString& awaited,
                             const QString& notYet, const QString& elsewhere = {});
/// The same while it waits for a port chosen meanwhile.
QString waitingForPortText(int commPort, const QString& reason);
/// A device that nothing tells apart went away: it is not waited for.
QString notReopenedText(const QString& device, const QString& reason);

} // namespace serial
