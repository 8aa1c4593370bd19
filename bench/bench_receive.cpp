// 20 MB of realistic device output through the receive handler of a shown Zel_Connect
// window (offscreen) with everything on: display, capture, evaluation, plot and log. Events
// of 64, 1024 and 4096 bytes; the event loop runs at most every 16 ms, as a display would.
// Each size runs three times; the run with the median CPU time is reported.
// Usage: bench_receive [MiB, default 20] [event size]
#include "benchsupport.h"
#include "devicestream.h"
#include "sampleplot.h"
#include "zelconnectwindow.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double peakResidentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return 0;
}

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;
    double firstTwoMiB = 0; // seconds
    double lastTwoMiB = 0;
    std::size_t samples = 0;
    qint64 logBytes = 0;
};

Run feed(const QByteArray& stream, int eventSize) {
    QTemporaryDir dir;
    ZelConnectWindow window(dir.filePath("app.txt"));
    window.show();
    QApplication::processEvents();

    constexpr qsizetype kTwoMiB = 2 << 20;
    Run run;
    const bench::Stopwatch total;
    const double cpuStart = bench::cpuSeconds();
    bench::Stopwatch sinceEvents;
    double segmentStart = 0;
    for (qsizetype at = 0; at < stream.size(); at += eventSize) {
        if (at == kTwoMiB) {
            run.firstTwoMiB = total.seconds();
        }
        if (at == stream.size() - kTwoMiB) {
            segmentStart = total.seconds();
        }
        window.receive(stream.mid(at, eventSize));
        if (sinceEvents.seconds() > 0.016) {
            QApplication::processEvents();
            sinceEvents = {};
        }
    }
    QApplication::processEvents();
    run.seconds = total.seconds();
    run.cpuSeconds = bench::cpuSeconds() - cpuStart;
    run.lastTwoMiB = run.seconds - segmentStart;
    run.samples = window.samplePlot().model().strokeCount();
    run.logBytes = QFile(dir.filePath("app.txt")).size();
    return run;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qsizetype size = (argc > 1 ? std::atoi(argv[1]) : 20) * (1 << 20);
    const QByteArray stream = bench::deviceStream(size);
    constexpr double kLineRate = 25600; // bytes per second at 256000 baud

    std::printf("%-6s %8s %8s %12s %8s %10s %12s %12s %10s %8s\n", "event", "seconds", "cpu s",
                "bytes/s", "x line", "x by cpu", "first 2MiB", "last 2MiB", "last/first",
                "samples");
    QList<int> eventSizes = {64, 1024, 4096};
    if (argc > 2) {
        eventSizes = {std::atoi(argv[2])};
    }
    constexpr int kRepeats = 3; // the median of three, on a machine shared with others
    for (const int eventSize : eventSizes) {
        std::vector<Run> runs;
        for (int i = 0; i < kRepeats; ++i) {
            runs.push_back(feed(stream, eventSize));
        }
        std::sort(runs.begin(), runs.end(),
                  [](const Run& a, const Run& b) { return a.cpuSeconds < b.cpuSeconds; });
        const Run run = runs[kRepeats / 2];
        const double perByteFirst = run.firstTwoMiB / (2 << 20) * 1e9;
        const double perByteLast = run.lastTwoMiB / (2 << 20) * 1e9;
        std::printf("%-6d %8.2f %8.2f %12.0f %8.0f %10.0f %9.0f ns %9.0f ns %10.2f %8zu\n",
                    eventSize, run.seconds, run.cpuSeconds, size / run.seconds,
                    size / run.seconds / kLineRate, size / run.cpuSeconds / kLineRate, perByteFirst,
                    perByteLast, perByteLast / perByteFirst, run.samples);
        std::fflush(stdout);
    }
    std::printf("peak resident memory %.1f MiB\n", peakResidentMiB());
    return 0;
}
