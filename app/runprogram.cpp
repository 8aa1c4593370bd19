#include "runprogram.h"

#include "frmmain.h"
#include "startenvironment.h"
#include "terminationsignals.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int runProgram(int argc, char* argv[], const ProgramAbout& about, const WindowFactory& makeWindow) {
    if (const std::optional<int> exitCode = runCommandLine(argc, argv, about)) {
        return *exitCode;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(about.name);

    // A signal takes the path of closing the window: the port closes as the user's close
    // does it, queued bytes go out first, and the program ends with 0.
    const TerminationSignals ending;
    const std::unique_ptr<frmMain> window = makeWindow();
    QObject::connect(&ending, &TerminationSignals::received, window.get(),
                     &frmMain::closeOnRequest);
    window->show();
    connectAtStartIfAsked(*window);
    const int exitCode = QApplication::exec();
    if (window->leavesWorkBehind()) {
        // Its thread may come back at any time: nothing is torn down under it.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
