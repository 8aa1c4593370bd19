// The settings string, the fragment merge behind the Settings menu, the port mapping and
// the status display: no window, no port.
#include "connectionstatus.h"
#include "devicewatch.h"
#include "linesettings.h"
#include "portmapping.h"
#include "settingsmerge.h"
#include "usbadapter.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
// dbt.h needs windows.h first.
#include <dbt.h>
#undef interface // windows.h's, for COM: the tables name USB interfaces
#endif

using namespace serial;

Q_DECLARE_METATYPE(QList<serial::PortInfo>)
Q_DECLARE_METATYPE(QList<QList<serial::PortInfo>>)

class SerialSettingsTest : public QObject {
    Q_OBJECT

private slots:
    void mergeFragment_data();
    void mergeFragment();
    void parseSettings_data();
    void parseSettings();
    void reopening_data();
    void reopening();
    void comNumbers_data();
    void comNumbers();
    void windowsPorts_data();
    void windowsPorts();
    void statusDisplay();
    void devicesThatAppear();
    void serialDevicesChange();
    void failureDescriptions();
    void refusedBeforeOpening();
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
        "10000000,N,8,1|10000000,N,8,1", "9600,e,7,2|9600,E,7,2", "256000,S,4,1.5|256000,S,4,1.5",
        "110,M,5,2|110,M,5,2", "56000,O,6,1|56000,O,6,1", "115200,N,8,1|115200,N,8,1", "9600,N,8|",
        "9600,N,8,1,1|", "|", "0,N,8,1|", "+9600,N,8,1|", " 9600,N,8,1|", "fast,N,8,1|",
        "10000001,N,8,1|", "9600,X,8,1|", "9600,None,8,1|", "9600,N,3,1|", "9600,N,9,1|",
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

PortInfo uart(const QString& name, bool hardware = true, bool console = false) {
    PortInfo port;
    port.device = "/dev/" + name;
    port.builtIn = true;
    port.hardware = hardware;
    port.systemConsole = console;
    return port;
}

// An adapter by its name in /dev.
PortInfo usb(const QString& name, const QString& serial, const QString& interface = "00",
             const QString& location = "1-1") {
    return usbAdapter("/dev/" + name, serial, interface, location);
}

const PortInfo kPty = [] {
    PortInfo port;
    port.device = "/dev/pts/3";
    return port;
}();

} // namespace

void SerialSettingsTest::reopening_data() {
    QTest::addColumn<QList<PortInfo>>("atOpen"); // the first was opened
    QTest::addColumn<QString>("named");
    QTest::addColumn<QList<PortInfo>>("later");
    QTest::addColumn<QString>("link"); // where the named link leads later
    QTest::addColumn<QString>("reopened");
    QTest::addColumn<bool>("saysWhyNot");
    const auto row = [](const char* name, QList<PortInfo> atOpen, QList<PortInfo> later,
                        const char* reopened, bool whyNot = false, const char* named = "",
                        const char* link = "") {
        QTest::newRow(name) << atOpen << QString(named) << later << QString(link)
                            << QString(reopened) << whyNot;
    };
    const PortInfo a = usb("ttyUSB0", "A50285BI");
    row("adapter back under another name", {a}, {usb("ttyUSB1", "A50285BI")}, "/dev/ttyUSB1");
    row("another adapter took its path", {a}, {usb("ttyUSB0", "B7")}, "");
    row("dual adapter: not the other interface",
        {usb("ttyUSB0", "F1", "00"), usb("ttyUSB1", "F1", "01")}, {usb("ttyUSB1", "F1", "01")}, "");
    row("shared serial: not the clone on another USB port",
        {usb("ttyUSB0", "0001", "00", "1-1"), usb("ttyUSB1", "0001", "00", "1-2")},
        {usb("ttyUSB1", "0001", "00", "1-2")}, "");
    row("shared serial: back on its USB port",
        {usb("ttyUSB0", "0001", "00", "1-1"), usb("ttyUSB1", "0001", "00", "1-2")},
        {usb("ttyUSB1", "0001", "00", "1-2"), usb("ttyUSB2", "0001", "00", "1-1")}, "/dev/ttyUSB2");
    row("two match equally: neither", {a},
        {usb("ttyUSB1", "A50285BI", "00", "1-2"), usb("ttyUSB2", "A50285BI", "00", "1-3")}, "",
        true);
    row("no serial: not on another USB port", {usb("ttyUSB0", "", "00", "1-4")},
        {usb("ttyUSB0", "", "00", "1-3")}, "");
    row("no serial: the same USB port", {usb("ttyUSB0", "", "00", "1-4")},
        {usb("ttyUSB3", "", "00", "1-4")}, "/dev/ttyUSB3");
    row("built-in UART: its path", {uart("ttyS1")}, {uart("ttyS1")}, "/dev/ttyS1");
    row("pseudo-terminal by its number: never", {kPty}, {kPty}, "", false, "/dev/pts/3");
    row("pseudo-terminal behind a named link", {kPty}, {}, "/tmp/sensor", false, "/tmp/sensor",
        "/dev/pts/9");
    row("the link leads to another kind of device", {kPty}, {a}, "", true, "/tmp/sensor",
        "/dev/ttyUSB0");
    row("an adapter behind the link: found by its identity", {a}, {usb("ttyUSB1", "A50285BI")},
        "/dev/ttyUSB1", false, "/dev/serial/by-id/ftdi", "/dev/ttyUSB1");
}

