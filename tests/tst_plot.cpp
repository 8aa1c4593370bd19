// The sample plot and its log: the model's geometry (points, widening, scrolling, Clear Draw
// and wrap, 16-bit limits, the newest million points), the log line and file, and on the
// window "Draw", the scroll bar, what is painted and a log that cannot be written.
#include "logsettled.h"
#include "plotmodel.h"
#include "sampleplot.h"
#include "testhelpers.h"
#include "zelconnectwindow.h"

#include <QStorageInfo>

#include <csignal>
#include <numeric>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/stat.h>
#endif

using plot::PlotModel;
using plot::PlotStroke;

namespace {

// Plots n samples of the value; the positions handed to the log.
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

#ifdef Q_OS_UNIX
// Runs what with this process's files limited to size bytes, as a quota limits them.
void withFileSizeLimit(rlim_t size, const std::function<void()>& what) {
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = size;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    what();
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
}
#endif

} // namespace

class PlotTest : public QObject {
    Q_OBJECT

private slots:
    void pointsAndHeights();
    void wideningAndScrolling();
    void clearDrawKeepsTheLastPoint();
    void limits();
    void logFile();
    void nearlyFullDisk();

    void init();
    void cleanup() {
        m_window.reset();
        QDir(m_dir.path()).rmdir("app.txt");
    }
    void drawOnTheWindow();
    void logThatCannotBeWritten();
    void burstLoggedOnceInOrder();
    void secondProgramNeverWritesTheFirstsLog();

private:
    void draw(const QString& value, int times = 1);
    QTemporaryDir m_dir;
    std::unique_ptr<ZelConnectWindow> m_window;
    QList<MessageBoxRequest> m_notices;
};

void PlotTest::pointsAndHeights() {
    // value, y: inner height - value, a half to even, clamped to 16 bits
    const QList<std::pair<double, int>> heights = {{1000, 1745},  {2.5, 2742},  {3.5, 2742},
                                                   {0, 2745},     {2745, 0},    {-100, 2845},
                                                   {1e9, -32768}, {-1e9, 32767}};
    for (const auto& [value, y] : heights) {
        PlotModel model;
        // The first point joins the top-left corner; each next one is a step on.
        QCOMPARE(plotSamples(model, 1, value), QList<qint64>{0});
        QCOMPARE(model.plotY(), qint16(y));
        QCOMPARE(plotSamples(model, 2, 500), (QList<qint64>{200, 400}));
        const QList<PlotStroke> strokes = strokesIn(model, 0, 1000);
        QCOMPARE(strokes.size(), 3);
        QCOMPARE(strokes[0].x, 200);
        QCOMPARE(strokes[0].y, qint16(y));
        QCOMPARE(strokes[0].previousY, qint16(0));
        QCOMPARE(strokes[1].previousY, qint16(y));
        QCOMPARE(strokes[2].x, 600);
    }
}

void PlotTest::wideningAndScrolling() {
    PlotModel model;
    // Half the inner width is 2272.5: the 12th point (x = 2400) is the first beyond it.
    plotSamples(model, 11);
    QCOMPARE(model.outerWidth(), 4575);
    QCOMPARE(model.leftOffset(), 0.0);
    for (int extra = 0; extra <= 50; ++extra) {
        plotSamples(model, 1);
        QCOMPARE(model.outerWidth(), 4775 + 200 * extra);
        QCOMPARE(model.innerWidth(), model.outerWidth() - 30);
        QCOMPARE(model.scroll().pageStep, 998 - extra);
        QCOMPARE(model.scroll().value, model.scroll().maximum);
        QCOMPARE(model.leftOffset(), double(4575 - model.innerWidth())); // right end in view
    }
    for (const int value : {0, 250, 333, 1000}) {
        model.setScrollValue(value);
        QCOMPARE(model.leftOffset(), double(value) / 1000 * double(4575 - model.innerWidth()));
    }
    // The page step never falls below 1, not even after Clear Draw.
    PlotModel narrow(plot::ScrollState{0, 1, 3, 0});
    plotSamples(narrow, 20);
    QCOMPARE(narrow.scroll().pageStep, 1);
    QCOMPARE(narrow.scroll().value, 1);
    narrow.clearDrawBox();
    QCOMPARE(narrow.scroll().pageStep, 1);
}

