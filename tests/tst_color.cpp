// Color recognition as pure functions: the methods, the rule table and its order, and the
// readings of the test run.
#include "colorrules.h"
#include "sampleevaluation.h"
#include "testrun.h"

#include <QTest>

#include <cmath>

using namespace color;

class ColorTest : public QObject {
    Q_OBJECT

private slots:
    void evaluation_data();
    void evaluation();
    void overflowIsNoValue_data();
    void overflowIsNoValue();
    void boxBoundsAreInclusive_data();
    void boxBoundsAreInclusive();
    void spreadThresholds_data();
    void spreadThresholds();
    void inRange_data();
    void inRange();
    void readingFromDraw_data();
    void readingFromDraw();
    void testRunRepeatsAndStaysInRange();
};

namespace {
const QString kUnchanged = QStringLiteral("unchanged");
constexpr int kNoMethod = -1;
} // namespace

void ColorTest::evaluation_data() {
    QTest::addColumn<double>("r");
    QTest::addColumn<double>("g");
    QTest::addColumn<double>("b");
    QTest::addColumn<int>("method");
    QTest::addColumn<double>("value"); // to two decimals
    QTest::addColumn<QString>("caption");
    const int recognize = static_cast<int>(Method::Recognize);

    QTest::newRow("white, lower bounds")
        << 3698.0 << 3600.0 << 3874.0 << recognize << 312.46 << "Color White";
    QTest::newRow("one below white")
        << 3697.0 << 3600.0 << 3874.0 << recognize << 311.76 << "Unknown";
    QTest::newRow("white, upper bounds")
        << 3805.0 << 3643.0 << 3918.0 << recognize << 358.15 << "Color White";
    QTest::newRow("white and box 1: box 1")
        << 3720.0 << 3610.0 << 3880.0 << recognize << 317.3 << "Grid1";
    QTest::newRow("black band") << 1000.0 << 500.0 << 500.0 << recognize << 650.0 << "Color Black";
    QTest::newRow("black and box 7: box 7")
        << 3678.0 << 3341.0 << 3114.0 << recognize << 640.13 << "Grid7";
    QTest::newRow("black and box 8: box 8")
        << 3560.0 << 3210.0 << 2990.0 << recognize << 650.8 << "Grid8";
    QTest::newRow("black and box 10: box 10")
        << 3310.0 << 2938.0 << 2761.0 << recognize << 641.13 << "Grid10";
    QTest::newRow("black and box 11: box 11")
        << 3258.0 << 2800.0 << 2705.0 << recognize << 679.95 << "Grid11";
    QTest::newRow("black and box 12: box 12")
        << 3029.0 << 2550.0 << 2530.0 << recognize << 640.5 << "Grid11";
    QTest::newRow("box 12 named Grid11")
        << 3030.0 << 2580.0 << 2560.0 << recognize << 602.8 << "Grid11";
    QTest::newRow("red") << 3000.0 << 2000.0 << 1000.0 << recognize << 2190.0 << "Color Red";
    QTest::newRow("green") << 0.0 << 3000.0 << 0.0 << recognize << 4770.0 << "Color Green";
    QTest::newRow("blue") << 0.0 << 0.0 << 3000.0 << recognize << 3330.0 << "Color Blue";
    QTest::newRow("red and green tie")
        << 3000.0 << 3000.0 << 0.0 << recognize << 3330.0 << "Unknown";
    QTest::newRow("higher tie") << 4000.0 << 4000.0 << 0.0 << recognize << 4440.0 << "Unknown";
    QTest::newRow("green and blue tie")
        << 0.0 << 3000.0 << 3000.0 << recognize << 3900.0 << "Unknown";
    QTest::newRow("equal readings") << 2000.0 << 2000.0 << 2000.0 << recognize << 0.0 << "Unknown";
    QTest::newRow("test run reading")
        << 1999.0 << 0.0 << 1500.0 << recognize << 2734.3 << "Color Red";
    QTest::newRow("Avgerage") << 3000.0 << 3000.0 << 3000.0 << static_cast<int>(Method::Average)
                              << 3000.0 << kUnchanged;
    QTest::newRow("Avgerage 1 2 4")
        << 1.0 << 2.0 << 4.0 << static_cast<int>(Method::Average) << 2.33 << kUnchanged;
    QTest::newRow("TotalDiff") << 3000.0 << 2000.0 << 1000.0 << static_cast<int>(Method::TotalDiff)
                               << 2000.0 << kUnchanged;
    QTest::newRow("TotalDiff 1 2 4")
        << 1.0 << 2.0 << 4.0 << static_cast<int>(Method::TotalDiff) << 3.33 << kUnchanged;
    QTest::newRow("no method") << 3000.0 << 2000.0 << 1000.0 << kNoMethod << 0.0 << kUnchanged;
    QTest::newRow("negative readings") << -100.0 << 0.0 << 0.0 << recognize << 130.0 << "Unknown";
}

