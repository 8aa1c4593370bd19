#include "startenvironment.h"
#include "tolvekwindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvek"));
    QApplication::setApplicationVersion(QStringLiteral("0.00.0039"));

    TolvekWindow window;
    window.show();
    connectAtStartIfAsked(window);
    return QApplication::exec();
}
