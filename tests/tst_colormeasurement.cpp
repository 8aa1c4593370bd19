// Color measurement on the window of Zel_Connect: RecognizeColor through the fields and the
// option group, the "cal" button and the random test run.
#include "colormeasurement.h"
#include "testhelpers.h"
#include "zelconnectwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

class ColorMeasurementTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void calibration_data();
    void calibration();
    void calibrationTwiceEvaluatesTwice();
    void methodChosenAfterwardsCountsAtNextPress();
    void overflowingSampleIsSkipped_data();
    void overflowingSampleIsSkipped();
    void rndGoTogglesTheTimer();
    void tickWritesRandomSample();
    void sameSamplesOnEveryStart();
    void tickWaitsForOpenBox();

private:
    void setSample(const QString& r, const QString& g, const QString& b);

    QTemporaryDir m_dir;
    std::unique_ptr<ZelConnectWindow> m_window;
    int m_plotted = 0;
};

void ColorMeasurementTest::init() {
    m_window = std::make_unique<ZelConnectWindow>(m_dir.filePath("app.txt"));
    m_plotted = 0;
    m_window->colorMeasurement().setPlotSample([this] { ++m_plotted; });
}

void ColorMeasurementTest::cleanup() {
    m_window.reset();
}

void ColorMeasurementTest::setSample(const QString& r, const QString& g, const QString& b) {
    m_window->controls().TextR->setText(r);
    m_window->controls().TextG->setText(g);
    m_window->controls().TextB->setText(b);
}

void ColorMeasurementTest::calibration_data() {
    QTest::addColumn<QStringList>("sample");
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("textCal");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("plotted");

    QTest::newRow("start-up fields: nothing") << QStringList{"R", "G", "B"} << 2 << "Text1"
                                              << "Recognizing..." << 0;
    QTest::newRow("one field emptied by a marker")
        << QStringList{"3712", "", "3880"} << 2 << "Text1"
        << "Recognizing..." << 0;
    QTest::newRow("red") << QStringList{"3000", "2000", "1000"} << 2 << "2190"
                         << "Color Red" << 1;
    QTest::newRow("blanks and signs") << QStringList{" 3000", "+2000 ", "1E3"} << 2 << "2190"
                                      << "Color Red" << 1;
    QTest::newRow("device sample, Recognize") << QStringList{"3712", "3590", "3880"} << 2 << "343.5"
                                              << "Grid1" << 1;
    QTest::newRow("Avgerage keeps the label")
        << QStringList{"1", "2", "4"} << 0 << "2.33333333333333"
        << "Recognizing..." << 1;
    QTest::newRow("TotalDiff keeps the label") << QStringList{"3000", "2000", "1000"} << 1 << "2000"
                                               << "Recognizing..." << 1;
}

void ColorMeasurementTest::calibration() {
    QFETCH(QStringList, sample);
    QFETCH(int, method);
    QFETCH(QString, textCal);
    QFETCH(QString, label);
    QFETCH(int, plotted);
    setSample(sample[0], sample[1], sample[2]);
    m_window->controls().functOption[method]->setChecked(true);

    QTest::mouseClick(m_window->controls().cmdCal, Qt::LeftButton);

    QCOMPARE(m_window->controls().TextCal->text(), textCal);
    QCOMPARE(m_window->controls().lblColor->text(), label);
    QCOMPARE(m_plotted, plotted);
}

void ColorMeasurementTest::calibrationTwiceEvaluatesTwice() {
    setSample("3712", "3590", "3880");
    m_window->colorMeasurement().cmdCal_Click();
    m_window->colorMeasurement().cmdCal_Click();
    QCOMPARE(m_plotted, 2);
    QCOMPARE(m_window->controls().TextCal->text(), QStringLiteral("343.5"));
}

