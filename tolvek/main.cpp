#include "commandline.h"
#include "startenvironment.h"
#include "tolvekwindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    const ProgramAbout about{
        QStringLiteral("Tolvek"), QStringLiteral("0.00.0039"),
        QStringLiteral(
            "The basic serial-line program for a color-sensing device: connect to it,\n"
            "send a text line or hex bytes, read its answers; the mean or the deviation\n"
            "sum of the readings R, G and B is shown after every received character."),
        false};
    if (const std::optional<int> exitCode = runCommandLine(argc, argv, about)) {
        return *exitCode;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(about.name);
    QApplication::setApplicationVersion(about.version);

    TolvekWindow window;
    window.show();
    connectAtStartIfAsked(window);
    return QApplication::exec();
}