void PlotTest::clearDrawKeepsTheLastPoint() {
    // Samples before; then the next one's logged position and x. At x 2000 the last point is
    // inside the shrunken box and the plot goes on; at x 12000 it is beyond and wraps round.
    const QList<std::tuple<int, qint64, qint64>> cases = {{10, 2000, 2200}, {60, 0, 200}};
    for (const auto& [before, nextLogged, nextX] : cases) {
        PlotModel model;
        plotSamples(model, before, 700);
        const qint16 lastY = model.plotY();
        model.clearDrawBox();
        QCOMPARE(model.outerWidth(), 4575);
        QCOMPARE(model.scroll().value, 0);
        QCOMPARE(model.scroll().pageStep, 999);
        QCOMPARE(model.leftOffset(), 0.0);
        QCOMPARE(model.strokeCount(), std::size_t(0));
        QCOMPARE(plotSamples(model, 1, 900), QList<qint64>{nextLogged});
        QCOMPARE(model.plotX(), nextX);
        const QList<PlotStroke> strokes = strokesIn(model, 0, 4545);
        QCOMPARE(strokes.size(), 1);
        QCOMPARE(strokes[0].previousY, lastY);
        QCOMPARE(strokes[0].y, qint16(2745 - 900));
    }
}

void PlotTest::limits() {
    PlotModel model;
    const QList<qint64> logged = plotSamples(model, 170);
    // Sample n logs the previous x, 200 (n - 1): never a wrapped 16-bit value.
    QCOMPARE(logged[164], 32800);
    QCOMPARE(SampleLog::line(logged[165], "1", "2", "3"), QByteArray("16500, R=1 G=2 B=3\r\n"));
    QCOMPARE(model.plotX(), 34000);
    // The line: half the position, then the fields as they stand, a byte a character.
    QCOMPARE(SampleLog::line(0, " 12 ", "", "=01"), "0, R= 12  G= B==01\r\n");
    QCOMPARE(SampleLog::line(200, QString::fromLatin1("\xe9\x01"), QString(QChar(0x20AC)), ""),
             "100, R=\xe9\x01 G=? B=\r\n");
    // Only strokes that touch the range are visited, and every one of them: the last begins
    // (its circle's left edge, a step back) where the range ends.
    PlotModel long_;
    plotSamples(long_, 1000);
    const QList<PlotStroke> shown = strokesIn(long_, 100000, 104600 - 200 - 20);
    QCOMPARE(shown.size(), 24);
    QCOMPARE(shown.first().x, 100000);
    QCOMPARE(shown.last().x, 104600);
    // The newest million points are kept: the oldest hundred thousand go once it is full.
    plotSamples(long_, int(PlotModel::kMaxStrokes) + 1 - 1000);
    QCOMPARE(long_.strokeCount(), PlotModel::kMaxStrokes * 9 / 10 + 1);
    plotSamples(long_, 4);
    const qint64 last = long_.plotX();
    const QList<PlotStroke> newest = strokesIn(long_, last - 1000, last);
    QCOMPARE(newest.size(), 6);
    QCOMPARE(newest.last().x, last);
    QVERIFY(strokesIn(long_, 0, 4545).isEmpty());
    long_.clearDrawBox();
    plotSamples(long_, 3);
    QCOMPARE(strokesIn(long_, 0, 1000).size(), 3);
}

void PlotTest::logFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("app.txt");
    SampleLog log(path);
    const QByteArray first = "0, R=1000 G=2000 B=3000\r\n";
    const QByteArray second = "100, R=1001 G=2001 B=3001\r\n";
    QVERIFY(!log.log(first) && !log.log(second));
    QCOMPARE(readAll(path), first + second);
    // Closed between lines: another program may move the file away. Made anew, it is a text
    // file as the first: nobody may execute it.
    QVERIFY(QFile::rename(path, dir.filePath("old.txt")) && !log.log(first));
    QCOMPARE(readAll(path), first);
    for (const QString& made : {dir.filePath("old.txt"), path}) {
        QCOMPARE(QFile::permissions(made) & 0x1111, 0);
    }
    // What cannot be written says why.
    QVERIFY(!SampleLog(dir.filePath("missing/app.txt")).log(first).value().reason.isEmpty());
