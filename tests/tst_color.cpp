// Color measurement: every bound of every color box from the test's own copy of them, the
// spread thresholds, the methods, the test run's readings, and on the window the "cal"
// button, the method group and the one-second test run.
#include "colormeasurement.h"
#include "colorrules.h"
#include "sampleevaluation.h"
#include "testhelpers.h"
#include "testrun.h"
#include "zelconnectwindow.h"

#include <cmath>

using namespace color;

namespace {

// The white box and the sixteen color boxes as the sensor's documentation gives them:
// red from, to, green from, to, blue from, to.
struct Box {
    const char* caption;
    int bounds[6];
};
// clang-format off
const Box kBoxes[] = {
    {"Color White", {3698, 3805, 3600, 3643, 3874, 3918}},
    {"Grid1", {3708, 3755, 3562, 3627, 3844, 3919}},  {"Grid2", {3728, 3762, 3545, 3592, 3755, 3799}},
    {"Grid3", {3675, 3716, 3494, 3542, 3621, 3677}},  {"Grid4", {3661, 3705, 3467, 3510, 3493, 3550}},
    {"Grid5", {3657, 3695, 3427, 3468, 3341, 3383}},  {"Grid6", {3653, 3743, 3413, 3459, 3213, 3257}},
    {"Grid7", {3669, 3709, 3341, 3403, 3114, 3156}},  {"Grid8", {3523, 3576, 3205, 3248, 2987, 3003}},
    {"Grid9", {3415, 3424, 3130, 3161, 2920, 2974}},  {"Grid10", {3302, 3341, 2938, 2970, 2761, 2805}},
    {"Grid11", {3250, 3266, 2777, 2813, 2701, 2715}}, {"Grid11", {3009, 3060, 2550, 2608, 2530, 2592}},
    {"Grid12", {2866, 2879, 2432, 2452, 2414, 2432}}, {"Grid13", {2535, 2537, 2202, 2214, 2192, 2205}},
    {"Grid14", {2304, 2305, 1997, 2008, 1915, 1982}}, {"Grid15", {2212, 2231, 1900, 1922, 1813, 1920}},
};
// clang-format on

bool inBox(const Box& box, const double rgb[3]) {
    for (int c = 0; c < 3; ++c) {
        if (rgb[c] < box.bounds[2 * c] || rgb[c] > box.bounds[2 * c + 1]) {
            return false;
        }
    }
    return true;
}

} // namespace

class ColorTest : public QObject {
    Q_OBJECT

private slots:
    void everyBoundOfEveryBox_data();
    void everyBoundOfEveryBox();
    void methodsAndRules_data();
    void methodsAndRules();
    void inRange();
    void testRunReadings();

    void init();
    void cleanup() { m_window.reset(); }
    void calibration_data();
    void calibration();
    void testRunOnTheWindow();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ZelConnectWindow> m_window;
    int m_plotted = 0;
};

void ColorTest::everyBoundOfEveryBox_data() {
    QTest::addColumn<double>("r");
    QTest::addColumn<double>("g");
    QTest::addColumn<double>("b");
    QTest::addColumn<QString>("caption"); // empty: no box's caption
    // On each bound (inside, since bounds are inclusive) and one step beyond it, the other two
    // readings in the middle of their ranges. What holds there follows from this table alone:
    // the last box that holds names the sample; outside every box, no box's name appears.
    for (const Box& box : kBoxes) {
        for (int bound = 0; bound < 6; ++bound) {
            for (const int step : {0, 1}) {
                double rgb[3];
                for (int c = 0; c < 3; ++c) {
                    rgb[c] = std::floor((box.bounds[2 * c] + box.bounds[2 * c + 1]) / 2.0);
                }
                rgb[bound / 2] = box.bounds[bound] + (bound % 2 ? step : -step);
                QString caption;
                for (const Box& other : kBoxes) {
                    if (inBox(other, rgb)) {
                        caption = QString::fromLatin1(other.caption);
                    }
                }
                QTest::addRow("%s bound %d %s", box.caption, bound, step ? "outside" : "inside")
                    << rgb[0] << rgb[1] << rgb[2] << caption;
            }
        }
    }
}

void ColorTest::everyBoundOfEveryBox() {
    QFETCH(double, r);
    QFETCH(double, g);
    QFETCH(double, b);
    QFETCH(QString, caption);
    const QString named = *evaluateSample(r, g, b, Method::Recognize)->caption;
    if (caption.isEmpty()) {
        for (const Box& box : kBoxes) {
            QVERIFY2(named != QLatin1String(box.caption), qPrintable(named));
        }
    } else {
        QCOMPARE(named, caption);
    }
}

