// 100,000 PlotSample calls through the real window (offscreen), log on, painting after every
// sample as the event loop would: compares the first and the last 1,000 calls, the growth of
// resident memory, and the time of one full repaint of the frame at the end.
#include "benchsupport.h"
#include "sampleplot.h"
#include "zelconnectwindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int samples = argc > 1 ? std::atoi(argv[1]) : 100000;
    constexpr int kBlock = 1000;
    constexpr int kWarmUp = 1000;

    QTemporaryDir dir;
    ZelConnectWindow window(dir.filePath("app.txt"));
    window.show();
    QApplication::processEvents();
    QLineEdit* textCal = window.controls().TextCal;
    SamplePlot& plot = window.samplePlot();

    const auto plotOne = [&](int i) {
        textCal->setText(QString::number(500 + (i * 37) % 2000));
        plot.PlotSample();
        QApplication::processEvents(); // paints what changed, as between two real samples
    };
    for (int i = 0; i < kWarmUp; ++i) {
        plotOne(i);
    }
    const double memoryBefore = bench::residentMiB();
    std::vector<double> blockSeconds;
    for (int done = 0; done < samples; done += kBlock) {
        const bench::Stopwatch watch;
        for (int i = 0; i < kBlock; ++i) {
            plotOne(kWarmUp + done + i);
        }
        blockSeconds.push_back(watch.seconds());
    }
    const double memoryAfter = bench::residentMiB();

    std::vector<double> repaints;
    for (int i = 0; i < 21; ++i) {
        const bench::Stopwatch watch;
        window.controls().DrawBox->repaint();
        repaints.push_back(watch.seconds());
    }

    const double first = blockSeconds.front();
    const double last = blockSeconds.back();
    std::printf("samples plotted             %d (+%d warm-up)\n", samples, kWarmUp);
    std::printf("first 1000 calls            %.1f ms (%.1f us each)\n", first * 1e3, first * 1e3);
    std::printf("last 1000 calls             %.1f ms (%.1f us each)\n", last * 1e3, last * 1e3);
    std::printf("last / first                %.2f (goal <= 1.5)\n", last / first);
    std::printf("median 1000-call block      %.1f ms\n", bench::median(blockSeconds) * 1e3);
    std::printf("resident memory             %.1f -> %.1f MiB, +%.1f MiB (goal < 10)\n",
                memoryBefore, memoryAfter, memoryAfter - memoryBefore);
    std::printf("box outer width             %lld twips\n",
                static_cast<long long>(plot.model().outerWidth()));
    std::printf("full repaint of the frame   median %.3f ms of 21 (goal < 16.7)\n",
                bench::median(repaints) * 1e3);
    return 0;
}
