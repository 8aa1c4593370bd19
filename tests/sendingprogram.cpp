// A program made as the real ones are (the same main, a window of the same kind) whose window
// connects at once and sends a long text that the device end does not read yet, so that bytes
// are still queued in the program; with ZEL_TEST_BOX set, a message box then waits for the user.
#include "frmmain.h"
#include "runprogram.h"

#include <QTimer>

#include <cstdio>

namespace {

class SendingWindow : public frmMain {
public:
    explicit SendingWindow(bool box) : frmMain(zelConnectVariant()) {
        QTimer::singleShot(0, this, [this, box] {
            mnuConnect_Click();
            QString text;
            for (int i = 0; i < 40000; ++i) {
                text += QString::number(i) + u'\n';
            }
            send(text);
            std::printf("queued %lld\n", static_cast<long long>(serialControl().OutputPending()));
            std::fflush(stdout);
            if (box) {
                MsgBox({QStringLiteral("Waiting"), QStringLiteral("Sending")});
            }
        });
    }
};

} // namespace

int main(int argc, char* argv[]) {
    const bool box = qEnvironmentVariableIsSet("ZEL_TEST_BOX");
    return runProgram(argc, argv, {QStringLiteral("sending"), QStringLiteral("1"), {}, false},
                      [box] { return std::make_unique<SendingWindow>(box); });
}