void ColorTest::methodsAndRules_data() {
    QTest::addColumn<double>("r");
    QTest::addColumn<double>("g");
    QTest::addColumn<double>("b");
    QTest::addColumn<int>("method");
    QTest::addColumn<double>("value"); // to two decimals; -1: no value
    QTest::addColumn<QString>("caption");
    const auto row = [](const char* name, double r, double g, double b, int method, double value,
                        const char* caption) {
        QTest::newRow(name) << r << g << b << method << value << QString(caption);
    };
    // clang-format off
    row("white, lower bounds",    3698, 3600, 3874, 2, 312.46, "Color White");
    row("black band",             1000,  500,  500, 2,  650.0, "Color Black");
    row("black and box 8: box 8", 3560, 3210, 2990, 2,  650.8, "Grid8");
    row("black and box 12",       3029, 2550, 2530, 2,  640.5, "Grid11");
    row("red",                    3000, 2000, 1000, 2,   2190, "Color Red");
    row("green",                     0, 3000,    0, 2,   4770, "Color Green");
    row("blue",                      0,    0, 3000, 2,   3330, "Color Blue");
    row("red and green tie",      3000, 3000,    0, 2,   3330, "Unknown");
    row("green and blue tie",        0, 3000, 3000, 2,   3900, "Unknown");
    row("red and blue tie",       3000,    0, 3000, 2,   4770, "Unknown");
    row("equal readings",         2000, 2000, 2000, 2,      0, "Unknown");
    row("Avgerage",                  1,    2,    4, 0,   2.33, "");
    row("TotalDiff",              3000, 2000, 1000, 1,   2000, "");
    row("TotalDiff 4 1 2",           4,    1,    2, 1,   3.33, "");
    row("no method",              3000, 2000, 1000, -1,     0, "");
    row("large, still summable", 2.5e307, 2.5e307, 2.5e307, 0, 2.5e307, "");
    // clang-format on
    for (int m = 0; m <= 2; ++m) {
        // Recognize alone would give a spread of 0 here; the mean has already overflowed.
        QTest::addRow("1E308, method %d", m) << 1e308 << 1e308 << 1e308 << m << -1.0 << "";
        QTest::addRow("-1E308, method %d", m) << -1e308 << -1e308 << -1e308 << m << -1.0 << "";
    }
    // The spread alone decides black and the dominant channel (red strictly highest).
    for (const double spread : {629.99, 630.0, 680.0, 680.01, 1000.0, 1000.01}) {
        const QString caption = spread >= 630 && spread <= 680 ? "Color Black"
                                : spread > 1000                ? "Color Red"
                                                               : "Unknown";
        QTest::addRow("spread %.2f", spread)
            << 3000.0 << 2000.0 << 1000.0 << -2 << spread << caption;
    }
}

void ColorTest::methodsAndRules() {
    QFETCH(double, r);
    QFETCH(double, g);
    QFETCH(double, b);
    QFETCH(int, method);
    QFETCH(double, value);
    QFETCH(QString, caption);
    if (method == -2) { // the caption for a given spread
        QCOMPARE(colorCaption(r, g, b, value), caption);
        return;
    }
    const auto evaluation = evaluateSample(
        r, g, b, method < 0 ? std::nullopt : std::optional(static_cast<Method>(method)));
    QCOMPARE(evaluation.has_value(), value != -1);
    if (evaluation) {
        QVERIFY2(std::abs(evaluation->value - value) <= 0.005 + std::abs(value) * 1e-12,
                 qPrintable(QString::number(evaluation->value, 'g', 17)));
        QCOMPARE(evaluation->caption.value_or(""), caption);
    }
}

void ColorTest::inRange() {
    // Both bounds included, in either order.
    for (const auto& [lo, hi] : {std::pair{10.0, 20.0}, std::pair{20.0, 10.0}}) {
        QVERIFY(InRange(10, lo, hi) && InRange(20, lo, hi) && InRange(15, lo, hi));
        QVERIFY(!InRange(9.99, lo, hi) && !InRange(20.01, lo, hi));
    }
}

