// The plot and its log on the window of Zel_Connect: "Draw", "Clear Draw", the scroll bar,
// the log beside every plotted sample, a log that cannot be written, and what is painted.
#include "colormeasurement.h"
#include "plotmodel.h"
#include "sampleplot.h"
#include "testhelpers.h"
#include "zelconnectwindow.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>

class SamplePlotTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void drawWithDesignTextDoesNothing();
    void drawTwiceAddsTwoPointsAndLogsBoth();
    void calibrationPlotsAndLogs();
    void scrollBarFollowsTheWidening();
    void draggingBackShowsTheFirstPoints();
    void clearDrawShrinksAndErases();
    void logThatCannotBeWritten();
    void paintsWhereTheModelSays();

private:
    QByteArray logContents() const;
    void draw(const QString& value, int times = 1);
    QImage grabDrawBox();

    QTemporaryDir m_dir;
    std::unique_ptr<ZelConnectWindow> m_window;
    QList<MessageBoxRequest> m_notices;
};

void SamplePlotTest::init() {
    QVERIFY(m_dir.isValid());
    QFile::remove(m_dir.filePath("app.txt"));
    m_window = std::make_unique<ZelConnectWindow>(m_dir.filePath("app.txt"));
    m_notices.clear();
    m_window->setNoticePresenter(
        [this](QWidget*, const MessageBoxRequest& request) { m_notices << request; });
}

void SamplePlotTest::cleanup() {
    m_window.reset();
}

QByteArray SamplePlotTest::logContents() const {
    QFile file(m_dir.filePath("app.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void SamplePlotTest::draw(const QString& value, int times) {
    m_window->controls().TextCal->setText(value);
    for (int i = 0; i < times; ++i) {
        QTest::mouseClick(m_window->controls().cmdDraw, Qt::LeftButton);
    }
}

QImage SamplePlotTest::grabDrawBox() {
    return m_window->controls().DrawBox->grab().toImage();
}

void SamplePlotTest::drawWithDesignTextDoesNothing() {
    QCOMPARE(m_window->controls().TextCal->text(), QStringLiteral("Text1"));
    QTest::mouseClick(m_window->controls().cmdDraw, Qt::LeftButton);
    QCOMPARE(m_window->samplePlot().model().strokeCount(), std::size_t(0));
    QVERIFY(!QFile::exists(m_dir.filePath("app.txt")));
}

void SamplePlotTest::drawTwiceAddsTwoPointsAndLogsBoth() {
    draw("1000", 2);
    const plot::PlotModel& model = m_window->samplePlot().model();
    QCOMPARE(model.strokeCount(), std::size_t(2));
    QList<plot::PlotStroke> strokes;
    model.forEachStrokeIn(0, 4545, [&](const plot::PlotStroke& s) { strokes << s; });
    QCOMPARE(strokes[0].x, 200);
    QCOMPARE(strokes[1].x, 400);
    QCOMPARE(strokes[0].y, strokes[1].y);
    QCOMPARE(strokes[1].previousY, strokes[0].y);
    // The readings' design texts go to the log as they stand.
    QCOMPARE(logContents(), QByteArray("0, R=R G=G B=B\r\n100, R=R G=G B=B\r\n"));
}

void SamplePlotTest::calibrationPlotsAndLogs() {
    m_window->controls().TextR->setText("3712");
    m_window->controls().TextG->setText("3590");
    m_window->controls().TextB->setText("3880");
    m_window->colorMeasurement().cmdCal_Click();
    m_window->colorMeasurement().cmdCal_Click();
    QCOMPARE(m_window->samplePlot().model().strokeCount(), std::size_t(2));
    QCOMPARE(m_window->samplePlot().model().plotY(), qint16(2402)); // 2745 - 343.5, to even
    QCOMPARE(logContents(), QByteArray("0, R=3712 G=3590 B=3880\r\n100, R=3712 G=3590 B=3880\r\n"));
}

void SamplePlotTest::scrollBarFollowsTheWidening() {
    QScrollBar* bar = m_window->controls().DrawSclBar;
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 1000);
    QCOMPARE(bar->pageStep(), 999);
    draw("500", 11);
    QTest::qWait(2 * frmMain::kFrameMs);
    QCOMPARE(bar->value(), 0);
    draw("500", 1); // the first widening
    QCOMPARE(m_window->samplePlot().model().leftOffset(), double(4575 - 4745));
    QTRY_COMPARE(bar->value(), 1000); // shown with the next display frame
    QCOMPARE(bar->pageStep(), 998);
    draw("500", 5);
    QTRY_COMPARE(bar->pageStep(), 993);
}

void SamplePlotTest::draggingBackShowsTheFirstPoints() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // Thirty points of rising height: the chart grows and scrolls to its right end.
    for (int i = 0; i < 30; ++i) {
        draw(QString::number(100 + 80 * i));
    }
    const plot::PlotModel& model = m_window->samplePlot().model();
    QVERIFY(model.leftOffset() < -1000);
    QScrollBar* bar = m_window->controls().DrawSclBar;
    QTRY_COMPARE(bar->value(), 1000);
    bar->setValue(0); // as a drag to the start does
    QCOMPARE(model.leftOffset(), 0.0);
    const QImage start = grabDrawBox();
    bar->setValue(1000);
    QCOMPARE(model.leftOffset(), double(4575 - model.innerWidth()));
    const QImage end = grabDrawBox();
    QVERIFY(start != end);
    // The first point (x = 200, value 100) is painted again when scrolled back.
    const QPoint first(qRound((15 + 200) / 15.0), qRound((15 + 2745 - 100) / 15.0));
    QVERIFY(start.pixelColor(first) != m_window->palette().color(QPalette::Base));
}

