#include "connectionstatus.h"

namespace serial {

StatusDisplay statusDisplay(bool portOpen, int commPort, const QString& settings) {
    StatusDisplay display;
    display.connection = portOpen ? QStringLiteral("Connected") : QStringLiteral("Disconnected");
    display.connectCaption = portOpen ? QStringLiteral("Dis&connect") : QStringLiteral("&Connect");
    display.sendEnabled = portOpen;
    display.port = QStringLiteral("COM%1").arg(commPort);
    display.settings = settings;
    return display;
}

QString portNotAvailablePrompt(int commPort, const QString& description) {
    return QStringLiteral("Com%1 is not available.\r\n").arg(commPort) + description;
}

} // namespace serial
