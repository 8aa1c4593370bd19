// The shared number forms: which texts are numbers, how numbers are written, rounding.
#include "numbertext.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace numbers;

class NumbersTest : public QObject {
    Q_OBJECT

private slots:
    void numericText_data();
    void numericText();
    void numberForm_data();
    void numberForm();
    void halfToEven_data();
    void halfToEven();
};

void NumbersTest::numericText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("value");

    QTest::newRow("digits") << "3712" << true << 3712.0;
    QTest::newRow("leading zeros") << "0123" << true << 123.0;
    QTest::newRow("plus") << "+5" << true << 5.0;
    QTest::newRow("minus") << "-5" << true << -5.0;
    QTest::newRow("blanks around") << "  42 " << true << 42.0;
    QTest::newRow("tab around") << "\t42\t" << true << 42.0;
    QTest::newRow("fraction") << "12.5" << true << 12.5;
    QTest::newRow(".5") << ".5" << true << 0.5;
    QTest::newRow("5.") << "5." << true << 5.0;
    QTest::newRow("-.5") << "-.5" << true << -0.5;
    QTest::newRow("exponent") << "1e3" << true << 1000.0;
    QTest::newRow("exponent capital, signed") << "2.5E-2" << true << 0.025;
    QTest::newRow("exponent plus") << "1E+16" << true << 1e16;
    QTest::newRow("huge") << "1E308" << true << 1e308;
    QTest::newRow("tiny reads as zero") << "1E-400" << true << 0.0;
    QTest::newRow("smallest denormal") << "4.9E-324" << true << 4.9e-324;
    QTest::newRow("zero with huge exponent") << "0E999999" << true << 0.0;
    QTest::newRow("beyond double range") << "1E400" << false << 0.0;
    QTest::newRow("beyond, many digits") << "99999999999999999999E300" << false << 0.0;
    QTest::newRow("below range despite digits") << "0.0000000001E-320" << true << 0.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("blanks only") << "   " << false << 0.0;
    QTest::newRow("sign only") << "+" << false << 0.0;
    QTest::newRow("point only") << "." << false << 0.0;
    QTest::newRow("1e") << "1e" << false << 0.0;
    QTest::newRow("1e+") << "1e+" << false << 0.0;
    QTest::newRow("e5") << "e5" << false << 0.0;
    QTest::newRow("comma") << "1,5" << false << 0.0;
    QTest::newRow("hex") << "0x10" << false << 0.0;
    QTest::newRow("two signs") << "+-5" << false << 0.0;
    QTest::newRow("blank after sign") << "- 5" << false << 0.0;
    QTest::newRow("blank inside") << "12 34" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
    QTest::newRow("marker left in") << "R" << false << 0.0;
    QTest::newRow("separator captured") << "=371" << false << 0.0;
    QTest::newRow("value and next marker") << "12 G" << false << 0.0;
    QTest::newRow("inf") << "inf" << false << 0.0;
    QTest::newRow("nan") << "nan" << false << 0.0;
    QTest::newRow("fullwidth digit") << QString::fromUtf8("\xef\xbc\x95") << false << 0.0;
    QTest::newRow("NUL after digits") << QString::fromLatin1("12\0", 3) << false << 0.0;
}

void NumbersTest::numericText() {
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(double, value);
    QCOMPARE(isNumericText(text), numeric);
    const auto converted = toNumber(text);
    QCOMPARE(converted.has_value(), numeric);
    if (converted) {
        QCOMPARE(*converted, value);
    }
}

void NumbersTest::numberForm_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("whole") << 2190.0 << "2190";
    QTest::newRow("half") << 12.5 << "12.5";
    QTest::newRow("negative whole") << -3.0 << "-3";
    QTest::newRow("7/3") << 7.0 / 3 << "2.33333333333333";
    QTest::newRow("10/3") << 10.0 / 3 << "3.33333333333333";
    QTest::newRow("500/3") << 500.0 / 3 << "166.666666666667";
    QTest::newRow("15 digits whole") << 123456789012345.0 << "123456789012345";
    QTest::newRow("16 digits whole") << 1234567890123456.0 << "1.23456789012346E+15";
    QTest::newRow("1E+16") << 1e16 << "1E+16";
    QTest::newRow("1E+15") << 1e15 << "1E+15";
    QTest::newRow("0.0001") << 0.0001 << "0.0001";
    QTest::newRow("0.00001") << 0.00001 << "1E-05";
    QTest::newRow("huge") << 1e308 << "1E+308";
    QTest::newRow("largest double reads back")
        << std::numeric_limits<double>::max() << "1.79769313486231E+308";
    QTest::newRow("most negative double")
        << std::numeric_limits<double>::lowest() << "-1.79769313486231E+308";
    QTest::newRow("tiny") << 4.9e-324 << "4.94065645841247E-324";
    QTest::newRow("binary fraction noise") << 0.1 + 0.2 << "0.3";
    QTest::newRow("position") << 16400.0 << "16400";
}

void NumbersTest::numberForm() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(numberText(value), text);
    // What is written reads back as a number.
    QVERIFY(isNumericText(text));
}

void NumbersTest::halfToEven_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");
    QTest::newRow("2.5") << 2.5 << 2.0;
    QTest::newRow("3.5") << 3.5 << 4.0;
    QTest::newRow("-2.5") << -2.5 << -2.0;
    QTest::newRow("-3.5") << -3.5 << -4.0;
    QTest::newRow("0.5") << 0.5 << 0.0;
    QTest::newRow("2742.5") << 2742.5 << 2742.0;
    QTest::newRow("2741.5") << 2741.5 << 2742.0;
    QTest::newRow("9999.5") << 9999.5 << 10000.0;
    QTest::newRow("2.4999") << 2.4999 << 2.0;
    QTest::newRow("2.5001") << 2.5001 << 3.0;
    QTest::newRow("whole") << 7.0 << 7.0;
    QTest::newRow("large") << 4503599627370497.0 << 4503599627370497.0;
}

void NumbersTest::halfToEven() {
    QFETCH(double, value);
    QFETCH(double, rounded);
    QCOMPARE(roundHalfEven(value), rounded);
}

QTEST_GUILESS_MAIN(NumbersTest)
#include "tst_numbers.moc"
