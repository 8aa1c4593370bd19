// The settings string, the fragment merge behind the Settings menu, the port mapping and
// the status display: no window, no port.
#include "connectionstatus.h"
#include "linesettings.h"
#include "portmapping.h"
#include "settingsmerge.h"

#include <QTest>

using namespace serial;

Q_DECLARE_METATYPE(QList<serial::PortInfo>)

class SerialSettingsTest : public QObject {
    Q_OBJECT

private slots:
    void mergeFragment_data();
    void mergeFragment();
    void parseSettings_data();
    void parseSettings();
    void portDevice_data();
    void portDevice();
    void statusDisplay();
    void notAvailablePrompt();
    void transmitTime();
};

void SerialSettingsTest::mergeFragment_data() {
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<QString>("merged");
    // clang-format off
    // current | fragment | merged
    const QStringList rows = {
        "9600,N,8,1|,E,,|9600,E,8,1", "9600,E,8,1|38400,,,|38400,E,8,1",
        "38400,E,8,1|,,,1.5|38400,E,8,1.5", "38400,E,8,1.5|,,7,|38400,E,7,1.5",
        "256000,N,8,1.5|,,,2|256000,N,8,2", "9600,N,8,1||9600,N,8,1", "9600,N,8,1|,,,|9600,N,8,1",
        "9600,N,8,1|110|110,N,8,1", "9600,N,8,1|110,E|110,E,8,1", "9600,N,8,1|,O,|9600,O,8,1",
        "9600,N,8,1|300,S,5,2|300,S,5,2", "9600,N,8,1|1,2,3,4,5|1,2,3,4", "9600|,E,,|9600,E,,",
        "|,E,,|,E,,", "9600,N,8,1| ,,,| ,N,8,1", ",,|,,,,,,,,|,,,", "def|abc|abc,,,",
        "9600,N,8,1,|1,|1,N,8,1", "a|,,,,x|a,,,"};
    // clang-format on
    for (const QString& row : rows) {
        const QStringList f = row.split(u'|');
        QTest::newRow(qPrintable(row)) << f[0] << f[1] << f[2];
    }
}

void SerialSettingsTest::mergeFragment() {
    QFETCH(QString, current);
    QFETCH(QString, fragment);
    QFETCH(QString, merged);
    QCOMPARE(mergeSettingsFragment(fragment, current), merged);
}

void SerialSettingsTest::parseSettings_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reported"); // empty: refused
    // clang-format off
    const QStringList rows = {
        "9600,N,8,1|9600,N,8,1", "9600,e,7,2|9600,E,7,2", "256000,S,4,1.5|256000,S,4,1.5",
        "110,M,5,2|110,M,5,2", "56000,O,6,1|56000,O,6,1", "115200,N,8,1|115200,N,8,1", "9600,N,8|",
        "9600,N,8,1,1|", "|", "0,N,8,1|", "+9600,N,8,1|", " 9600,N,8,1|", "fast,N,8,1|",
        "99999999,N,8,1|", "9600,X,8,1|", "9600,None,8,1|", "9600,N,3,1|", "9600,N,9,1|",
        "9600,N,8,3|", "9600,N,8,1.0|", "9600,E,,|"};
    // clang-format on
    for (const QString& row : rows) {
        QTest::newRow(qPrintable(row)) << row.section(u'|', 0, 0) << row.section(u'|', 1);
    }
}

void SerialSettingsTest::parseSettings() {
    QFETCH(QString, text);
    QFETCH(QString, reported);
    const auto parsed = parseLineSettings(text);
    QCOMPARE(parsed.has_value(), !reported.isEmpty());
    if (parsed) {
        QCOMPARE(settingsString(*parsed), reported);
        QCOMPARE(parseLineSettings(reported), parsed); // and it reads back the same
    }
}

namespace {

PortInfo uart(int number, bool hardware = true, bool console = false) {
    return {QStringLiteral("/dev/ttyS%1").arg(number), "", {}, true, hardware, console};
}

PortInfo adapter(const QString& name, const QString& description = {},
                 const QString& serialNumber = {}) {
    return {"/dev/" + name, description, serialNumber, false, true, false};
}

} // namespace

void SerialSettingsTest::portDevice_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QList<PortInfo>>("present");
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("source");
    using Source = PortChoice::Source;

    QTest::newRow("the variable wins") << 1 << "/dev/pts/7" << QList{uart(0), adapter("ttyUSB0")}
                                       << "/dev/pts/7" << int(Source::Variable);
    QTest::newRow("built-in UARTs first, by number")
        << 2 << "" << QList{adapter("ttyUSB0"), uart(10), uart(2)} << "/dev/ttyS10"
        << int(Source::Found);
    QTest::newRow("then adapters") << 3 << "" << QList{adapter("ttyUSB0"), uart(10), uart(2)}
                                   << "/dev/ttyUSB0" << int(Source::Found);
    QTest::newRow("no UART behind, or the console: left out")
        << 1 << "" << QList{uart(0, true, true), uart(1, false), adapter("ttyACM0")}
        << "/dev/ttyACM0" << int(Source::Found);
    QTest::newRow("adapters by name, numbers as numbers")
        << 3 << "" << QList{adapter("ttyUSB10"), adapter("ttyUSB2"), adapter("ttyACM0")}
        << "/dev/ttyUSB10" << int(Source::Found);
    QTest::newRow("beyond what is present: ttyS<n-1>")
        << 2 << "" << QList{adapter("ttyUSB0")} << "/dev/ttyS1" << int(Source::Fallback);
    QTest::newRow("nothing present")
        << 4 << "" << QList<PortInfo>{} << "/dev/ttyS3" << int(Source::Fallback);
}

