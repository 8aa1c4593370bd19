#include "commandline.h"
#include "startenvironment.h"
#include "zelconnectwindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    const ProgramAbout about{
        QStringLiteral("Zel_Connect"), QStringLiteral(ZEL_VERSION),
        QStringLiteral(
            "A serial-line tool for a color-sensing device on an RS-232 port: connect to\n"
            "it, send a text line or hex bytes, read its answers; readings marked R, G\n"
            "and B are evaluated, named as a color, plotted and logged."),
        true};
    if (const std::optional<int> exitCode = runCommandLine(argc, argv, about)) {
        return *exitCode;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(about.name);
    QApplication::setApplicationVersion(about.version);

    ZelConnectWindow window;
    window.show();
    connectAtStartIfAsked(window);
    return QApplication::exec();
}
