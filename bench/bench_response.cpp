// The response field fed at a serial line's rate with four streams: reading lines (text),
// NUL bytes (a line at the wrong speed, a break), the C1 bytes 0x80 to 0x9F, and reading lines
// with random bytes between them (mix). The same steps as the window: a read every 10 ms cut
// into lines and appended, a frame every kBusyFrameMs (refresh, then a real paint under the
// offscreen platform). Reports the CPU time per second of stream (the share of a core the
// field takes) and per frame, medians of several runs, and each stream against text.
// Usage: bench_response [seconds of stream, default 10] [baud, default 115200] [runs, default 5]
// With a screen reader listening (bench/screenreader-load runs it so):
//   tests/a11y-session bench/screenreader-load build/bench/bench_response 10 256000
// For instruction counts, one run of one stream, counted only while it is fed:
//   valgrind --tool=callgrind --collect-atstart=no bench_response --once nul [seconds] [baud]
#include "benchsupport.h"
#include "frmmain.h"
#include "responsetext.h"
#include "responseview.h"
#include "windowcontrols.h"

#include <QAccessible>
#include <QApplication>
#include <QRandomGenerator>

#include <cstdio>
#include <map>
#include <string>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

namespace {

constexpr int kReadMs = 10; // how often a busy port hands over what came

QByteArray readingLines(qsizetype size, QRandomGenerator& random, int noise) {
    QByteArray stream;
    while (stream.size() < size) {
        char line[24];
        stream.append(line, std::snprintf(line, sizeof line, "R=%04d G=%04d B=%04d",
                                          3700 + random.bounded(20), 3580 + random.bounded(20),
                                          3870 + random.bounded(20)));
        for (int i = 0; i < noise; ++i) {
            stream += char(random.bounded(256));
        }
        stream += "\r\n";
    }
    stream.truncate(size);
    return stream;
}

QByteArray makeStream(const std::string& kind, qsizetype size) {
    QRandomGenerator random(1);
    if (kind == "nul") {
        return QByteArray(size, '\0');
    }
    if (kind == "c1") {
        QByteArray stream(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i) {
            stream[i] = char(0x80 + i % 32);
        }
        return stream;
    }
    return readingLines(size, random, kind == "mix" ? 12 : 0);
}

struct Run {
    double cpuPerSecond = 0; // CPU seconds per second of stream
    double frameMs = 0;      // median CPU time of a frame
    double worstFrameMs = 0;
    int frames = 0;
    int paints = 0;
};

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

Run feed(const QByteArray& stream, double bytesPerSecond) {
    ResponseView view;
    view.setFont(designFont(QStringLiteral("MS Sans Serif"), 8)); // as in the window
    view.resize(377, 163);                                        // the window's field
    view.show();
    QApplication::processEvents();
    PaintCounter counter;
    view.viewport()->installEventFilter(&counter);

    terminal::ResponseText lines;
    const qsizetype perRead = std::max<qsizetype>(1, qsizetype(bytesPerSecond * kReadMs / 1000));
    constexpr int kReadsPerFrame = frmMain::kBusyFrameMs / kReadMs;
    std::vector<double> frames;
    const double start = bench::cpuSeconds();
    CALLGRIND_TOGGLE_COLLECT;
    for (qsizetype at = 0, read = 1; at < stream.size(); at += perRead, ++read) {
        view.append(QByteArrayView(
            lines.lines(QByteArrayView(stream).sliced(at, std::min(perRead, stream.size() - at)))));
        view.caretToEnd();
        if (read % kReadsPerFrame == 0) {
            const double frameStart = bench::cpuSeconds();
            view.refresh();
            QApplication::processEvents();
            frames.push_back((bench::cpuSeconds() - frameStart) * 1000);
        }
    }
    CALLGRIND_TOGGLE_COLLECT;
    Run run;
    run.cpuPerSecond = (bench::cpuSeconds() - start) / (double(stream.size()) / bytesPerSecond);
    run.frameMs = bench::median(frames);
    run.worstFrameMs = frames.empty() ? 0 : *std::max_element(frames.begin(), frames.end());
    run.frames = int(frames.size());
    run.paints = counter.paints;
    return run;
}

} // namespace

int main(int argc, char* argv[]) {
    // Headless unless told otherwise: under tests/a11y-session it runs beside a screen
    // reader's bus, and what the field tells it is part of the cost.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);

    const QStringList args = app.arguments().mid(1);
    const bool once = args.value(0) == QLatin1String("--once");
    const QStringList numbers = args.mid(once ? 2 : 0);
    const double seconds = numbers.value(0, QStringLiteral("10")).toDouble();
    const double bytesPerSecond = numbers.value(1, QStringLiteral("115200")).toDouble() / 10;
    const int runs = once ? 1 : numbers.value(2, QStringLiteral("5")).toInt();
    const auto size = qsizetype(seconds * bytesPerSecond);

    std::vector<std::string> kinds = {"text", "nul", "c1", "mix"};
    if (once) {
        kinds = {args.value(1).toStdString()};
    }
    std::printf("%.0f s of stream at %.0f bytes/s, a frame every %d ms, median of %d runs\n",
                seconds, bytesPerSecond, frmMain::kBusyFrameMs, runs);
    std::printf("%-6s %12s %12s %12s %8s %8s\n", "stream", "cpu % core", "frame ms", "worst ms",
                "x text", "painted");
    std::map<std::string, double> cost;
    for (const std::string& kind : kinds) {
        const QByteArray stream = makeStream(kind, size);
        std::vector<double> cpu;
        std::vector<double> frame;
        std::vector<double> worst;
        Run last;
        for (int i = 0; i < runs; ++i) {
            last = feed(stream, bytesPerSecond);
            cpu.push_back(last.cpuPerSecond);
            frame.push_back(last.frameMs);
            worst.push_back(last.worstFrameMs);
        }
        cost[kind] = bench::median(cpu);
        const double ratio = cost.count("text") ? cost[kind] / cost["text"] : 0;
        std::printf("%-6s %12.2f %12.3f %12.3f %8.2f %4d/%d\n", kind.c_str(), cost[kind] * 100,
                    bench::median(frame), bench::median(worst), ratio, last.paints, last.frames);
        std::fflush(stdout);
    }
    std::printf("assistive technology: %s\n", QAccessible::isActive() ? "listened" : "off");
    return 0;
}