void SerialSettingsTest::portDevice() {
    QFETCH(int, port);
    QFETCH(QString, variable);
    QFETCH(QList<PortInfo>, present);
    QFETCH(QString, device);
    QFETCH(int, source);
    QList<QByteArray> asked;
    const auto environment = [&](const char* name) {
        asked << name;
        return variable;
    };
    int listed = 0;
    const auto inventory = [&] {
        ++listed;
        return present;
    };
    const PortChoice choice = choosePort(port, environment, inventory);
#ifdef Q_OS_WIN
    QCOMPARE(choice.device, QStringLiteral("COM%1").arg(port));
#else
    QCOMPARE(choice.device, device);
    QCOMPARE(int(choice.source), source);
    QCOMPARE(asked, QList<QByteArray>{"ZEL_COM" + QByteArray::number(port)});
    // What the user names is used as it stands: the ports are not even listed then.
    QCOMPARE(listed, variable.isEmpty() ? 1 : 0);
    if (choice.source == PortChoice::Source::Found) {
        QCOMPARE(choice.info->device, device);
    }
#endif
}

void SerialSettingsTest::statusDisplay() {
    // open, waiting for the device: panel 1, the Connect command, Send enabled
    const QList<std::tuple<bool, bool, QString, QString>> cases = {
        {false, false, "Disconnected", "&Connect"},
        {true, false, "Connected", "Dis&connect"},
        {false, true, "Disconnected", "Dis&connect"}};
    for (const auto& [open, waiting, connection, caption] : cases) {
        const StatusDisplay display = serial::statusDisplay(open, waiting, 4, "38400,E,7,1.5");
        QCOMPARE(QStringList(
                     {display.connection, display.connectCaption, display.port, display.settings}),
                 QStringList({connection, caption, "COM4", "38400,E,7,1.5"}));
        QCOMPARE(display.sendEnabled, open);
    }
}

void SerialSettingsTest::notAvailablePrompt() {
    QCOMPARE(portNotAvailablePrompt(3, "/dev/ttyS2: No such file or directory"),
             QStringLiteral("Com3 is not available.\r\n/dev/ttyS2: No such file or directory"));
    // Failures that say what to do: the device, its group and how to join it.
    const QString denied = permissionDescription("/dev/ttyUSB0", "dialout");
    QVERIFY2(denied.startsWith("/dev/ttyUSB0: permission denied") &&
                 denied.contains("sudo usermod -aG dialout $USER") && denied.contains("log"),
             qPrintable(denied));
    QVERIFY(inUseDescription("/dev/ttyUSB0").contains("in use by another program"));
    // Refused before the device is touched: nothing behind it, or the system console unless
    // the user named it.
    using Source = PortChoice::Source;
    const auto refusal = [](const PortInfo& info, Source source) {
        return refusalBeforeOpening(2, {info.device, source, info}).value_or("");
    };
    QCOMPARE(refusal(uart(1, false), Source::Fallback), noHardwareDescription("/dev/ttyS1"));
    QCOMPARE(refusal(uart(1, false), Source::Variable), noHardwareDescription("/dev/ttyS1"));
    QCOMPARE(refusal(uart(0, true, true), Source::Found),
             systemConsoleDescription("/dev/ttyS0", 2));
    QVERIFY(systemConsoleDescription("/dev/ttyS0", 2).contains("ZEL_COM2"));
    QCOMPARE(refusal(uart(0, true, true), Source::Variable), QString());
    QCOMPARE(refusal(uart(1), Source::Found), QString());
    QCOMPARE(refusal(adapter("ttyUSB0"), Source::Found), QString());
    QCOMPARE(refusalBeforeOpening(1, {"/dev/pts/3", Source::Variable, std::nullopt}), std::nullopt);
}

void SerialSettingsTest::transmitTime() {
    // Start bit, data bits, parity bit, stop bits; a part of a millisecond counts whole.
    const QList<std::tuple<const char*, qint64, qint64>> cases = {
        {"9600,N,8,1", 960, 1000}, {"9600,E,8,1", 960, 1100}, {"9600,N,8,1.5", 1920, 2100},
        {"300,E,7,2", 30, 1100},   {"256000,N,8,1", 1, 1},    {"110,N,8,1", 0, 0}};
    for (const auto& [settings, bytes, ms] : cases) {
        QCOMPARE(transmitMilliseconds(bytes, *parseLineSettings(QString(settings))), ms);
    }
}

QTEST_GUILESS_MAIN(SerialSettingsTest)
#include "tst_serialsettings.moc"
