// zel-colorsim: a simulated color sensor on a pseudo-terminal, for trying the programs and
// for tests and benchmarks without hardware.
#include "sensorsamples.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void requestStop(int) {
    g_stop = 1;
}

struct Options {
    double rate = 4;     // reading lines per second
    long long baud = 0;  // when set: a continuous stream at this line speed (8N1)
    long long burst = 0; // bytes of readings sent first, as fast as they are taken
    double wait = 0;     // seconds of silence after the port opens, before the burst
    double garbage = 0;  // percent of lines followed by random bytes
    bool markersInGarbage = false;
    long long count = 0; // lines to send, 0 for no end
    double duration = 0; // seconds to run, 0 for no end
    quint32 seed = 1;
    QByteArray link; // a symbolic link to the device, for a stable name
};

void usage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: zel-colorsim [options]\n"
                 "Opens a pseudo-terminal, prints its device path and behaves as a color sensor\n"
                 "on it: reading lines such as R=3712 G=3590 B=3880 CR LF, cycling through white,\n"
                 "black, red, green, blue and grid samples with a little noise. Lines said while\n"
                 "no program has the port open are lost, as on a real line. Bytes it receives\n"
                 "are answered with a line 'echo' and their lower-case hex.\n\n"
                 "Options:\n"
                 "  --rate N        reading lines per second (default 4; 0 sends none)\n"
                 "  --baud N        instead a continuous stream as fast as N baud carries (8N1)\n"
                 "  --burst N       first N bytes of readings as fast as they are taken, to the\n"
                 "                  first program that opens the port; 'burst done' on standard\n"
                 "                  output when it is written, 'burst cut short: ...' if the\n"
                 "                  program closes the port first\n"
                 "  --wait S        S seconds of silence after the port opens, before the burst\n"
                 "  --garbage P     random bytes after P percent of the lines\n"
                 "  --markers       let the random bytes hold R, G and B too\n"
                 "  --count N       stop after N lines (heard or not)\n"
                 "  --duration S    stop after S seconds\n"
                 "  --seed N        random seed (default 1)\n"
                 "  --link PATH     also make PATH a symbolic link to the device\n"
                 "  -h, --help      print this text\n"
                 "  --version       print the version\n\n"
                 "Ends on SIGINT or SIGTERM and prints what it sent to standard error.\n");
}

// What the command line asks for: a run, the usage, or nothing that can be run.
enum class Asked { Run, Help, Version, Mistake };

Asked parse(int argc, char* argv[], Options& options) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray name = argv[i];
        const auto value = [&]() -> const char* {
            return i + 1 < argc ? argv[++i] : nullptr;
        };
        if (name == "--markers") {
            options.markersInGarbage = true;
            continue;
        }
        if (name == "--help" || name == "-h") {
            return Asked::Help;
        }
        if (name == "--version") {
            return Asked::Version;
        }
        const char* text = value();
        if (!text) {
            return Asked::Mistake;
        }
        if (name == "--rate") {
            options.rate = std::atof(text);
        } else if (name == "--baud") {
            options.baud = std::atoll(text);
        } else if (name == "--burst") {
            options.burst = std::atoll(text);
        } else if (name == "--wait") {
            options.wait = std::atof(text);
        } else if (name == "--garbage") {
            options.garbage = std::atof(text);
        } else if (name == "--count") {
            options.count = std::atoll(text);
        } else if (name == "--duration") {
            options.duration = std::atof(text);
        } else if (name == "--seed") {
            options.seed = static_cast<quint32>(std::strtoul(text, nullptr, 10));
        } else if (name == "--link") {
            options.link = text;
        } else {
            return Asked::Mistake;
        }
    }
    return Asked::Run;
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// The device end of the pseudo-terminal and what has gone through it.
class Device {
public:
    explicit Device(int master) : m_master(master) {}

    /// True while a program has the port open. A sensor talks whether anyone listens or not;
    /// what it says while the port is closed is lost, as on a real line.
    bool listened() const {
        pollfd state{m_master, POLLIN, 0};
        ::poll(&state, 1, 0);
        return !(state.revents & POLLHUP);
    }

    /// True once the port has been open for a moment: a program sets up the line right after
    /// opening it, and what came in between could be half a line. Starting on a line boundary
    /// after that makes every line the sensor counts as sent one the program can see whole.
    bool heard() {
        if (!listened()) {
            m_openSince.reset();
            return false;
        }
        if (!m_openSince) {
            m_openSince = Clock::now();
        }
        return secondsSince(*m_openSince) >= kSettleSeconds;
    }

    /// Writes all of it while the port stays open, waiting when the program reads slower
    /// than this writes. False when the port closed (or a stop was asked) first.
    bool write(const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            if (g_stop || !listened()) {
                return false;
            }
            const ssize_t n = ::write(m_master, bytes.constData() + done,
                                      static_cast<std::size_t>(bytes.size() - done));
            if (n > 0) {
                done += n;
                bytesSent += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                return false;
            }
            answer(); // read while waiting, so an echo can never block both sides
            pollfd writable{m_master, POLLOUT, 0};
            ::poll(&writable, 1, 100);
        }
        return true;
    }

    /// Answers whatever the program has written.
    void answer() {
        char buffer[512];
        for (;;) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0) {
                return; // nothing waiting, or nobody has the port open: both are fine
            }
            bytesReceived += n;
            m_pendingEcho += colorsim::echoLine(QByteArray(buffer, n));
        }
    }

    void sendEcho() {
        if (!m_pendingEcho.isEmpty()) {
            const QByteArray echo = std::exchange(m_pendingEcho, {});
            write(echo);
        }
    }

    long long bytesSent = 0;
    long long bytesReceived = 0;

