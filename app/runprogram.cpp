#include "runprogram.h"

#include "frmmain.h"
#include "startenvironment.h"

#include <QApplication>

int runProgram(int argc, char* argv[], const ProgramAbout& about, const WindowFactory& makeWindow) {
    if (const std::optional<int> exitCode = runCommandLine(argc, argv, about)) {
        return *exitCode;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(about.name);
    QApplication::setApplicationVersion(about.version);

    const std::unique_ptr<frmMain> window = makeWindow();
    window->show();
    connectAtStartIfAsked(*window);
    return QApplication::exec();
}