void SerialSettingsTest::reopening() {
    QFETCH(QList<PortInfo>, atOpen);
    QFETCH(QString, named);
    QFETCH(QList<PortInfo>, later);
    QFETCH(QString, link);
    QFETCH(QString, reopened);
    QFETCH(bool, saysWhyNot);
    const DeviceIdentity lost = identityOf(atOpen.front(), atOpen, named);
    const auto resolve = [&](const QString& path) {
        const bool there = std::any_of(later.begin(), later.end(),
                                       [&](const PortInfo& port) { return port.device == path; });
        return path == named && !link.isEmpty() ? link : there ? path : QString();
    };
    const Reopening back = whereToReopen(lost, later, resolve);
    QCOMPARE(back.device, reopened);
    QCOMPARE(!back.notYet.isEmpty(), saysWhyNot);
}

void SerialSettingsTest::comNumbers_data() {
    QTest::addColumn<QList<QList<PortInfo>>>("seen"); // the ports present, one list a day
    QTest::addColumn<QString>("variable");
    // Com 1 to 4 after the last day ("away": not plugged in), then "n=device" for each further
    // port the Port menu lists.
    QTest::addColumn<QStringList>("com");
    QTest::addColumn<QByteArray>("conf"); // ports.conf before; its first group names no device
    const PortInfo a = usb("ttyUSB0", "A"), b = usb("ttyUSB1", "B"), c = usb("ttyUSB2", "C"),
                   d = usb("ttyUSB3", "D");
    const auto at = [](PortInfo port, const char* name) {
        port.device = QStringLiteral("/dev/") + name;
        return port;
    };
    const auto row = [](const char* name, QList<QList<PortInfo>> seen, QStringList com,
                        const char* variable = "", const char* conf = "") {
        QTest::newRow(name) << seen << QString(variable) << com << QByteArray(conf);
    };
    row("UARTs with hardware first, then adapters",
        {{a, uart("ttyS2", false), uart("ttyS1"), uart("ttyS0", true, true)}},
        {"/dev/ttyS1", "/dev/ttyUSB0", "", "/dev/ttyS3"});
    row("an adapter keeps its number when another sorts before it", {{a}, {usb("ttyACM0", "M"), a}},
        {"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS2", "/dev/ttyS3"});
    row("unplugged: its number waits for it", {{a, b}, {b}},
        {"away", "/dev/ttyUSB1", "/dev/ttyS2", "/dev/ttyS3"});
    row("back under another name", {{a, b}, {b}, {at(b, "ttyUSB0"), at(a, "ttyUSB2")}},
        {"/dev/ttyUSB2", "/dev/ttyUSB0", "/dev/ttyS2", "/dev/ttyS3"});
    row("all four taken: the number of the one unseen longest",
        {{a, b, c, d}, {b, c, d}, {c, d}, {c, d, usb("ttyUSB4", "E")}},
        {"/dev/ttyUSB4", "away", "/dev/ttyUSB2", "/dev/ttyUSB3"});
    const PortInfo e = usb("ttyUSB4", "E");
    row("four present devices and a fifth: 5, listed while present",
        {{a, b, c, d, e}, {a, b, c, d}, {a, b, c, d, usb("ttyUSB5", "F")}, {a, b, c, d, e}},
        {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3", "5=/dev/ttyUSB4"});
    row("the sixth while the fifth is away", {{a, b, c, d, e}, {a, b, c, d, usb("ttyUSB5", "F")}},
        {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3", "6=/dev/ttyUSB5"});
    row("console on ttyAMA0: left out",
        {{at(uart("ttyS9", true, true), "ttyAMA0"), at(uart("ttyS9"), "ttyAMA1")}},
        {"/dev/ttyAMA1", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"});
    row("dual adapter: a number for each port",
        {{usb("ttyUSB0", "F", "00"), usb("ttyUSB1", "F", "01")}},
        {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyS2", "/dev/ttyS3"});
    row("shared serial: numbers by USB port",
        {{usb("ttyUSB0", "0001", "00", "1-1"), usb("ttyUSB1", "0001", "00", "1-2")},
         {usb("ttyUSB0", "0001", "00", "1-2")}},
        {"away", "/dev/ttyUSB0", "/dev/ttyS2", "/dev/ttyS3"});
    row("no fall-back onto another number's device",
        {{uart("ttyS0", true, true), uart("ttyS1"), uart("ttyS2", false), uart("ttyS3", false)}},
        {"/dev/ttyS1", "", "", ""});
    row("nothing listed at ttyS<n-1>: it stands in", {{}},
        {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"});
    row("the variable wins", {{a}}, {"/dev/pts/7", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"},
        "/dev/pts/7");
    // Left by an older version or a hand edit: dropped, the number free again.
    row("a group without its path", {{a}},
        {"/dev/ttyUSB0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"}, "",
        "[Com1]\nkind=path\npath=\nlastSeen=2030-01-01T00:00:00Z\n");
    row("a group without its USB ids, nothing present", {{}},
        {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"}, "", "[Com3]\nkind=usb\n");
}

void SerialSettingsTest::comNumbers() {
#ifdef Q_OS_WIN
    QSKIP("on Windows Com n is COMn");
#endif
    QFETCH(QList<QList<PortInfo>>, seen);
    QFETCH(QString, variable);
    QFETCH(QStringList, com);
    QFETCH(QByteArray, conf);
    // A look a day, the last a second ago (conf's first group names no device); then no write.
    const QTemporaryDir folder;
    const QString file = folder.filePath("ports.conf");
    QFile stored(file);
    QVERIFY(stored.open(QIODevice::WriteOnly) && stored.write(conf) == conf.size());
    stored.close();
    if (!conf.isEmpty()) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ports.conf.*" + conf.mid(1, 4)));
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 earlier = std::max(now - 1, now - now % 86400); // the same day as now
    for (qsizetype day = 0; day < seen.size(); ++day) {
        rememberComNumbers(file, seen[day], earlier - (seen.size() - 1 - day) * 86400);
    }
    const QDateTime past(QDate(2001, 2, 3), QTime());
    QVERIFY(stored.open(QIODevice::ReadWrite) &&
            stored.setFileTime(past, QFileDevice::FileModificationTime));
    stored.close();
    QTest::failOnWarning(QRegularExpression("ports.conf")); // and is gone from the file
    lookUpPort(1, seen.back(), file);
    QCOMPARE(QFileInfo(file).lastModified(), past);
    const ComAssignments numbers = loadComNumbers(file);
    QStringList leadsTo;
    const auto environment = [&](const char* name) {
        return QByteArray(name) == "ZEL_COM1" ? variable : QString();
    };
    const QList<int> further =
        furtherMenuPorts(numberedPorts(environment, seen.back(), numbers), 1);
    for (const int port : QList<int>{1, 2, 3, 4} + further) {
        const PortChoice choice = choosePort(port, environment, seen.back(), numbers);
        leadsTo << (port > 4 ? QString("%1=").arg(port) : QString()) +
                       (choice.source == PortChoice::Source::Absent ? "away" : choice.device);
        // What a user reads never says both that it is a port and that none was found.
        const QString summary = portSummary(port, choice);
        QVERIFY(!(summary.contains("built-in") && summary.contains("no serial port")));
    }
    QCOMPARE(leadsTo, com);
}

void SerialSettingsTest::windowsPorts_data() {
    // Lists as "COM7=name;COM3=name"; the Port menu's further items, named as Device Manager
    // names their devices, and the "not available" box's list when Com 1 is chosen.
    QTest::addColumn<QString>("deviceMap");
    QTest::addColumn<QString>("friendlyNames");
    QTest::addColumn<QList<int>>("further");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QString>("others");
    QTest::newRow("COM7 only") << "COM7=\\Device\\VCP0"
                               << "COM7=USB Serial Port (COM7)" << QList<int>{7}
                               << QStringList{u"Com 7 \u2014 USB Serial Port"_qs}
                               << "This computer's serial ports: COM7 (USB Serial Port).";
    QTest::newRow("COM3 and COM12 (no friendly name), a printer port")
        << "COM12=\\Device\\Serial2;COM3=\\Device\\ProlificSerial0"
        << "COM3=Prolific USB-to-Serial Comm Port (COM3);LPT1=Printer Port (LPT1)" << QList<int>{12}
        << QStringList{u"Com 12 \u2014 serial port \\Device\\Serial2"_qs}
        << "This computer's serial ports: COM3 (Prolific USB-to-Serial Comm Port), COM12 "
           "(serial port \\Device\\Serial2).";
    QTest::newRow("a name with &")
        << "COM8=X"
        << "COM8=A&B (COM8)" << QList<int>{8} << QStringList{u"Com 8 \u2014 A&&B"_qs}
        << "This computer's serial ports: COM8 (A&B).";
    QTest::newRow("only the chosen one") << "COM1=\\Device\\Serial0"
                                         << "" << QList<int>{} << QStringList{} << "";
}

void SerialSettingsTest::windowsPorts() {
    QFETCH(QString, deviceMap);
    QFETCH(QString, friendlyNames);
    QFETCH(QList<int>, further);
    QFETCH(QStringList, captions);
    QFETCH(QString, others);
    const auto listed = [](const QString& list) {
        QList<ListedComPort> entries;
        for (const QString& entry : list.split(';', Qt::SkipEmptyParts)) {
            entries.append({entry.section('=', 0, 0), entry.section('=', 1)});
        }
        return entries;
    };
    const QList<NumberedPort> numbered = numberedPorts(
        {}, windowsComPorts(listed(deviceMap), listed(friendlyNames)), ComAssignments(4));
    QCOMPARE(furtherMenuPorts(numbered, 1), further);
    QStringList named;
    for (const NumberedPort& port : numbered) {
        if (further.contains(port.number)) {
            PortChoice choice;
            choice.info = port.info;
            named << furtherPortCaption(port.number, choice);
        }
    }
    QCOMPARE(named, captions);
    QList<int> withChosen = further + QList<int>{9}; // chosen, not present: listed in order
    std::sort(withChosen.begin(), withChosen.end());
    QCOMPARE(furtherMenuPorts(numbered, 9), withChosen);
    QCOMPARE(otherPortsText(numbered, 1), others);
}

void SerialSettingsTest::statusDisplay() {
    // A device of its kind elsewhere, said only while waiting: panel 1, the Connect command,
    // the notice, Send enabled (the states without one: tst_connection)
    const QString com8 = QStringLiteral("a USB Serial Port appeared as COM8");
    const QList<std::tuple<bool, bool, QString, QString, QString, QString>> cases = {
        {false, true, com8, "Waiting", "Dis&connect", "Waiting for Com4; " + com8},
        {false, false, com8, "Disconnected", "&Connect", ""}};
    for (const auto& [open, waiting, elsewhere, connection, caption, notice] : cases) {
        const StatusDisplay display =
            serial::statusDisplay(open, waiting, 4, "38400,E,7,1.5", elsewhere);
        QCOMPARE(QStringList({display.connection, display.connectCaption, display.port,
                              display.settings, display.notice}),
                 QStringList({connection, caption, "COM4", "38400,E,7,1.5", notice}));
        QCOMPARE(display.sendEnabled, open);
    }
}

void SerialSettingsTest::devicesThatAppear() {
    // A device of the lost one's kind that was not there at the loss is named for the user.
    const auto port = [](const char* device, const char* description) {
        PortInfo info;
        info.device = device;
        info.description = description;
        return info;
    };
    const PortInfo lost = usbAdapter("/dev/ttyUSB0", {});
    const PortInfo com7 = port("COM7", "USB Serial Port");
    const QList<std::tuple<PortInfo, QList<PortInfo>, QList<PortInfo>, QString>> cases = {
        {lost,
         {},
         {usbAdapter("/dev/ttyUSB0", {}, "00", "1-2")}, // its name, another socket
         "a FT232R USB UART appeared as /dev/ttyUSB0"},
        {lost, {usbAdapter("/dev/ttyUSB1", "B")}, {usbAdapter("/dev/ttyUSB1", "B")}, ""},
        {lost, {}, {usbAdapter("/dev/ttyUSB1", {}, "01")}, ""}, // another interface
        {com7,
         {port("COM1", "Communications Port")},
         {port("COM1", "Communications Port"), port("COM8", "USB Serial Port")},
         "a USB Serial Port appeared as COM8"},
        {com7, {}, {port("COM9", "Bluetooth Serial Port")}, ""}};
    for (const auto& [gone, atLoss, present, text] : cases) {
        QCOMPARE(sameKindAppeared(gone, atLoss, present), text);
    }

    // The system's own watch tells of a device that appears, until it is stopped.
    const std::unique_ptr<DeviceWatch> watch = systemDeviceWatch();
    QSignalSpy appeared(watch.get(), &DeviceWatch::appeared);
#ifdef Q_OS_WIN
    watch->watch({});
    const HWND window = ::FindWindowExW(HWND_MESSAGE, nullptr, L"ZelConnectDeviceWatch", nullptr);
    QVERIFY(window);
    DEV_BROADCAST_HDR arrival{sizeof arrival, DBT_DEVTYP_DEVICEINTERFACE, 0};
    const auto notice = [&] {
        ::SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, LPARAM(&arrival));
    };
#else
    const QTemporaryDir folder;
    const QString link = folder.filePath("sensor");
    DeviceIdentity awaited;
    awaited.kind = DeviceIdentity::Kind::Link;
    awaited.path = link;
    QVERIFY(watch->watch(awaited));
    const auto notice = [&] {
        QFile::remove(link);
        QFile::link(QStringLiteral("/dev/null"), link);
    };
#endif
    notice();
    QTRY_VERIFY(!appeared.isEmpty());
    watch->stop();
    appeared.clear();
    notice();
    QTest::qWait(100);
    QVERIFY(appeared.isEmpty());
#ifdef Q_OS_WIN
    // A port's own notice names it, also while nothing is awaited: its driver is a new one.
    QSignalSpy replaced(watch.get(), &DeviceWatch::portReplaced);
    struct {
        DEV_BROADCAST_PORT_W head;
        wchar_t name[8];
    } com9{};
    com9.head = {sizeof com9, DBT_DEVTYP_PORT, 0, {}};
    std::wcscpy(com9.head.dbcp_name, L"com9");
    ::SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, LPARAM(&com9));
    QTRY_COMPARE(replaced.value(0).value(0).toString(), QStringLiteral("COM9"));
    QVERIFY(appeared.isEmpty());
#else
    // Where the folder of what is awaited is not there yet (/dev/serial/by-id before the
    // first adapter), it is watched for from above; many changes at once are one notice.
    awaited.path = folder.filePath("serial/by-id/sensor");
    QVERIFY(watch->watch(awaited));
    QVERIFY(QDir(folder.path()).mkpath("serial/by-id"));
    QTest::qWait(100);
    appeared.clear();
    for (int n = 0; n < 20; ++n) {
        (void)QFile(folder.filePath("serial/by-id/other%1").arg(n)).open(QIODevice::WriteOnly);
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY(!appeared.isEmpty());
    QTest::qWait(100);
    QVERIFY2(appeared.size() <= 2,
             qPrintable(QString::number(appeared.size()))); // a burst may straddle two
#endif
}

void SerialSettingsTest::serialDevicesChange() {
#ifdef Q_OS_LINUX
    // The ports are read again when a tty with hardware comes, goes, moves or udev records
    // it; terminals without hardware never count.
    const QTemporaryDir sysfs;
    const QTemporaryDir udev;
    const QDir ttys(sysfs.filePath("class/tty"));
    QVERIFY(ttys.mkpath("tty0") && ttys.mkpath("ttyUSB0"));
    const auto plug = [&](const char* where) {
        QFile::remove(ttys.filePath("ttyUSB0/device"));
        return QFile::link(sysfs.filePath(where), ttys.filePath("ttyUSB0/device"));
    };
    QFile dev(ttys.filePath("ttyUSB0/dev"));
    QVERIFY(dev.open(QIODevice::WriteOnly) && dev.write("188:0\n") && (dev.close(), true));
    QCOMPARE(serialDevicesNow(sysfs.path(), udev.path()), QByteArray("none"));
    QList<QByteArray> seen;
    QVERIFY(plug("devices/usb1/1-1"));
    seen << serialDevicesNow(sysfs.path(), udev.path());
    QFile record(udev.filePath("c188:0"));
    QVERIFY(record.open(QIODevice::WriteOnly));
    record.close();
    seen << serialDevicesNow(sysfs.path(), udev.path());
    QVERIFY(plug("devices/usb1/1-2"));
    seen << serialDevicesNow(sysfs.path(), udev.path());
    for (qsizetype i = 0; i < seen.size(); ++i) {
        QVERIFY2(seen[i].startsWith("ttyUSB0>") && !seen[i].contains("tty0>"), seen[i]);
        QVERIFY(seen.indexOf(seen[i]) == i); // each change tells
    }
    QCOMPARE(serialDevicesNow(sysfs.path(), udev.path()), seen.last()); // nothing changed
#endif
}

void SerialSettingsTest::failureDescriptions() {
    const auto node = [](const char* owner, const char* group, unsigned permissions) {
        return DeviceNode{DeviceNode::Kind::CharacterDevice, owner, group, QString(group) == "root",
                          permissions};
    };
    const QString usermod = "usermod";
    // A description, what it says and what it does not (in use, a stale lock, not a serial
    // device: as tst_connection meets them); a reason that ends its own sentence takes no
    // second stop.
    const QList<std::tuple<QString, QStringList, QStringList>> cases = {
        {waitingForDeviceText("COM3", "reading from it failed: Broken pipe.", "COM3", ""),
         {"COM3 went away (reading from it failed: Broken pipe.) Waiting for COM3"},
         {".)."}},
        {notReopenedText("/dev/pts/3", "gone?"), {"(gone?) It is not"}, {"?)."}},
        {notReopenedText("/dev/pts/3", "the device hung up"), {"(the device hung up). It is"}, {}},
        {permissionDescription("/dev/ttyUSB0", node("root", "dialout", 0660)),
         {"/dev/ttyUSB0: permission denied", "usermod -aG dialout $USER", "log out"},
         {"Only"}},
        {permissionDescription("/dev/ttyS1", node("root", "root", 0600)),
         {"Only root may", "crw------- root:root"},
         {usermod}},
        {permissionDescription("/dev/ttyS0", node("root", "tty", 0620)),
         {"crw--w---- root:tty", "may only write", "login"},
         {usermod}}};
    for (const auto& [description, says, doesNotSay] : cases) {
        for (const QString& part : says) {
            QVERIFY2(description.contains(part), qPrintable(description));
        }
        for (const QString& part : doesNotSay) {
            QVERIFY2(!description.contains(part), qPrintable(description));
        }
    }
}

void SerialSettingsTest::refusedBeforeOpening() {
    // Refused unopened unless the user named it: where /sys (a folder) says no UART is behind
    // ttyS5 (type 0; "": no /sys, as under WSL 1), and the system console.
#ifndef Q_OS_LINUX
    QSKIP("only Linux says what is behind a node");
#endif
    using Source = PortChoice::Source;
    const std::optional<PortInfo> console = uart("ttyS5", true, true);
    const QList<std::tuple<QByteArray, std::optional<PortInfo>, Source, QString>> cases = {
        {"0", {}, Source::Fallback, noHardwareDescription("/dev/ttyS5")},
        {"0", {}, Source::Variable, ""},
        {"4", {}, Source::Fallback, ""},
        {"", {}, Source::Fallback, ""},
        {"", console, Source::Numbered, systemConsoleDescription("/dev/ttyS5", 2)},
        {"", console, Source::Variable, ""}};
    for (const auto& [type, listed, source, refusal] : cases) {
        const QTemporaryDir sysfs;
        QFile attribute(sysfs.filePath("class/tty/ttyS5/type"));
        QVERIFY(type.isEmpty() || (QDir(sysfs.path()).mkpath("class/tty/ttyS5") &&
                                   attribute.open(QIODevice::WriteOnly) && attribute.write(type) &&
                                   attribute.flush()));
        const auto info = listed ? listed : builtInUartAt("/dev/ttyS5", sysfs.path());
        QCOMPARE(refusalBeforeOpening(2, {"/dev/ttyS5", source, info, {}, {}, false}).value_or(""),
                 refusal);
    }
    QVERIFY(systemConsoleDescription("/dev/ttyS5", 2).contains("ZEL_COM2"));
    // Where the consoles run, as /proc/consoles lists them.
    QCOMPARE(consoleNames("tty0   -WU (EC p  )    4:7\nttyAMA0  -W- (EC p  )  204:64\n"),
             QStringList({"tty0", "ttyAMA0"}));
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
