#include "connectionstatus.h"

namespace serial {

StatusDisplay statusDisplay(bool portOpen, bool waitingForDevice, int commPort,
                            const QString& settings) {
    StatusDisplay display;
    display.connection = portOpen ? QStringLiteral("Connected") : QStringLiteral("Disconnected");
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
    if (!choice.info || !choice.info->builtIn) {
        return std::nullopt;
    }
    if (!choice.info->hardware) {
        return noHardwareDescription(choice.device);
    }
    if (choice.info->systemConsole && choice.source != PortChoice::Source::Variable) {
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

QString permissionDescription(const QString& device, const QString& group) {
    if (group.isEmpty()) {
        return QStringLiteral("%1: permission denied. Ask the administrator for access to it.")
            .arg(device);
    }
    return QStringLiteral("%1: permission denied. The device belongs to the group \"%2\"; join "
                          "it with\n    sudo usermod -aG %2 $USER\nthen log out and in again.")
        .arg(device, group);
}

QString inUseDescription(const QString& device) {
    return QStringLiteral("%1 is in use by another program. Close that program, or choose "
                          "another port.")
        .arg(device);
}

QString waitingForDeviceText(const QString& device, const QString& reason) {
    return QStringLiteral("%1 went away (%2). Waiting for it to come back: the port opens "
                          "again by itself. Choose Disconnect to stop waiting.")
        .arg(device, reason);
}

} // namespace serial