void ColorTest::testRunReadings() {
    // 1/32 and 3/32 are exact floats whose k falls on a half: 312.5 and 937.5 go to even; the
    // largest draw gives k 10000, which wraps to 0 as 0.2 does.
    const QList<std::pair<float, int>> draws = {
        {0.0f, 0},       {0.1999f, 1999}, {0.2f, 0}, {0.25f, 500}, {std::nextafter(1.0f, 0.0f), 0},
        {0.03125f, 312}, {0.09375f, 938}};
    for (const auto& [draw, reading] : draws) {
        QCOMPARE(TestRunGenerator::readingFromDraw(draw), reading);
    }
    // The same draws on every start, in range, not one value over and over.
    TestRunGenerator first;
    TestRunGenerator second;
    QSet<int> seen;
    float highest = 0;
    for (int i = 0; i < 3000; ++i) {
        const float d = first.nextDraw();
        QVERIFY(d >= 0.0f && d < 1.0f);
        highest = std::max(highest, d);
        const int r = TestRunGenerator::readingFromDraw(d);
        QCOMPARE(second.nextReading(), r);
        seen << r;
    }
    QVERIFY(seen.size() > 1000 && highest > 0.99f); // the draws span all of [0, 1)
}

void ColorTest::init() {
    m_window = std::make_unique<ZelConnectWindow>(m_dir.filePath("app.txt"));
    m_plotted = 0;
    m_window->colorMeasurement().setPlotSample([this] { ++m_plotted; });
}

void ColorTest::calibration_data() {
    QTest::addColumn<QStringList>("sample");
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("textCal");
    QTest::addColumn<QString>("label");
    // red, green, blue | method | TextCal | label
    // clang-format off
    const QStringList rows = {
        "R,G,B|2|Text1|Recognizing...", ",2000,1000|2|Text1|Recognizing...",
        "3000,,1000|2|Text1|Recognizing...", "3000,2000,|2|Text1|Recognizing...",
        " 3000,+2000 ,1E3|2|2190|Color Red", "1,2,4|0|2.33333333333333|Recognizing...",
        "3000,2000,1000|1|2000|Recognizing...", "1E308,1E308,1E308|0|Text1|Recognizing..."};
    // clang-format on
    for (const QString& row : rows) {
        const QStringList f = row.split(u'|');
        QTest::newRow(qPrintable(row)) << f[0].split(u',') << f[1].toInt() << f[2] << f[3];
    }
}

void ColorTest::calibration() {
    QFETCH(QStringList, sample);
    QFETCH(int, method);
    QFETCH(QString, textCal);
    QFETCH(QString, label);
    m_window->controls().TextR->setText(sample[0]);
    m_window->controls().TextG->setText(sample[1]);
    m_window->controls().TextB->setText(sample[2]);
    m_window->controls().functOption[method]->setChecked(true);
    QTest::mouseClick(m_window->controls().cmdCal, Qt::LeftButton);
    QTest::mouseClick(m_window->controls().cmdCal, Qt::LeftButton);
    QCOMPARE(m_window->controls().TextCal->text(), textCal);
    QCOMPARE(m_window->controls().lblColor->text(), label);
    QCOMPARE(m_plotted, textCal == "Text1" ? 0 : 2); // each press evaluates and plots
}

void ColorTest::testRunOnTheWindow() {
    QTimer* timer = m_window->controls().Timer1;
    QTest::mouseClick(m_window->controls().cmdGo, Qt::LeftButton);
    QVERIFY(timer->isActive() && timer->interval() == 1000);
    QCOMPARE(m_plotted, 0); // the first sample comes after a full second
    QTRY_COMPARE_WITH_TIMEOUT(m_plotted, 1, 2500);
    QTest::mouseClick(m_window->controls().cmdGo, Qt::LeftButton);
    QVERIFY(!timer->isActive());
    for (QLineEdit* field :
         {m_window->controls().TextR, m_window->controls().TextG, m_window->controls().TextB}) {
        const int reading = field->text().toInt();
        QVERIFY(reading >= 0 && reading <= 1999 && QString::number(reading) == field->text());
    }
    QVERIFY(m_window->controls().lblColor->text() != QStringLiteral("Recognizing..."));
    // A tick that falls due while a box is open runs after it, not inside it.
    m_window->setMessagePresenter([this](QWidget*, const MessageBoxRequest&) {
        QTest::qWait(1300);
        QCOMPARE(m_plotted, 1);
    });
    m_window->colorMeasurement().cmdGo_Click();
    m_window->mnuHelpSel_Click(0);
    QCOMPARE(m_plotted, 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_plotted, 2, 500);
    m_window->colorMeasurement().cmdGo_Click();
    // Stopped, a box that opens and closes takes no sample.
    m_window->setMessagePresenter([](QWidget*, const MessageBoxRequest&) {});
    m_window->mnuHelpSel_Click(0);
    QTest::qWait(50);
    QCOMPARE(m_plotted, 2);
}

QTEST_MAIN(ColorTest)
#include "tst_color.moc"
