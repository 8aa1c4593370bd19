// A program made as the real ones are (their main(), their window) that connects at once,
// sends a long text that the device end does not read yet, so that bytes stay queued in the
// program, and then opens Help, whose box waits for the user.
#include "frmmain.h"
#include "runprogram.h"

#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    qunsetenv("ZEL_CONNECT_AT_START"); // it connects by itself, once
    return runProgram(argc, argv, {"sending", "1", {}, false}, [] {
        auto window = std::make_unique<frmMain>(zelConnectVariant());
        QTimer::singleShot(0, window.get(), [window = window.get()] {
            window->mnuConnect_Click();
            window->send(QString(200000, u'x'));
            std::printf("queued %lld\n", qlonglong(window->serialControl().OutputPending()));
            std::fflush(stdout);
            window->mnuHelpSel_Click(0);
        });
        return window;
    });
}