#ifdef Q_OS_UNIX
    // Only a regular file is a log: a device or a pipe without a reader is refused at once,
    // by its path.
    const QString fifo = dir.filePath("fifo");
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const qsizetype open = QDir("/proc/self/fd").count();
    for (const QString& notAFile : {QStringLiteral("/dev/full"), fifo}) {
        QVERIFY(SampleLog(notAFile).log(first).value().reason.startsWith(notAFile + " is not"));
    }
    QCOMPARE(QDir("/proc/self/fd").count(), open); // and left closed
#endif
    // While it cannot be written, what waits is bounded: a line beyond it is dropped and
    // counted, the others go in whole and in order once it can.
    // Moved, not removed: Windows keeps a removed file's name while the claim holds it.
    QVERIFY(QFile::rename(path, dir.filePath("moved.txt")) && QDir(dir.path()).mkdir("app.txt"));
    QByteArray big(1 << 20, 'x');
    big += "\r\n";
    for (qsizetype n = 0; n * big.size() < SampleLog::kWaitingLimit; ++n) {
        big[0] = char('a' + n % 26);
        QVERIFY(log.log(big).has_value());
    }
    QCOMPARE(log.droppedLines(), 1);
    const qsizetype waiting = log.waitingLines();
    QCOMPARE(waiting, SampleLog::kWaitingLimit / big.size());
    QVERIFY(QDir(dir.path()).rmdir("app.txt") && !log.writeWaiting());
    QCOMPARE(log.waitingLines(), 0);
    const QByteArray logged = readAll(path);
    QCOMPARE(logged.size(), waiting * big.size());
    for (qsizetype n = 0; n < waiting; ++n) {
        QCOMPARE(logged[n * big.size()], char('a' + n % 26));
    }
    // Moved away again, and another program running at the same time took the new file
    // meanwhile: this one takes a file of its own.
    QVERIFY(QFile::rename(path, dir.filePath("older.txt")));
    SampleLog other(path);
    QVERIFY(!other.log(second) && !log.log(first));
    QCOMPARE(readAll(path), second);
    QCOMPARE(readAll(dir.filePath("app-2.txt")), first);
}

void PlotTest::nearlyFullDisk() {
    QTemporaryDir dir;
    SampleLog log(dir.filePath("app.txt"));
    // The system's own room check: what a user who is not root may still write there.
    const QStorageInfo disk(dir.path());
    QVERIFY(std::abs(SampleLog::systemRoom(log.path()).value_or(-1) - disk.bytesAvailable()) <=
            disk.bytesTotal() / 100 + 1);
#ifdef Q_OS_UNIX
    QCOMPARE(SampleLog::systemRoom("/proc/app.txt"), std::nullopt); // a file system of no size
#endif
    QByteArray lines[52];
    for (int n = 0; n < 52; ++n) {
        lines[n] = QStringLiteral("%1, R=1000 G=2000 B=3000\r\n").arg(100 + n).toLatin1();
    }
    const qint64 line = lines[0].size();
    qint64 room = 1 << 20; // beyond the reserve, as the room check says
    qint64 quota = 0;      // what writes may put in, which the room check does not see
    qint64 largest = 0;    // the largest write tried
    qint64 piece = room;   // what one write takes at most
    bool beyondRoom = false;
    log.setDisk({[&](const QString&) { return SampleLog::kRoomReserve + room; },
                 [&](qint64 size) {
                     largest = std::max(largest, size);
                     beyondRoom = beyondRoom || size > room;
                     const qint64 takes = std::min({size, room, quota, piece});
                     room -= takes;
                     quota -= takes;
                     return takes;
                 }});
    // Nothing goes in: after the first failure each sample tries one line, not all that wait.
    for (int n = 0; n < 50; ++n) {
        QVERIFY(log.log(lines[n]).has_value());
    }
    QCOMPARE(largest, line);
    // A write cut short keeps the whole lines that went in; the rest of the last one goes.
    quota = line * 5 / 2;
    QCOMPARE(log.log(lines[50]).value().kind, SampleLog::Failure::Kind::DiskFull);
    QCOMPARE(readAll(log.path()), lines[0] + lines[1]);
    QCOMPARE(log.waitingLines(), 49);
    QCOMPARE(largest, 50 * line); // one line went in: then the others at once
    // As far as the room allows, whole lines, and no try beyond it.
    quota = 1 << 20;
    room = line * 61 / 2;
    largest = 0;
    QVERIFY(log.log(lines[51]).has_value());
    QCOMPARE(largest, 29 * line); // one line, then what room there is for
    QVERIFY(!beyondRoom);
    QCOMPARE(log.waitingLines(), 20);
    room = 1 << 20;
    piece = 7; // a write that goes in a piece at a time goes on where it stopped
    QVERIFY(!log.writeWaiting());
    QCOMPARE(readAll(log.path()), std::accumulate(lines, lines + 52, QByteArray()));
    QCOMPARE(log.writtenLines(), 52);
}

