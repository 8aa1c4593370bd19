#include "connectionstatus.h"

namespace serial {

StatusDisplay statusDisplay(bool portOpen, bool waitingForDevice, int commPort,
                            const QString& settings, const QString& appearedElsewhere) {
    StatusDisplay display;
    display.connection = portOpen           ? QStringLiteral("Connected")
                         : waitingForDevice ? QStringLiteral("Waiting")
                                            : QStringLiteral("Disconnected");
    if (waitingForDevice && !portOpen && !appearedElsewhere.isEmpty()) {
        display.notice =
            QStringLiteral("Waiting for Com%1; %2").arg(commPort).arg(appearedElsewhere);
    }
    display.connectCaption =
        portOpen || waitingForDevice ? QStringLiteral("Dis&connect") : QStringLiteral("&Connect");
    display.sendEnabled = portOpen;
    display.port = QStringLiteral("COM%1").arg(commPort);
    display.settings = settings;
    return display;
}

QString portNotAvailablePrompt(int commPort, const QString& description) {
    return QStringLiteral("Com%1 is not available.\r\n").arg(commPort) + description;
}

std::optional<QString> refusalBeforeOpening(int commPort, const PortChoice& choice) {
    // What the user named is tried: the open tells what is there.
    if (!choice.info || !choice.info->builtIn || choice.source == PortChoice::Source::Variable) {
        return std::nullopt;
    }
    if (!choice.info->hardware) {
        return noHardwareDescription(choice.device);
    }
    if (choice.info->systemConsole) {
        return systemConsoleDescription(choice.device, commPort);
    }
    return std::nullopt;
}

QString noHardwareDescription(const QString& device) {
    return QStringLiteral("%1: there is no serial hardware behind this device.").arg(device);
}

QString systemConsoleDescription(const QString& device, int commPort) {
    return QStringLiteral("%1 carries the system console, not a free serial port. To use it "
                          "anyway, name it in the environment variable ZEL_COM%2.")
        .arg(device)
        .arg(commPort);
}

QString notSerialDeviceDescription(const QString& device, DeviceNode::Kind kind) {
    const QString what = kind == DeviceNode::Kind::RegularFile ? QStringLiteral("a regular file")
                         : kind == DeviceNode::Kind::Directory ? QStringLiteral("a directory")
                                                               : QStringLiteral("no device");
    return QStringLiteral("%1 is not a serial device: it is %2.").arg(device, what);
}

namespace {

// As ls shows it: "crw-rw----".
QString modeText(unsigned permissions) {
    QString text = QStringLiteral("c");
    for (int shift = 6; shift >= 0; shift -= 3) {
        text += permissions >> shift & 4 ? u'r' : u'-';
        text += permissions >> shift & 2 ? u'w' : u'-';
        text += permissions >> shift & 1 ? u'x' : u'-';
    }
    return text;
}

} // namespace

QString permissionDescription(const QString& device, const DeviceNode& node) {
    QString text = QStringLiteral("%1: permission denied.").arg(device);
    if ((node.permissions & 060) == 060 && !node.rootGroup && !node.group.isEmpty()) {
        return text + QStringLiteral(" The device belongs to the group \"%1\", which may read "
                                     "and write it; join it with\n    sudo usermod -aG %1 "
                                     "$USER\nthen log out and in again.")
                          .arg(node.group);
    }
    const QString mode =
        QStringLiteral("%1 %2:%3").arg(modeText(node.permissions), node.owner, node.group);
    if ((node.permissions & 006) == 006) {
        return text + QStringLiteral(" Its mode (%1) lets everyone use it, but the system "
                                     "refuses: ask the administrator.")
                          .arg(mode);
    }
    text += QStringLiteral(" Only %1 may read and write it (%2).").arg(node.owner, mode);
    if (node.group == QLatin1String("tty") && (node.permissions & 020)) {
        text += QStringLiteral(" Its group tty may only write to it: it is a terminal line, "
                               "where a login may run.");
    }
    return text + QStringLiteral(" Ask the administrator for access to it.");
}

QString inUseDescription(const QString& device, const std::optional<PortLock>& lock) {
    if (lock && lock->pid > 0 && !lock->running) {
        return QStringLiteral("%1 is locked by the lock file %2, which a program that has "
                              "ended left behind (process %3 no longer runs). The file "
                              "belongs to %4; remove it with\n    sudo rm %2\nthen connect "
                              "again.")
            .arg(device, lock->file)
            .arg(lock->pid)
            .arg(lock->owner);
    }
    const QString holder =
        lock && lock->running
            ? QStringLiteral(" (%1, process %2)")
                  .arg(lock->program.isEmpty() ? QStringLiteral("?") : lock->program)
                  .arg(lock->pid)
            : QString();
    return QStringLiteral("%1 is in use by another program%2. Close that program, or choose "
                          "another port.")
        .arg(device, holder);
}

QString deviceHungUpText() {
    return QStringLiteral("the device hung up");
}

QString deviceNodeGoneText(const QString& device) {
    return QStringLiteral("its device node %1 is gone").arg(device);
}

QString readFailedText(const QString& reason) {
    return QStringLiteral("reading from it failed: %1").arg(reason);
}

namespace {

// The stop after a reason in parentheses, unless the reason ends a sentence itself (the
// system's messages do: "Broken pipe."); a second one would follow its own.
QString inParentheses(const QString& reason) {
    const bool ended = reason.endsWith(u'.') || reason.endsWith(u'!') || reason.endsWith(u'?');
    return u'(' + reason + (ended ? QStringLiteral(")") : QStringLiteral(")."));
}

} // namespace

QString waitingForDeviceText(const QString& device, const QString& reason, const QString& awaited,
                             const QString& notYet, const QString& elsewhere) {
    QString text = QStringLiteral("%1 went away %2 Waiting for %3 to come back: the port "
                                  "opens again by itself. Choose Disconnect to stop waiting.")
                       .arg(device, inParentheses(reason), awaited);
    if (!notYet.isEmpty()) {
        text += QStringLiteral("\n") + notYet;
    }
    if (!elsewhere.isEmpty()) {
        text += QStringLiteral("\nMeanwhile %1. It may be another device, so it is not opened "
                               "in its place: choose its port in the Port menu to use it.")
                    .arg(elsewhere);
    }
    return text;
}

QString waitingForPortText(int commPort, const QString& reason) {
    return QStringLiteral("Waiting for Com%1: %2\nThe port opens by itself once it can. Choose "
                          "Disconnect to stop waiting.")
        .arg(commPort)
        .arg(reason);
}

QString notReopenedText(const QString& device, const QString& reason) {
    return QStringLiteral("%1 went away %2 It is not opened again by itself: the number of a "
                          "pseudo-terminal goes to the next terminal opened. Name it through a "
                          "link to have it opened again when it comes back.")
        .arg(device, inParentheses(reason));
}

} // namespace serial
