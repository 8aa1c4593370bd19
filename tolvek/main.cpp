#include "frmmain.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvek"));

    frmMain window(zelConnectVariant());
    window.show();
    return QApplication::exec();
}
