#include "frmmain.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zel_Connect"));
    QApplication::setApplicationVersion(QStringLiteral(ZEL_VERSION));

    frmMain window(zelConnectVariant());
    window.show();
    return QApplication::exec();
}
