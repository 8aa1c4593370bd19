// Tolvek: CalculateSample, the recalculation after every received character (as a stream of
// reads), no value from both sides of a close, and Enter keeping the line.
#include "calculatesample.h"
#include "devicewindow.h"
#include "tolvekwindow.h"

#include <array>

using tolvek::CalculateSample;
using tolvek::Method;

class TolvekTest : public QObject {
    Q_OBJECT

private slots:
    void init() { w = std::make_unique<DeviceWindow<TolvekWindow>>(); }
    void cleanup() { w.reset(); }

    void calculation();
    void recalculatedAfterEveryCharacter_data();
    void recalculatedAfterEveryCharacter();
    void enterSendsAndKeepsTheLine();

private:
    std::unique_ptr<DeviceWindow<TolvekWindow>> w;
};

void TolvekTest::calculation() {
    // r, g, b, method (-1: none), value (-1: none)
    // clang-format off
    const QList<std::array<double, 5>> cases = {
        {10, 20, 30, 0, 20}, {10, 20, 30, 1, 20}, {1, 2, 4, 0, 7.0 / 3}, {1, 2, 4, 1, 10.0 / 3},
        {4, 2, 1, 1, 10.0 / 3}, {10, 20, 30, 2, 0}, {1, 2, 4, -1, 0}, {1e308, 1e308, 1e308, 0, -1},
        {1e308, 1e308, 1e308, 2, -1}, {1e307, 1e307, 1e307, 0, 1e307}};
    // clang-format on
    for (const auto& [r, g, b, method, value] : cases) {
        const auto result = CalculateSample(
            r, g, b, method < 0 ? std::nullopt : std::optional(static_cast<Method>(int(method))));
        QCOMPARE(result.value_or(-1), value);
    }
}

void TolvekTest::recalculatedAfterEveryCharacter_data() {
    // "|" closes the port, "M1" chooses method 1, "S1E308" writes all three fields
    QTest::addColumn<QStringList>("reads");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QString>("textCal");
    QTest::newRow("nothing until all three are numbers, then at every character")
        << QStringList{"R=0100G=0200B=0300\r\n"} << QList<double>{100, 101, 110, 200} << "200";
    QTest::newRow("the next sample mixes old and new, also split over reads")
        << QStringList{"R=0100G=0200B=0300\r\n", "R=0", "1"}
        << QList<double>{100, 101, 110, 200, 500.0 / 3, 501.0 / 3} << "167";
    QTest::newRow("no value from both sides of a close")
        << QStringList{"R=0100G=0200B=0300\r\n", "|", "G=0500", "R=0100B=0300"}
        << QList<double>{100, 101, 110, 200, 200, 201, 210, 300} << "300";
    QTest::newRow("a method counts from the next character, a blank recalculates")
        << QStringList{"R=0010G=0020B=0040", "M1", " "}
        << QList<double>{10, 10, 34.0 / 3, 70.0 / 3, 100.0 / 3} << "33.3333333333333";
    QTest::newRow("Option3 shows 0")
        << QStringList{"M2", "R=0100G=0200B=0300"} << QList<double>{0, 0, 0, 0} << "0";
    const double third = 1e308 / 3;
    QTest::newRow("overflowing readings give no value, and it goes on")
        << QStringList{"R=0010G=0020B=0030", "S1E308", " ", "G=0002B=0003"}
        << QList<double>{10, 10, 11, 20, third, third, third, third} << "3.33333333333333E+307";
}

void TolvekTest::recalculatedAfterEveryCharacter() {
    QFETCH(QStringList, reads);
    QFETCH(QList<double>, values);
    QFETCH(QString, textCal);
    w->window->recordValues(true);
    for (const QString& read : reads) {
        if (read == "|") {
            emit w->comm().StreamEnded();
        } else if (read.startsWith('S')) {
            for (const auto field : {frmMain::SampleText::Red, frmMain::SampleText::Green,
                                     frmMain::SampleText::Blue}) {
                w->window->setSampleText(field, read.mid(1));
            }
        } else if (read.startsWith('M')) {
            w->window->controls().functOption[read.mid(1).toInt()]->setChecked(true);
        } else {
            w->window->receive(read.toLatin1());
        }
    }
    const QList<double> recorded = w->window->takeRecordedValues();
    QCOMPARE(recorded.size(), values.size());
    for (qsizetype i = 0; i < values.size(); ++i) {
        QCOMPARE(recorded[i], values[i]); // to about 12 digits: the sums' order may differ
    }
    QCOMPARE(w->window->sampleText(frmMain::SampleText::Result), textCal);
    QTRY_COMPARE(w->window->controls().TextCal->text(), textCal); // shown with the frame
}

void TolvekTest::enterSendsAndKeepsTheLine() {
    w->showActive();
    QVERIFY(w->connectPort());
    QLineEdit* line = w->window->controls().txtTextOut;
    QTest::keyClicks(line, "MEAS");
    QTest::keyClick(line, Qt::Key_Return);
    QTest::keyClick(line, Qt::Key_Return);
    QCOMPARE(line->text(), QStringLiteral("MEAS"));
    QCOMPARE(w->readDevice(), QByteArray("MEASMEAS"));
    // The boxes of the port keep Tolvek's own application title.
    qputenv("ZEL_COM1", "/nonexistent/zel-test-port");
    w->window->mnuConnect_Click();
    w->window->mnuConnect_Click();
    QCOMPARE(w->boxes.value(0).title, QStringLiteral("Zel_Connect"));
}

QTEST_MAIN(TolvekTest)
#include "tst_tolvek.moc"
