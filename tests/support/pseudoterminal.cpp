#include "pseudoterminal.h"

#include <QElapsedTimer>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal() {
    char name[256] = {};
    if (::openpty(&m_device, &m_programEnd, name, nullptr, nullptr) != 0) {
        m_device = m_programEnd = -1;
        return;
    }
    // Raw on the device side too: bytes pass unchanged in both directions.
    termios raw{};
    ::tcgetattr(m_programEnd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_programEnd, TCSANOW, &raw);
    ::fcntl(m_device, F_SETFL, ::fcntl(m_device, F_GETFL) | O_NONBLOCK);
    // Programs the test starts must not hold the device end: its close is the unplug.
    ::fcntl(m_device, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_programEnd, F_SETFD, FD_CLOEXEC);
    m_path = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal() {
    // Either may be -1 (none opened, or given up at an unplug): that close fails harmlessly.
    ::close(m_device);
    ::close(m_programEnd);
}

bool PseudoTerminal::write(const QByteArray& bytes) {
    for (QByteArrayView rest(bytes); !rest.isEmpty();) {
        const ssize_t n = ::write(m_device, rest.data(), static_cast<size_t>(rest.size()));
        if (n < 0 && errno == EAGAIN) {
            pollfd waitFor{m_device, POLLOUT, 0};
            ::poll(&waitFor, 1, 1000);
        } else if (n <= 0) {
            return false;
        } else {
            rest = rest.sliced(n);
        }
    }
    return true;
}

qsizetype PseudoTerminal::writeSome(QByteArrayView bytes) {
    const ssize_t n = ::write(m_device, bytes.data(), static_cast<size_t>(bytes.size()));
    return n > 0 ? n : 0;
}

QByteArray PseudoTerminal::read(int timeoutMs) {
    QByteArray result;
    for (int wait = timeoutMs;; wait = 50) {
        pollfd readable{m_device, POLLIN, 0};
        if (::poll(&readable, 1, wait) <= 0 || !(readable.revents & POLLIN)) {
            return result;
        }
        char buffer[4096];
        const ssize_t n = ::read(m_device, buffer, sizeof buffer);
        if (n <= 0) {
            return result;
        }
        result.append(buffer, n);
    }
}

void PseudoTerminal::unplug() {
    // Close our own copy of the program's end first, so that the program holds the last one.
    if (m_programEnd >= 0) {
        ::close(m_programEnd);
        m_programEnd = -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        // Holds the device end until it is killed; only async-signal-safe calls here.
        for (;;) {
            ::pause();
        }
    }
    ::close(m_device);
    m_device = -1;
    if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
}

QByteArray PseudoTerminal::readUntilQuiet(int quietMs) {
    QByteArray all;
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < quietMs) {
        QTest::qWait(5);
        if (const QByteArray more = read(0); !more.isEmpty()) {
            all += more;
            quiet.restart();
        }
    }
    return all;
}

QByteArray readingLines(int count) {
    QByteArray lines;
    for (int i = 0; i < count; ++i) {
        lines += QStringLiteral("R=%1 G=%2 B=%3\r\n")
                     .arg(1000 + i % 9000)
                     .arg(2000 + i % 7000)
                     .arg(3000 + i % 5000)
                     .toLatin1();
    }
    return lines;
}