void ColorMeasurementTest::methodChosenAfterwardsCountsAtNextPress() {
    setSample("3000", "2000", "1000");
    m_window->colorMeasurement().cmdCal_Click();
    QCOMPARE(m_window->controls().TextCal->text(), QStringLiteral("2190"));
    m_window->controls().functOption[0]->setChecked(true);
    QCOMPARE(m_window->controls().TextCal->text(), QStringLiteral("2190"));
    m_window->colorMeasurement().cmdCal_Click();
    QCOMPARE(m_window->controls().TextCal->text(), QStringLiteral("2000"));
    QCOMPARE(m_window->controls().lblColor->text(), QStringLiteral("Color Red"));
}

void ColorMeasurementTest::overflowingSampleIsSkipped_data() {
    QTest::addColumn<int>("method");
    QTest::newRow("Avgerage") << 0;
    QTest::newRow("TotalDiff") << 1;
    QTest::newRow("Recognize") << 2;
}

void ColorMeasurementTest::overflowingSampleIsSkipped() {
    QFETCH(int, method);
    setSample("3000", "2000", "1000");
    m_window->colorMeasurement().cmdCal_Click();
    const QString valueBefore = m_window->controls().TextCal->text();

    m_window->controls().functOption[method]->setChecked(true);
    setSample("1E308", "1E308", "1E308");
    m_window->colorMeasurement().cmdCal_Click();

    QCOMPARE(m_window->controls().TextCal->text(), valueBefore);
    QCOMPARE(m_window->controls().lblColor->text(), QStringLiteral("Color Red"));
    QCOMPARE(m_plotted, 1);
}

void ColorMeasurementTest::rndGoTogglesTheTimer() {
    QTimer* timer = m_window->controls().Timer1;
    QVERIFY(!timer->isActive());
    QTest::mouseClick(m_window->controls().cmdGo, Qt::LeftButton);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 1000);
    QTest::mouseClick(m_window->controls().cmdGo, Qt::LeftButton);
    QVERIFY(!timer->isActive());
    QCOMPARE(m_plotted, 0);
}

void ColorMeasurementTest::tickWritesRandomSample() {
    QTest::mouseClick(m_window->controls().cmdGo, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_plotted, 1, 2500);
    for (QLineEdit* field :
         {m_window->controls().TextR, m_window->controls().TextG, m_window->controls().TextB}) {
        bool whole = false;
        const int reading = field->text().toInt(&whole);
        QVERIFY2(whole && reading >= 0 && reading <= 1999, qPrintable(field->text()));
        QCOMPARE(QString::number(reading), field->text()); // no sign, point or leading zeros
    }
    QVERIFY(m_window->controls().TextCal->text() != QStringLiteral("Text1"));
    QVERIFY(m_window->controls().lblColor->text() != QStringLiteral("Recognizing..."));
    QTest::mouseClick(m_window->controls().cmdGo, Qt::LeftButton);
}

void ColorMeasurementTest::sameSamplesOnEveryStart() {
    const auto firstSamples = [](ZelConnectWindow& window) {
        QStringList seen;
        for (int tick = 0; tick < 3; ++tick) {
            window.colorMeasurement().Timer1_Timer();
            seen << window.controls().TextR->text() + "," + window.controls().TextG->text() + "," +
                        window.controls().TextB->text() + " " + window.controls().TextCal->text();
        }
        return seen;
    };
    const QStringList first = firstSamples(*m_window);
    ZelConnectWindow secondStart(m_dir.filePath("second.txt"));
    QCOMPARE(firstSamples(secondStart), first);
    QCOMPARE(first.size(), 3);
    QVERIFY(first[0] != first[1]);
}

void ColorMeasurementTest::tickWaitsForOpenBox() {
    m_window->setMessagePresenter([this](QWidget*, const MessageBoxRequest&) {
        // The test run is on and a second passes while the box is open.
        QTest::qWait(1300);
        QCOMPARE(m_plotted, 0);
    });
    m_window->colorMeasurement().cmdGo_Click();
    m_window->mnuHelpSel_Click(0);
    QCOMPARE(m_plotted, 0); // not inside the handler that showed the box either
    QTRY_COMPARE_WITH_TIMEOUT(m_plotted, 1, 500);
    m_window->colorMeasurement().cmdGo_Click();
}

QTEST_MAIN(ColorMeasurementTest)
#include "tst_colormeasurement.moc"