void PlotTest::init() {
    QFile::remove(m_dir.filePath("app.txt"));
    m_window = std::make_unique<ZelConnectWindow>(m_dir.filePath("app.txt"));
    m_notices.clear();
    m_window->setNoticePresenter([this](QWidget*, const MessageBoxRequest& r) { m_notices << r; });
}

void PlotTest::draw(const QString& value, int times) {
    m_window->controls().TextCal->setText(value);
    for (int i = 0; i < times; ++i) {
        QTest::mouseClick(m_window->controls().cmdDraw, Qt::LeftButton);
    }
}

void PlotTest::drawOnTheWindow() {
    showActive(m_window.get());
    draw("Text1"); // the design's text is no number: nothing (the log has two lines)
    draw("1000");
    draw("2000");
    QTRY_VERIFY(logSettled(*m_window));
    QCOMPARE(readAll(m_dir.filePath("app.txt")),
             QByteArray("0, R=R G=G B=B\r\n100, R=R G=G B=B\r\n"));
    const QColor base = m_window->palette().color(QPalette::Base);
    // In pixels: the drawing area starts one pixel in; 15 twips to the pixel.
    const auto at = [](double x, double y) {
        return QPoint(qRound((15 + x) / 15), qRound((15 + y) / 15));
    };
    // What the screen shows once the next frame has come, not a fresh paint of the box.
    QWidget* box = m_window->controls().DrawBox;
    const auto shown = [&] {
        QTest::qWait(2 * frmMain::kBusyFrameMs);
        const QPoint origin = box->mapTo(m_window.get(), QPoint());
        return m_window->screen()
            ->grabWindow(m_window->winId(), origin.x(), origin.y(), box->width(), box->height())
            .toImage();
    };
    QImage image = shown();
    QVERIFY(image.pixelColor(at(200, 1745)) != base);         // first point
    QVERIFY(image.pixelColor(0, image.height() / 2) != base); // the box's left edge
    QVERIFY(image.pixelColor(at(200, 1765)) != base); // its circle, below where no line runs
    QVERIFY(image.pixelColor(at(300, 1245)) != base); // the line to the second
    QVERIFY(image.pixelColor(at(100, 872)) != base);  // the first line, to the corner
    QCOMPARE(image.pixelColor(at(1500, 1500)), base); // nothing where nothing was drawn

    // The scroll bar follows the widening with the next frame; dragged back, the first
    // points are shown again.
    QScrollBar* bar = m_window->controls().DrawSclBar;
    QCOMPARE(bar->pageStep(), 999);
    draw("500", 28);
    QTRY_COMPARE(bar->value(), 1000);
    QCOMPARE(bar->pageStep(), m_window->samplePlot().model().scroll().pageStep);
    QVERIFY(shown().pixelColor(at(200, 1745)) == base);
    bar->setValue(0);
    QCOMPARE(m_window->samplePlot().model().leftOffset(), 0.0);
    QVERIFY(shown().pixelColor(at(200, 1745)) != base);

    QTest::mouseClick(m_window->controls().cmdClearDrawBox, Qt::LeftButton);
    QCOMPARE(m_window->samplePlot().model().strokeCount(), std::size_t(0));
    QTRY_COMPARE(bar->pageStep(), 999);
}