void ColorTest::evaluation() {
    QFETCH(double, r);
    QFETCH(double, g);
    QFETCH(double, b);
    QFETCH(int, method);
    QFETCH(double, value);
    QFETCH(QString, caption);
    const std::optional<Method> selected =
        method == kNoMethod ? std::nullopt : std::optional(static_cast<Method>(method));
    const auto evaluation = evaluateSample(r, g, b, selected);
    QVERIFY(evaluation);
    QCOMPARE(std::round(evaluation->value * 100) / 100, value);
    QCOMPARE(evaluation->caption.value_or(kUnchanged), caption);
}

void ColorTest::overflowIsNoValue_data() {
    QTest::addColumn<double>("reading");
    QTest::addColumn<int>("method");
    for (int method = 0; method <= 2; ++method) {
        // Recognize alone would give a spread of 0 here; the mean has already overflowed.
        QTest::addRow("1E308, method %d", method) << 1e308 << method;
        QTest::addRow("-1E308, method %d", method) << -1e308 << method;
    }
}

void ColorTest::overflowIsNoValue() {
    QFETCH(double, reading);
    QFETCH(int, method);
    QCOMPARE(evaluateSample(reading, reading, reading, static_cast<Method>(method)), std::nullopt);
    // Large but summable readings still evaluate.
    QVERIFY(evaluateSample(reading / 4, reading / 4, reading / 4, static_cast<Method>(method)));
}

void ColorTest::boxBoundsAreInclusive_data() {
    QTest::addColumn<double>("r");
    QTest::addColumn<double>("g");
    QTest::addColumn<double>("b");
    QTest::addColumn<QString>("caption");
    QTest::newRow("box 1 low corner") << 3708.0 << 3562.0 << 3844.0 << "Grid1";
    QTest::newRow("box 1 high corner") << 3755.0 << 3627.0 << 3919.0 << "Grid1";
    QTest::newRow("box 1 one above blue") << 3755.0 << 3590.0 << 3920.0 << "Unknown";
    QTest::newRow("box 9 low corner") << 3415.0 << 3130.0 << 2920.0 << "Grid9";
    QTest::newRow("box 9 high corner") << 3424.0 << 3161.0 << 2974.0 << "Grid9";
    QTest::newRow("box 9 one above red") << 3425.0 << 3161.0 << 2974.0 << "Unknown";
    QTest::newRow("box 14 both red values") << 2535.0 << 2202.0 << 2192.0 << "Grid13";
    QTest::newRow("box 15, red 2305") << 2305.0 << 2008.0 << 1982.0 << "Grid14";
    QTest::newRow("box 16 low corner") << 2212.0 << 1900.0 << 1813.0 << "Grid15";
    QTest::newRow("box 16 high corner") << 2231.0 << 1922.0 << 1920.0 << "Grid15";
    QTest::newRow("box 16 one below red") << 2211.0 << 1900.0 << 1813.0 << "Unknown";
    QTest::newRow("box 16 one below green") << 2212.0 << 1899.0 << 1813.0 << "Unknown";
}

