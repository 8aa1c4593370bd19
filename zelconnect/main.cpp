#include "startenvironment.h"
#include "zelconnectwindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zel_Connect"));
    QApplication::setApplicationVersion(QStringLiteral(ZEL_VERSION));

    ZelConnectWindow window;
    window.show();
    connectAtStartIfAsked(window);
    return QApplication::exec();
}
