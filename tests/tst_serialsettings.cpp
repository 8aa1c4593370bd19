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
    void workedExamplesInSequence();
    void everyMergeHasFourFields_data();
    void everyMergeHasFourFields();
    void parseSettings_data();
    void parseSettings();
    void settingsStringRoundTrip();
    void portDevice_data();
    void portDevice();
    void statusDisplay_data();
    void statusDisplay();
    void notAvailablePrompt();
    void transmitTime_data();
    void transmitTime();
};

void SerialSettingsTest::mergeFragment_data() {
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<QString>("merged");

    QTest::newRow("parity Even") << "9600,N,8,1"
                                 << ",E,,"
                                 << "9600,E,8,1";
    QTest::newRow("speed 38400") << "9600,E,8,1"
                                 << "38400,,,"
                                 << "38400,E,8,1";
    QTest::newRow("stop 1.5") << "38400,E,8,1"
                              << ",,,1.5"
                              << "38400,E,8,1.5";
    QTest::newRow("data 7") << "38400,E,8,1.5"
                            << ",,7,"
                            << "38400,E,7,1.5";

    // Every item of the four setting menus changes its own field only.
    const QStringList speeds = {"110",   "300",   "600",   "1200",  "2400",   "9600",  "14400",
                                "19200", "28800", "38400", "56000", "128000", "256000"};
    for (const QString& speed : speeds) {
        QTest::addRow("speed item %s", qPrintable(speed))
            << "9600,N,8,1" << speed + ",,," << speed + ",N,8,1";
    }
    for (int bits = 4; bits <= 8; ++bits) {
        QTest::addRow("data item %d", bits) << "9600,N,8,1" << QStringLiteral(",,%1,").arg(bits)
                                            << QStringLiteral("9600,N,%1,1").arg(bits);
    }
    for (const char* parity : {"E", "M", "N", "O", "S"}) {
        QTest::addRow("parity item %s", parity)
            << "9600,N,8,1" << QStringLiteral(",%1,,").arg(parity)
            << QStringLiteral("9600,%1,8,1").arg(parity);
    }
    for (const char* stop : {"1", "1.5", "2"}) {
        QTest::addRow("stop item %s", stop) << "9600,N,8,2" << QStringLiteral(",,,%1").arg(stop)
                                            << QStringLiteral("9600,N,8,%1").arg(stop);
    }

    QTest::newRow("empty fragment keeps all") << "9600,N,8,1"
                                              << ""
                                              << "9600,N,8,1";
    QTest::newRow("four empty fields keep all") << "9600,N,8,1"
                                                << ",,,"
                                                << "9600,N,8,1";
    QTest::newRow("one field") << "9600,N,8,1"
                               << "110"
                               << "110,N,8,1";
    QTest::newRow("two fields") << "9600,N,8,1"
                                << "110,E"
                                << "110,E,8,1";
    QTest::newRow("three fields, last empty") << "9600,N,8,1"
                                              << ",O,"
                                              << "9600,O,8,1";
    QTest::newRow("all four new") << "9600,N,8,1"
                                  << "300,S,5,2"
                                  << "300,S,5,2";
    QTest::newRow("fifth field ignored") << "9600,N,8,1"
                                         << "1,2,3,4,5"
                                         << "1,2,3,4";
    QTest::newRow("short current string") << "9600"
                                          << ",E,,"
                                          << "9600,E,,";
    QTest::newRow("empty current string") << ""
                                          << ",E,,"
                                          << ",E,,";
    QTest::newRow("long field values") << "256000,N,8,1.5"
                                       << ",,,2"
                                       << "256000,N,8,2";
    QTest::newRow("blank is a value") << "9600,N,8,1"
                                      << " ,,,"
                                      << " ,N,8,1";
}

void SerialSettingsTest::mergeFragment() {
    QFETCH(QString, current);
    QFETCH(QString, fragment);
    QFETCH(QString, merged);
    QCOMPARE(mergeSettingsFragment(fragment, current), merged);
}

void SerialSettingsTest::workedExamplesInSequence() {
    QString settings = "9600,N,8,1";
    for (const char* fragment : {",E,,", "38400,,,", ",,,1.5", ",,7,"}) {
        settings = mergeSettingsFragment(QString::fromLatin1(fragment), settings);
    }
    QCOMPARE(settings, QStringLiteral("38400,E,7,1.5"));
}

void SerialSettingsTest::everyMergeHasFourFields_data() {
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<QString>("current");
    QTest::newRow("commas only") << ",,,,,,,,"
                                 << ",,";
    QTest::newRow("no commas") << "abc"
                               << "def";
    QTest::newRow("both empty") << ""
                                << "";
    QTest::newRow("trailing comma") << "1,"
                                    << "9600,N,8,1,";
    QTest::newRow("leading commas") << ",,,,x"
                                    << "a";
}

void SerialSettingsTest::everyMergeHasFourFields() {
    QFETCH(QString, fragment);
    QFETCH(QString, current);
    QCOMPARE(mergeSettingsFragment(fragment, current).count(u','), 3);
}

