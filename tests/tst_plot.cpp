// The plot model (points, widening, scrolling, Clear Draw, wrap) and the log line, without a
// window.
#include "plotmodel.h"
#include "samplelog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

using plot::PlotModel;
using plot::PlotStroke;

namespace {

// Plots n samples of the given value and returns the positions handed to the log.
QList<qint64> plotSamples(PlotModel& model, int n, double value = 1000) {
    QList<qint64> logged;
    for (int i = 0; i < n; ++i) {
        model.plotSample(value, [&](qint64 position) { logged << position; });
    }
    return logged;
}

QList<PlotStroke> strokesIn(const PlotModel& model, qint64 from, qint64 to) {
    QList<PlotStroke> strokes;
    model.forEachStrokeIn(from, to, [&](const PlotStroke& s) { strokes << s; });
    return strokes;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class PlotTest : public QObject {
    Q_OBJECT

private slots:
    void firstPointJoinsTheCorner();
    void heightsRoundHalfToEven_data();
    void heightsRoundHalfToEven();
    void pointsAreAStepApart();
    void firstWidening();
    void everyLaterSampleWidens();
    void pageStepNeverBelowOne();
    void scrollingGivesTheFormulasOffset_data();
    void scrollingGivesTheFormulasOffset();
    void clearDrawKeepsTheLastPoint();
    void clearDrawThenWrap();
    void positionsPassSixteenBits();
    void farValuesAreClampedAndDrawn();
    void visibleStrokesOnly();
    void keepsTheNewestMillionPoints();

    void logLine_data();
    void logLine();
    void logFileAppends();
    void logFailureNamesTheReason();
    void fullDiskLeavesNoHalfLine();
};

void PlotTest::firstPointJoinsTheCorner() {
    PlotModel model;
    QCOMPARE(model.innerHeight(), 2745);
    QCOMPARE(model.innerWidth(), 4545);
    const QList<qint64> logged = plotSamples(model, 1, 1000);
    QCOMPARE(logged, QList<qint64>{0});
    const QList<PlotStroke> strokes = strokesIn(model, 0, 1000);
    QCOMPARE(strokes.size(), 1);
    QCOMPARE(strokes[0].x, 200);
    QCOMPARE(strokes[0].y, qint16(2745 - 1000));
    QCOMPARE(strokes[0].previousY, qint16(0)); // the line runs to (0, 0)
    QCOMPARE(model.plotX(), 200);
    QCOMPARE(model.plotY(), qint16(1745));
}

void PlotTest::heightsRoundHalfToEven_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("y");
    QTest::newRow("2.5 gives 2742.5, stored 2742") << 2.5 << 2742;
    QTest::newRow("3.5 gives 2741.5, stored 2742") << 3.5 << 2742;
    QTest::newRow("0 on the bottom edge") << 0.0 << 2745;
    QTest::newRow("the full height at the top") << 2745.0 << 0;
    QTest::newRow("negative below the box") << -100.0 << 2845;
}

void PlotTest::heightsRoundHalfToEven() {
    QFETCH(double, value);
    QFETCH(int, y);
    PlotModel model;
    plotSamples(model, 1, value);
    QCOMPARE(model.plotY(), qint16(y));
}

void PlotTest::pointsAreAStepApart() {
    PlotModel model;
    for (int n = 1; n <= 40; ++n) {
        plotSamples(model, 1);
        QCOMPARE(model.plotX(), 200 * n);
    }
    QCOMPARE(model.strokeCount(), std::size_t(40));
}

void PlotTest::firstWidening() {
    PlotModel model;
    // Half the inner width is 2272.5: the 12th point (x = 2400) is the first beyond it.
    plotSamples(model, 11);
    QCOMPARE(model.outerWidth(), 4575);
    QCOMPARE(model.scroll().pageStep, 999);
    QCOMPARE(model.scroll().value, 0);
    QCOMPARE(model.leftOffset(), 0.0);

    plotSamples(model, 1);
    QCOMPARE(model.plotX(), 2400);
    QCOMPARE(model.outerWidth(), 4775);
    QCOMPARE(model.innerWidth(), 4745);
    QCOMPARE(model.scroll().pageStep, 998);
    QCOMPARE(model.scroll().value, model.scroll().maximum);
    QCOMPARE(model.leftOffset(), double(4575 - 4745)); // right end in view
}

void PlotTest::everyLaterSampleWidens() {
    PlotModel model;
    plotSamples(model, 12);
    for (int extra = 1; extra <= 50; ++extra) {
        plotSamples(model, 1);
        QCOMPARE(model.outerWidth(), 4775 + 200 * extra);
        QCOMPARE(model.scroll().pageStep, 998 - extra);
        QCOMPARE(model.leftOffset(), double(4575 - model.innerWidth()));
    }
}

void PlotTest::pageStepNeverBelowOne() {
    PlotModel model(plot::ScrollState{0, 10, 3, 0});
    plotSamples(model, 20);
    QCOMPARE(model.scroll().pageStep, 1);
    QCOMPARE(model.scroll().value, 10);
}

void PlotTest::scrollingGivesTheFormulasOffset_data() {
    QTest::addColumn<int>("value");
    QTest::newRow("start") << 0;
    QTest::newRow("a quarter") << 250;
    QTest::newRow("a third, not even") << 333;
    QTest::newRow("end") << 1000;
    QTest::newRow("back to the start") << 0;
}

void PlotTest::scrollingGivesTheFormulasOffset() {
    QFETCH(int, value);
    PlotModel model;
    plotSamples(model, 100);
    model.setScrollValue(value);
    QCOMPARE(model.leftOffset(), double(value) / 1000 * double(4575 - model.innerWidth()));
    // And back to the end, as the next widening does.
    model.setScrollValue(1000);
    QCOMPARE(model.leftOffset(), double(4575 - model.innerWidth()));
}

void PlotTest::clearDrawKeepsTheLastPoint() {
    PlotModel model;
    plotSamples(model, 10, 500); // x = 2000, within the frame's width
    model.clearDrawBox();
    QCOMPARE(model.outerWidth(), 4575);
    QCOMPARE(model.scroll().value, 0);
    QCOMPARE(model.scroll().pageStep, 999);
    QCOMPARE(model.leftOffset(), 0.0);
    QCOMPARE(model.strokeCount(), std::size_t(0));
    QCOMPARE(model.plotX(), 2000);

    // 2000 is inside the shrunken box: the chart goes on from there.
    QCOMPARE(plotSamples(model, 1, 500), QList<qint64>{2000});
    QCOMPARE(model.plotX(), 2200);
}

void PlotTest::clearDrawThenWrap() {
    PlotModel model;
    plotSamples(model, 60, 700); // x = 12000, far beyond the frame's width
    const qint16 lastY = model.plotY();
    model.clearDrawBox();

    // The previous point becomes (0, old y) and the new one stands at x = 200.
    QCOMPARE(plotSamples(model, 1, 900), QList<qint64>{0});
    QCOMPARE(model.plotX(), 200);
    const QList<PlotStroke> strokes = strokesIn(model, 0, 4545);
    QCOMPARE(strokes.size(), 1);
    QCOMPARE(strokes[0].x, 200);
    QCOMPARE(strokes[0].previousY, lastY);
    QCOMPARE(strokes[0].y, qint16(2745 - 900));
}

void PlotTest::positionsPassSixteenBits() {
    PlotModel model;
    const QList<qint64> logged = plotSamples(model, 170);
    // Sample n logs the previous x, 200 (n - 1); its log line shows half of it.
    QCOMPARE(logged[163], 32600);
    QCOMPARE(logged[164], 32800); // beyond 32767
    QCOMPARE(logged[165], 33000);
    QCOMPARE(SampleLog::line(logged[164], "1", "2", "3"), QByteArray("16400, R=1 G=2 B=3\r\n"));
    QCOMPARE(SampleLog::line(logged[165], "1", "2", "3"), QByteArray("16500, R=1 G=2 B=3\r\n"));
    QCOMPARE(model.plotX(), 34000);
}

void PlotTest::farValuesAreClampedAndDrawn() {
    PlotModel model;
    QList<qint64> logged = plotSamples(model, 1, 1e9);
    QCOMPARE(model.plotY(), qint16(-32768));
    logged += plotSamples(model, 1, -1e9);
    QCOMPARE(model.plotY(), qint16(32767));
    QCOMPARE(logged, (QList<qint64>{0, 200}));
    QCOMPARE(model.strokeCount(), std::size_t(2));
}

void PlotTest::visibleStrokesOnly() {
    PlotModel model;
    plotSamples(model, 1000);
    const QList<PlotStroke> shown = strokesIn(model, 100000, 104545);
    QVERIFY(!shown.isEmpty());
    // Strokes span [x - 200, x] plus the circle: every one touching the range, and no other.
    QCOMPARE(shown.first().x, 100000);
    QCOMPARE(shown.last().x, 104600);
    QCOMPARE(shown.size(), 24);
}

void PlotTest::keepsTheNewestMillionPoints() {
    PlotModel model;
    plotSamples(model, int(PlotModel::kMaxStrokes) + 5);
    QVERIFY(model.strokeCount() <= PlotModel::kMaxStrokes);
    QVERIFY(model.strokeCount() >= PlotModel::kMaxStrokes * 9 / 10);
    // The newest points are all there and found where they are; the oldest are gone.
    const qint64 last = model.plotX();
    const QList<PlotStroke> newest = strokesIn(model, last - 1000, last);
    QCOMPARE(newest.size(), 6);
    QCOMPARE(newest.last().x, last);
    QVERIFY(strokesIn(model, 0, 4545).isEmpty());
    // After Clear Draw the chart starts again and is found as before.
    model.clearDrawBox();
    plotSamples(model, 3);
    QCOMPARE(strokesIn(model, 0, 1000).size(), 3);
}

void PlotTest::logLine_data() {
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("worked example") << qint64(400) << QStringList{"3712", "3590", "3880"}
                                    << QByteArray("200, R=3712 G=3590 B=3880\r\n");
    QTest::newRow("position 0, design texts")
        << qint64(0) << QStringList{"R", "G", "B"} << QByteArray("0, R=R G=G B=B\r\n");
    QTest::newRow("empty fields") << qint64(200) << QStringList{"", "", "3880"}
                                  << QByteArray("100, R= G= B=3880\r\n");
    QTest::newRow("fields as they stand") << qint64(200) << QStringList{" 12 ", "1E3", "=01"}
                                          << QByteArray("100, R= 12  G=1E3 B==01\r\n");
    QTest::newRow("one byte per character")
        << qint64(200) << QStringList{QString::fromLatin1("\xe9\x01"), "", ""}
        << QByteArray("100, R=\xe9\x01 G= B=\r\n");
}

void PlotTest::logLine() {
    QFETCH(qint64, position);
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, line);
    QCOMPARE(SampleLog::line(position, fields[0], fields[1], fields[2]), line);
}

