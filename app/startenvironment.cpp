#include "startenvironment.h"

#include "frmmain.h"

#include <QTimer>

void connectAtStartIfAsked(frmMain& window) {
    if (qEnvironmentVariableIntValue("ZEL_CONNECT_AT_START") == 1) {
        QTimer::singleShot(0, &window, &frmMain::mnuConnect_Click);
    }
}