void SerialSettingsTest::parseSettings_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("reported");

    QTest::newRow("default") << "9600,N,8,1" << true << "9600,N,8,1";
    QTest::newRow("lower-case parity") << "9600,e,7,2" << true << "9600,E,7,2";
    QTest::newRow("every extreme menu value") << "256000,S,4,1.5" << true << "256000,S,4,1.5";
    QTest::newRow("slowest") << "110,M,5,2" << true << "110,M,5,2";
    QTest::newRow("speed off the menu") << "115200,N,8,1" << true << "115200,N,8,1";
    QTest::newRow("three fields") << "9600,N,8" << false << "";
    QTest::newRow("five fields") << "9600,N,8,1,1" << false << "";
    QTest::newRow("empty") << "" << false << "";
    QTest::newRow("speed zero") << "0,N,8,1" << false << "";
    QTest::newRow("speed with sign") << "+9600,N,8,1" << false << "";
    QTest::newRow("speed with blank") << " 9600,N,8,1" << false << "";
    QTest::newRow("speed not a number") << "fast,N,8,1" << false << "";
    QTest::newRow("speed too high") << "99999999,N,8,1" << false << "";
    QTest::newRow("parity X") << "9600,X,8,1" << false << "";
    QTest::newRow("parity word") << "9600,None,8,1" << false << "";
    QTest::newRow("3 data bits") << "9600,N,3,1" << false << "";
    QTest::newRow("9 data bits") << "9600,N,9,1" << false << "";
    QTest::newRow("stop 3") << "9600,N,8,3" << false << "";
    QTest::newRow("stop 1.0") << "9600,N,8,1.0" << false << "";
    QTest::newRow("empty field from a merge") << "9600,E,," << false << "";
}

void SerialSettingsTest::parseSettings() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, reported);
    const auto parsed = parseLineSettings(text);
    QCOMPARE(parsed.has_value(), valid);
    if (parsed) {
        QCOMPARE(settingsString(*parsed), reported);
    }
}

void SerialSettingsTest::settingsStringRoundTrip() {
    const LineSettings defaults;
    QCOMPARE(settingsString(defaults), QStringLiteral("9600,N,8,1"));
    for (const auto stop : {StopBits::One, StopBits::OneAndHalf, StopBits::Two}) {
        LineSettings settings{56000, 'O', 6, stop};
        const auto parsed = parseLineSettings(settingsString(settings));
        QVERIFY(parsed.has_value());
        QVERIFY(*parsed == settings);
    }
}

namespace {

PortInfo uart(int number, bool hardware = true, bool console = false) {
    return {QStringLiteral("/dev/ttyS%1").arg(number),
            "built-in serial port",
            {},
            true,
            hardware,
            console};
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

void SerialSettingsTest::statusDisplay_data() {
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("waiting");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("connection");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("portPanel");

    QTest::newRow("closed on 1") << false << false << 1 << "Disconnected"
                                 << "&Connect"
                                 << "COM1";
    QTest::newRow("open on 2") << true << false << 2 << "Connected"
                               << "Dis&connect"
                               << "COM2";
    QTest::newRow("waiting for the device on 4") << false << true << 4 << "Disconnected"
                                                 << "Dis&connect"
                                                 << "COM4";
}

void SerialSettingsTest::statusDisplay() {
    QFETCH(bool, open);
    QFETCH(bool, waiting);
    QFETCH(int, port);
    QFETCH(QString, connection);
    QFETCH(QString, caption);
    QFETCH(QString, portPanel);
    const StatusDisplay display = serial::statusDisplay(open, waiting, port, "38400,E,7,1.5");
    QCOMPARE(display.connection, connection);
    QCOMPARE(display.connectCaption, caption);
    QCOMPARE(display.port, portPanel);
    QCOMPARE(display.settings, QStringLiteral("38400,E,7,1.5"));
    QCOMPARE(display.sendEnabled, open);
}

void SerialSettingsTest::notAvailablePrompt() {
    QCOMPARE(portNotAvailablePrompt(3, "/dev/ttyS2: No such file or directory"),
             QStringLiteral("Com3 is not available.\r\n/dev/ttyS2: No such file or directory"));
    // Failures that say what to do: the device, its group and how to join it.
    const QString denied = permissionDescription("/dev/ttyUSB0", "dialout");
    QVERIFY2(denied.startsWith("/dev/ttyUSB0: permission denied") && denied.contains("dialout") &&
                 denied.contains("sudo usermod -aG dialout $USER") && denied.contains("log"),
             qPrintable(denied));
}

void SerialSettingsTest::transmitTime_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("ms");
    QTest::newRow("8N1: ten bits a byte") << "9600,N,8,1" << qint64(960) << qint64(1000);
    QTest::newRow("parity adds a bit") << "9600,E,8,1" << qint64(960) << qint64(1100);
    QTest::newRow("1.5 stop bits") << "9600,N,8,1.5" << qint64(1920) << qint64(2100);
    QTest::newRow("7E2") << "300,E,7,2" << qint64(30) << qint64(1100);
    QTest::newRow("a part of a millisecond counts whole")
        << "256000,N,8,1" << qint64(1) << qint64(1);
    QTest::newRow("nothing") << "110,N,8,1" << qint64(0) << qint64(0);
}

void SerialSettingsTest::transmitTime() {
    QFETCH(QString, settings);
    QFETCH(qint64, bytes);
    QFETCH(qint64, ms);
    QCOMPARE(transmitMilliseconds(bytes, *parseLineSettings(settings)), ms);
}

QTEST_GUILESS_MAIN(SerialSettingsTest)
#include "tst_serialsettings.moc"