void PlotTest::logFileAppends() {
    QTemporaryDir dir;
    const QString path = dir.filePath("app.txt");
    SampleLog log(path);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(log.append("0, R=1 G=2 B=3\r\n"), QString());
    QCOMPARE(readAll(path), QByteArray("0, R=1 G=2 B=3\r\n"));
    QCOMPARE(log.append("100, R=4 G=5 B=6\r\n"), QString());
    QCOMPARE(readAll(path), QByteArray("0, R=1 G=2 B=3\r\n100, R=4 G=5 B=6\r\n"));
    // Closed between lines: another program may move the file away; the next line starts
    // a new one.
    QVERIFY(QFile::rename(path, dir.filePath("old.txt")));
    QCOMPARE(log.append("200, R=7 G=8 B=9\r\n"), QString());
    QCOMPARE(readAll(path), QByteArray("200, R=7 G=8 B=9\r\n"));
}

void PlotTest::logFailureNamesTheReason() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("app.txt")); // a directory where the file should be
    SampleLog inTheWay(dir.filePath("app.txt"));
    QVERIFY(!inTheWay.append("0, R=1 G=2 B=3\r\n").isEmpty());

    SampleLog noDirectory(dir.filePath("missing/app.txt"));
    QVERIFY(!noDirectory.append("0, R=1 G=2 B=3\r\n").isEmpty());

    if (QFile::exists("/dev/full")) {
        SampleLog diskFull("/dev/full");
        QVERIFY(!diskFull.append("0, R=1 G=2 B=3\r\n").isEmpty());
    }
}

void PlotTest::fullDiskLeavesNoHalfLine() {
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    const QString path = dir.filePath("app.txt");
    SampleLog log(path);
    const QByteArray first = "0, R=1000 G=2000 B=3000\r\n";
    const QByteArray second = "100, R=1001 G=2001 B=3001\r\n";
    QCOMPARE(log.append(first), QString());
    // The file may not grow past one and a half lines: the second line only half fits.
    rlimit before{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = rlim_t(first.size() + second.size() / 2);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString reason = log.append(second);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!reason.isEmpty());
    QCOMPARE(readAll(path), first);
    QCOMPARE(log.append(second), QString());
    QCOMPARE(readAll(path), first + second);
#else
    QSKIP("file size limits are a POSIX facility");
#endif
}

QTEST_GUILESS_MAIN(PlotTest)
#include "tst_plot.moc"
