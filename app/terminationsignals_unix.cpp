#include "terminationsignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// The self-pipe: a signal handler may do next to nothing, so it writes the signal's number
// here and the event loop reads it at the other end.
int g_pipe[2] = {-1, -1};
std::array<struct sigaction, kSignals.size()> g_former{};

extern "C" void writeToPipe(int signalNumber) {
    const int savedErrno = errno;
    const char number = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &number, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    Q_ASSERT(g_pipe[0] < 0);
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return; // the signals keep their default: the program ends as before
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        char numbers[16];
        ssize_t count = 0;
        while ((count = ::read(g_pipe[0], numbers, sizeof numbers)) > 0) {
            for (ssize_t i = 0; i < count; ++i) {
                emit received(numbers[i]);
            }
        }
    });

    // A pipe whose reader went away fails the write (EPIPE) instead of ending the program.
    ::signal(SIGPIPE, SIG_IGN);

    struct sigaction action {};
    action.sa_handler = writeToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the rest of the program need not expect EINTR
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], nullptr, &g_former[i]);
        if (g_former[i].sa_handler != SIG_IGN) {
            ::sigaction(kSignals[i], &action, nullptr);
        }
    }
}

TerminationSignals::~TerminationSignals() {
    if (g_pipe[0] < 0) {
        return;
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &g_former[i], nullptr);
    }
    m_notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}
