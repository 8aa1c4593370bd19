// The shared number forms: which texts are numbers, how numbers are written, rounding.
#include "numbertext.h"

#include <QTest>

#include <cmath>

using namespace numbers;

class NumbersTest : public QObject {
    Q_OBJECT

private slots:
    void numericText_data();
    void numericText();
    void numberForm();
    void halfToEven();
};

void NumbersTest::numericText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("value"); // as a C++ literal would read it; empty: not numeric
    // clang-format off
    const QStringList rows = {
        "3712|3712", "0123|123", "+5|5", "-5|-5", "  42 |42", "\t42\t|42", "12.5|12.5", ".5|0.5",
        "5.|5", "-.5|-0.5", "1e3|1000", "2.5E-2|0.025", "1E+16|1e16", "1E308|1e308", "1E-400|0",
        "4.9E-324|4.9e-324", "0E999999|0", "0.0000000001E-320|0", "0.001E311|1e308",
        "12345678901234567|1.2345678901234568e16", "-1234567890123456|-1234567890123456",
        "1E400|", "99999999999999999999E300|", "1000E306|", "|", "   |", "+|", ".|", "1e|",
        "1e+|", "e5|", "1,5|", "0x10|", "+-5|", "- 5|", "12 34|", "1.2.3|", "R|", "=371|",
        "12 G|", "inf|", "nan|", "--5|", "5-|", "1e5.5|"};
    // clang-format on
    for (const QString& row : rows) {
        QTest::newRow(qPrintable(row)) << row.section(u'|', 0, 0) << row.section(u'|', 1);
    }
    // Out of the double's range either way, however the digits and the exponent share it.
    const QString zeros(400, u'0');
    const auto row = [](const char* name, const QString& text, const char* value) {
        QTest::newRow(name) << text << QString(value);
    };
    // clang-format off
    row("400 digits", "1" + zeros, "");
    row("400 nines", QString(400, u'9'), "");
    row("leading zeros, then 400 digits", "0001" + zeros + ".5", "");
    row("400 digits, exponent -50", "1" + zeros + "E-50", "");
    row("400 zeros after the point", "0." + zeros + "1", "0");
    row("400 zeros after the point, exponent 50", "." + zeros + "1E+50", "0");
    row("exponent beyond every integer", "1E99999999999999999999", "");
    row("negative exponent beyond every integer", "-1E-99999999999999999999", "-0");
    row("fullwidth digit", QString::fromUtf8("\xef\xbc\x95"), "");
    row("NUL after digits", QString::fromLatin1("12\0", 3), "");
    // clang-format on
}

void NumbersTest::numericText() {
    QFETCH(QString, text);
    QFETCH(QString, value);
    QCOMPARE(toNumber(text), value.isEmpty() ? std::nullopt : std::optional(value.toDouble()));
}

void NumbersTest::numberForm() {
    // value as a C++ literal would read it | its form
    // clang-format off
    const QStringList rows = {
        "0|0", "-0|0", "2190|2190", "12.5|12.5", "-3|-3", "2.3333333333333335|2.33333333333333",
        "166.66666666666666|166.666666666667", "123456789012345|123456789012345",
        "1234567890123456|1.23456789012346E+15", "1e15|1E+15", "0.0001|0.0001", "0.00001|1E-05",
        "1.7976931348623157e308|1.79769313486231E+308", "-1.7976931348623157e308|-1.79769313486231E+308",
        "1.79769313486231e308|1.79769313486231E+308", "4.9e-324|4.94065645841247E-324",
        "0.30000000000000004|0.3"};
    // clang-format on
    for (const QString& row : rows) {
        const QString text = row.section(u'|', 1);
        QCOMPARE(numberText(row.section(u'|', 0, 0).toDouble()), text);
        QVERIFY(isNumericText(text)); // what is written reads back as a number
    }
}

void NumbersTest::halfToEven() {
    // clang-format off
    const QList<std::pair<double, double>> cases = {
        {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.5, 0}, {1.5, 2}, {2742.5, 2742},
        {2741.5, 2742}, {9999.5, 10000}, {2.4999, 2}, {2.5001, 3}, {-2.6, -3}, {7, 7},
        {4503599627370497.0, 4503599627370497.0}};
    // clang-format on
    for (const auto& [value, rounded] : cases) {
        QCOMPARE(roundHalfEven(value), rounded);
    }
}

QTEST_GUILESS_MAIN(NumbersTest)
#include "tst_numbers.moc"