private:
    static constexpr double kSettleSeconds = 0.1;

    int m_master;
    QByteArray m_pendingEcho;
    std::optional<Clock::time_point> m_openSince;
};

} // namespace

int main(int argc, char* argv[]) {
    Options options;
    const Asked asked = parse(argc, argv, options);
    if (asked == Asked::Version) {
        std::printf("zel-colorsim %s\n", ZEL_VERSION);
        return 0;
    }
    if (asked != Asked::Run) {
        // The usage asked for goes to standard output; after a mistake, to standard error.
        usage(asked == Asked::Help ? stdout : stderr);
        return asked == Asked::Help ? 0 : 2;
    }

    // Before the path is printed: whoever reads it may ask for the end at once.
    struct sigaction stop {};
    stop.sa_handler = requestStop;
    ::sigaction(SIGINT, &stop, nullptr);
    ::sigaction(SIGTERM, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int master = -1;
    int slave = -1;
    char path[256] = {};
    if (::openpty(&master, &slave, path, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "zel-colorsim: cannot open a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    // Raw, so that nothing is echoed or translated on the way. Then this end is closed: the
    // port is the program's to open and close, and the sensor can tell whether it is open.
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::close(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    if (!options.link.isEmpty()) {
        ::unlink(options.link.constData());
        if (::symlink(path, options.link.constData()) != 0) {
            std::fprintf(stderr, "zel-colorsim: cannot link %s: %s\n", options.link.constData(),
                         std::strerror(errno));
        }
    }
    std::printf("%s\n", path);
    std::fflush(stdout);

    Device device(master);
    colorsim::SampleCycle samples(options.seed);
    long long lines = 0;      // said, heard or not
    long long linesHeard = 0; // written whole while the port was open
    long long bytesSaid = 0;  // what the pace counts, heard or not
    const auto nextLine = [&]() {
        QByteArray bytes = colorsim::readingLine(samples.next().second);
        if (options.garbage > 0 && samples.random().bounded(100.0) < options.garbage) {
            bytes += samples.garbage(options.markersInGarbage);
        }
        ++lines;
        bytesSaid += bytes.size();
        return bytes;
    };
    const auto sendLine = [&]() {
        const QByteArray bytes = nextLine();
        if (device.heard() && device.write(bytes)) {
            ++linesHeard;
        }
    };
    // A burst goes out in blocks of whole lines, as a relay such as socat passes a stream on:
    // a write per line would make the sensor, not the program reading it, set the pace.
    const auto sendBlock = [&]() -> bool {
        constexpr qsizetype kBlock = 8192;
        QByteArray block;
        long long count = 0;
        while (block.size() < kBlock && device.bytesSent + block.size() < options.burst &&
               !(options.count > 0 && lines >= options.count)) {
            block += nextLine();
            ++count;
        }
        if (device.heard() && device.write(block)) {
            linesHeard += count;
            return true;
        }
        return false;
    };
    const auto finished = [&](Clock::time_point start) {
        return g_stop || (options.count > 0 && lines >= options.count) ||
               (options.duration > 0 && secondsSince(start) >= options.duration);
    };

    const Clock::time_point start = Clock::now();
    // The burst goes to the first program that opens the port.
    while (options.burst > 0 && !device.heard() && !finished(start)) {
        ::usleep(20000);
    }
    if (options.burst > 0 && options.wait > 0) {
        ::usleep(static_cast<useconds_t>(options.wait * 1e6));
    }
    bool burstCut = false;
    while (device.bytesSent < options.burst && !finished(start)) {
        // A program that closes the port in the middle of a burst ends it: the rest would
        // only be lost, and waiting for it would keep the sensor busy for nothing.
        if (!sendBlock()) {
            burstCut = !g_stop;
            break;
        }
        device.answer();
        device.sendEcho();
    }
    if (options.burst > 0) {
        std::printf(burstCut ? "burst cut short: the port was closed\n" : "burst done\n");
        std::fflush(stdout);
    }

    // The pace: a line at every step of the rate, or bytes as a line at that speed carries them.
    const long long burstBytes = bytesSaid;
    const Clock::time_point paced = Clock::now();
    const auto due = [&]() {
        if (options.baud > 0) {
            return double(bytesSaid - burstBytes) / (double(options.baud) / 10.0);
        }
        return options.rate > 0 ? double(lines) / options.rate : 1e300;
    };
    while (!finished(start)) {
        const double wait = due() - secondsSince(paced);
        if (wait > 0) {
            pollfd readable{master, POLLIN, 0};
            const int waitMs = static_cast<int>(std::min(wait, 0.2) * 1000) + 1;
            // With nobody on the other end the terminal reports a hang-up at once, however
            // long the poll was meant to wait: sleep until the next line is due instead.
            if (::poll(&readable, 1, waitMs) > 0 && (readable.revents & POLLHUP)) {
                ::usleep(static_cast<useconds_t>(waitMs) * 1000);
            }
            device.answer();
            device.sendEcho();
            continue;
        }
        sendLine();
        device.answer();
        device.sendEcho();
    }

    std::fprintf(stderr,
                 "zel-colorsim: sent %lld lines, %lld bytes; %lld lines while the port was "
                 "closed were lost; received %lld bytes\n",
                 linesHeard, device.bytesSent, lines - linesHeard, device.bytesReceived);
    if (!options.link.isEmpty()) {
        ::unlink(options.link.constData());
    }
    ::close(master);
    return 0;
}