void ColorTest::boxBoundsAreInclusive() {
    QFETCH(double, r);
    QFETCH(double, g);
    QFETCH(double, b);
    QFETCH(QString, caption);
    const auto evaluation = evaluateSample(r, g, b, Method::Recognize);
    QVERIFY(evaluation);
    QCOMPARE(evaluation->caption.value_or(kUnchanged), caption);
}

void ColorTest::spreadThresholds_data() {
    QTest::addColumn<double>("spread");
    QTest::addColumn<QString>("caption");
    // Red strictly highest; only the spread decides.
    QTest::newRow("629.99") << 629.99 << "Unknown";
    QTest::newRow("630") << 630.0 << "Color Black";
    QTest::newRow("680") << 680.0 << "Color Black";
    QTest::newRow("680.01") << 680.01 << "Unknown";
    QTest::newRow("1000") << 1000.0 << "Unknown";
    QTest::newRow("1000.01") << 1000.01 << "Color Red";
}

void ColorTest::spreadThresholds() {
    QFETCH(double, spread);
    QFETCH(QString, caption);
    QCOMPARE(colorCaption(3000, 2000, 1000, spread), caption);
}

void ColorTest::inRange_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("bound1");
    QTest::addColumn<double>("bound2");
    QTest::addColumn<bool>("inside");
    QTest::newRow("lower bound") << 10.0 << 10.0 << 20.0 << true;
    QTest::newRow("upper bound") << 20.0 << 10.0 << 20.0 << true;
    QTest::newRow("below") << 9.99 << 10.0 << 20.0 << false;
    QTest::newRow("above") << 20.01 << 10.0 << 20.0 << false;
    QTest::newRow("bounds swapped") << 15.0 << 20.0 << 10.0 << true;
    QTest::newRow("bounds swapped, outside") << 21.0 << 20.0 << 10.0 << false;
    QTest::newRow("equal bounds, that value") << 5.0 << 5.0 << 5.0 << true;
    QTest::newRow("equal bounds, other value") << 5.5 << 5.0 << 5.0 << false;
}

void ColorTest::inRange() {
    QFETCH(double, value);
    QFETCH(double, bound1);
    QFETCH(double, bound2);
    QFETCH(bool, inside);
    QCOMPARE(InRange(value, bound1, bound2), inside);
}

void ColorTest::readingFromDraw_data() {
    QTest::addColumn<float>("draw");
    QTest::addColumn<int>("reading");
    QTest::newRow("0") << 0.0f << 0;
    QTest::newRow("0.1999") << 0.1999f << 1999;
    QTest::newRow("0.2 wraps") << 0.2f << 0;
    QTest::newRow("0.25") << 0.25f << 500;
    QTest::newRow("0.99994 below the half") << 0.99994f << 1999;
    QTest::newRow("largest draw gives k 10000") << std::nextafter(1.0f, 0.0f) << 0;
    // 1/32 and 3/32 are exact floats whose k falls on a half: 312.5 and 937.5.
    QTest::newRow("312.5 to even") << 0.03125f << 312;
    QTest::newRow("937.5 to even") << 0.09375f << 938;
}

void ColorTest::readingFromDraw() {
    QFETCH(float, draw);
    QFETCH(int, reading);
    QCOMPARE(TestRunGenerator::readingFromDraw(draw), reading);
}

void ColorTest::testRunRepeatsAndStaysInRange() {
    TestRunGenerator first;
    TestRunGenerator second;
    QList<int> readings;
    for (int i = 0; i < 30000; ++i) {
        const float draw = first.nextDraw();
        QVERIFY(draw >= 0.0f && draw < 1.0f);
        const int reading = TestRunGenerator::readingFromDraw(draw);
        QVERIFY(reading >= 0 && reading <= 1999);
        QCOMPARE(second.nextReading(), reading);
        if (i < 6) {
            readings << reading;
        }
    }
    // Not one value over and over.
    QVERIFY(std::adjacent_find(readings.begin(), readings.end(), std::not_equal_to<>()) !=
            readings.end());
}

QTEST_GUILESS_MAIN(ColorTest)
#include "tst_color.moc"
