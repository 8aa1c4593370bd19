#include "runprogram.h"

#include "frmmain.h"
#include "startenvironment.h"
#include "terminationsignals.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Qt centres a window that nothing placed, so each copy of the program would open exactly on
// top of the one before. Where Windows puts a new window of its own, made and destroyed at
// once, is where it would put this one (it cascades them, or follows a shortcut's position).
void placeAsTheSystemWould([[maybe_unused]] QWidget& window) {
#ifdef Q_OS_WIN
    if (QGuiApplication::platformName() != QLatin1String("windows")) {
        return; // offscreen: no window of the system's to place
    }
    const HWND probe = ::CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                         nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!probe) {
        return;
    }
    RECT placed{};
    const bool known = ::GetWindowRect(probe, &placed) != 0;
    ::DestroyWindow(probe);
    if (known) { // winId() makes the system's window now rather than at show()
        ::SetWindowPos(reinterpret_cast<HWND>(window.winId()), nullptr, placed.left, placed.top, 0,
                       0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
#endif
}

} // namespace

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
    placeAsTheSystemWould(*window);
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