void PlotTest::logThatCannotBeWritten() {
    const QString path = m_dir.filePath("app.txt");
    QVERIFY(QDir(m_dir.path()).mkdir("app.txt")); // replaced by a folder mid-run
    draw("1000", 4);
    QCOMPARE(m_window->samplePlot().model().strokeCount(), std::size_t(4)); // plot goes on
    // The notices that come up by themselves: one per streak. Retries, every two seconds,
    // only bring the count up to date in a notice still open.
    const auto shown = [this] {
        QList<MessageBoxRequest> shown;
        std::copy_if(m_notices.begin(), m_notices.end(), std::back_inserter(shown),
                     [](const MessageBoxRequest& notice) { return !notice.onlyIfOpen; });
        return shown;
    };
    QTRY_VERIFY(logSettled(*m_window));
    QCOMPARE(shown().size(), 1);
    QVERIFY(m_notices[0].prompt.startsWith("Samples cannot be written to app.txt ("));
    QVERIFY(m_notices[0].prompt.contains(QDir::toNativeSeparators(path)));
    QTRY_VERIFY(m_notices.last().onlyIfOpen &&
                m_notices.last().prompt.contains("4 samples wait and are written"));
    QVERIFY(QDir(m_dir.path()).rmdir("app.txt"));
    // Every sample once, in order, by the next retry; and the user is told.
    QTRY_VERIFY(shown().size() == 2);
    QVERIFY(shown()[1].prompt.startsWith("The 4 samples that waited are now in"));
    const QByteArray line = "R=R G=G B=B\r\n";
    QCOMPARE(readAll(path), "0, " + line + "100, " + line + "200, " + line + "300, " + line);
    draw("1000");
    QTRY_VERIFY(logSettled(*m_window));
    QVERIFY(readAll(path).endsWith("400, " + line) && shown().size() == 2);
    QVERIFY(QFile::rename(path, m_dir.filePath("moved.txt")) &&
            QDir(m_dir.path()).mkdir("app.txt"));
    draw("1000", 3);
    QTRY_VERIFY(logSettled(*m_window));
    QCOMPARE(shown().size(), 3); // a new streak, a new notice
    // Still waiting when the window closes: tried once more, then the loss is said.
    QList<MessageBoxRequest> boxes;
    m_window->setMessagePresenter([&](QWidget*, const MessageBoxRequest& r) { boxes << r; });
    m_window->close();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes[0].prompt.startsWith("3 samples could not be written"));
}

void PlotTest::burstLoggedOnceInOrder() {
    // However a burst is cut into reads (a reading split over two, reads that end inside a
    // line), the samples of each read are in the log once it has been handled, each once
    // and in order; a file that cannot be written for a while gets every line afterwards.
    QByteArray burst;
    for (int red = 1000; red < 1300; ++red) {
        burst += QStringLiteral("R=%1 G=2000 B=3000\r\n").arg(red).toLatin1();
    }
    const QString path = m_dir.filePath("app.txt");
    qsizetype at = 0;
    const auto readAndCheck = [&](qsizetype size) {
        m_window->receive(burst.sliced(at, size));
        at += size;
        QTRY_VERIFY(logSettled(*m_window));
        QList<int> reds;
        for (const QByteArray& line : readAll(path).split('\n')) {
            if (!line.isEmpty()) {
                reds << line.mid(line.indexOf("R=") + 2, 4).toInt();
            }
        }
        QList<int> expected(std::max<qsizetype>(burst.first(at).count('R') - 1, 0));
        std::iota(expected.begin(), expected.end(), 1000);
        QCOMPARE(reds, expected);
    };
    for (const qsizetype size : {3, 20, 1, 2000, 7, 400}) {
        readAndCheck(size);
    }
#ifdef Q_OS_UNIX
    withFileSizeLimit(QFileInfo(path).size(), [&] {
        m_window->receive(burst.sliced(at, 3000));
        QTRY_VERIFY(logSettled(*m_window));
    });
    at += 3000;
    QCOMPARE(m_notices.size(), 1);
#endif
    readAndCheck(burst.size() - at);
}

void PlotTest::secondProgramNeverWritesTheFirstsLog() {
#ifdef Q_OS_UNIX
    // Another program running at the same time logs to app.txt; this one's first sample comes
    // while a quota lets no line be written: its own file cannot be written, its samples wait
    // for it and never go into the other's; what went in of a line is taken out again.
    const QString path = m_dir.filePath("app.txt");
    ZelConnectWindow other(path);
    other.samplePlot().LogSample(0);
    QTRY_VERIFY(logSettled(other));
    withFileSizeLimit(12, [this] {
        m_window->samplePlot().LogSample(200);
        QTRY_VERIFY(logSettled(*m_window));
    });
    m_window->samplePlot().LogSample(400);
    QTRY_VERIFY(logSettled(*m_window));
    const QByteArray line = "R=R G=G B=B\r\n";
    QCOMPARE(readAll(path), "0, " + line);
    QCOMPARE(readAll(m_dir.filePath("app-2.txt")), "100, " + line + "200, " + line);
#endif
}

QTEST_MAIN(PlotTest)
#include "tst_plot.moc"