void SamplePlotTest::clearDrawShrinksAndErases() {
    draw("700", 40);
    QTest::mouseClick(m_window->controls().cmdClearDrawBox, Qt::LeftButton);
    const plot::PlotModel& model = m_window->samplePlot().model();
    QCOMPARE(model.strokeCount(), std::size_t(0));
    QCOMPARE(model.outerWidth(), 4575);
    QTRY_COMPARE(m_window->controls().DrawSclBar->value(), 0);
    QCOMPARE(m_window->controls().DrawSclBar->pageStep(), 999);
    draw("700", 1); // x was 8000: the chart wraps to the start
    QCOMPARE(model.plotX(), 200);
    QVERIFY(logContents().endsWith("0, R=R G=G B=B\r\n"));
}

void SamplePlotTest::logThatCannotBeWritten() {
    const QString path = m_dir.filePath("app.txt");
    QVERIFY(QDir(m_dir.path()).mkdir("app.txt")); // replaced by a directory mid-run
    draw("1000", 5);
    QCOMPARE(m_window->samplePlot().model().strokeCount(), std::size_t(5)); // plot goes on
    QCOMPARE(m_notices.size(), 1);                                          // once per streak
    QVERIFY(m_notices[0].prompt.contains(path));
    QCOMPARE(m_notices[0].icon, MessageIcon::Warning);

    QVERIFY(QDir(m_dir.path()).rmdir("app.txt"));
    draw("1000", 2);
    QCOMPARE(m_notices.size(), 1);
    QCOMPARE(logContents(), QByteArray("500, R=R G=G B=B\r\n600, R=R G=G B=B\r\n"));

    QVERIFY(QFile::remove(path));
    QVERIFY(QDir(m_dir.path()).mkdir("app.txt"));
    draw("1000", 3);
    QCOMPARE(m_notices.size(), 2); // a new streak, a new notice
    QCOMPARE(m_window->samplePlot().model().strokeCount(), std::size_t(10));
}

void SamplePlotTest::paintsWhereTheModelSays() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    draw("1000");
    draw("2000");
    const QImage image = grabDrawBox();
    const QColor base = m_window->palette().color(QPalette::Base);
    // In pixels: the drawing area starts one pixel in; 15 twips to the pixel.
    const auto at = [](double x, double y) {
        return QPoint(qRound((15 + x) / 15), qRound((15 + y) / 15));
    };
    QVERIFY(image.pixelColor(at(200, 1745)) != base); // first circle
    QVERIFY(image.pixelColor(at(400, 745)) != base);  // second circle
    QVERIFY(image.pixelColor(at(300, 1245)) != base); // the line between them
    QVERIFY(image.pixelColor(at(100, 872)) != base);  // the first line, to the corner
    QCOMPARE(image.pixelColor(at(1500, 1500)), base); // nothing where nothing was drawn
    QCOMPARE(image.pixelColor(at(400, 1745)), base);
}

QTEST_MAIN(SamplePlotTest)
#include "tst_sampleplot.moc"
