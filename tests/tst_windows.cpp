// The Windows build, run under Wine against a device played on a pseudo-terminal that Wine
// maps to COM1: connected at start, every sample logged once beside the .exe (or, where that
// folder cannot be written, in the user's local data folder), what the
// window sends and the line settings it sets arriving at the device, Tolvek's value and a
// device that goes away and comes back, and the command line. Skipped, saying why, where
// Wine or the Windows build is missing (scripts/windows-test provides both).
#include "faultyfolder.h"
#include "files.h"
#include "pseudoterminal.h"
#include "readonlyfolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <termios.h>

const QString kBin = QStringLiteral(ZEL_WINDOWS_BIN);

class WindowsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void programsConnectAtStart_data();
    void programsConnectAtStart();
    void everySampleLoggedOnce_data();
    void everySampleLoggedOnce();
    void textAndHexArriveAtTheDevice();
    void lineSettingsArriveAtTheDevice_data();
    void lineSettingsArriveAtTheDevice();
    void deviceGoesAwayAndComesBack_data();
    void deviceGoesAwayAndComesBack();
    void commandLine();
    void furtherComPortInTheMenu();
    void logWaitsWhileAnotherProgramHoldsIt_data();
    void logWaitsWhileAnotherProgramHoldsIt();
    void logOnANetworkDrive_data();
    void logOnANetworkDrive();
    void release();

private:
    /// A folder with the program beside its libraries, as a user unpacks the release; named
    /// after the program unless a name is given.
    QString installed(const QString& program, const QString& name = {});
    QProcessEnvironment environment(bool connectAtStart = false) const;
    speed_t deviceSpeed() const;
    void start(QProcess& process, const QString& program, const QStringList& arguments = {});
    /// The driver (tests/windowdriver.cpp) with a window of the program named.
    void startDriver(const QString& window, const QStringList& arguments = {});
    /// Whether the driver printed a line that matches pattern, or prints one within timeoutMs.
    bool hears(const QString& pattern, int timeoutMs);
    /// A command to the driver, then what it answered up to "done".
    QStringList command(const QString& line);
    /// Runs a Wine command (wineboot, reg ...); true when it succeeded.
    bool wine(const QStringList& arguments);
    /// Where COM1 leads: the device's link, in the Wine prefix; COM7 likewise.
    QString link(int port = 1) const { return m_prefix + QString("/zel-com%1").arg(port); }
    /// What a program prints to standard output and error, and its exit code.
    struct Ran {
        QString output;
        QString errors;
        int exitCode = -1;
    };
    Ran run(const QStringList& arguments, const QString& folder = {});
    /// The user's folder in the Wine prefix.
    QString userFolder() const {
        return m_prefix + "/drive_c/users/" + qEnvironmentVariable("USER", "root");
    }
    void unplug();
    void plugIn();

    QString m_wine;
    QString m_prefix;
    QTemporaryDir m_dir;
    std::unique_ptr<PseudoTerminal> m_device;
    QProcess m_driver;
    QStringList m_heard; // what the driver printed besides the answers
};

void WindowsTest::initTestCase() {
    m_wine = QStandardPaths::findExecutable("wine");
    if (m_wine.isEmpty()) {
        QSKIP("Wine is not installed; scripts/windows-test installs it and builds for Windows");
    }
    if (!QFile::exists(kBin + "/Zel_Connect.exe") || !QFile::exists(kBin + "/zel-driver.exe")) {
        QSKIP(qPrintable("no Windows build in " + kBin + "; scripts/windows-test makes one"));
    }
    m_prefix = qEnvironmentVariable("WINEPREFIX",
                                    QDir::homePath() + "/.cache/zel-connect/windows/wineprefix");
    QVERIFY(wine({"wineboot", "-i"}));
    // Headless, since Wine passes no QT_ variable on to Windows programs; and COM1 is the link
    // the device is played behind, never one of the machine's own ports.
    QVERIFY(wine(
        {"reg", "add", "HKCU\\Environment", "/v", "QT_QPA_PLATFORM", "/d", "offscreen", "/f"}));
    for (const int port : {1, 7}) {
        QVERIFY(wine({"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", QString("COM%1").arg(port),
                      "/d", link(port), "/f"}));
    }
    // Wine reads its ports when its server starts.
    const QString com1 = m_prefix + "/dosdevices/com1";
    if (QFileInfo(com1).symLinkTarget() != link() ||
        QFileInfo(m_prefix + "/dosdevices/com7").symLinkTarget() != link(7)) {
        QProcess server;
        server.setProcessEnvironment(environment());
        server.start("wineserver", {"-k"});
        server.waitForFinished(60000);
        QVERIFY(wine({"cmd", "/c", "exit"}));
    }
    QCOMPARE(QFileInfo(com1).symLinkTarget(), link());
}

void WindowsTest::init() {
    plugIn();
}

void WindowsTest::cleanup() {
    if (m_driver.state() != QProcess::NotRunning) {
        m_driver.write("quit\n");
        if (!m_driver.waitForFinished(10000)) {
            m_driver.kill();
            m_driver.waitForFinished();
        }
    }
    m_heard.clear();
    m_device.reset();
}

QProcessEnvironment WindowsTest::environment(bool connectAtStart) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("WINEPREFIX", m_prefix);
    environment.insert("WINEDEBUG", "-all");
    environment.insert("WINEDLLOVERRIDES", "mscoree,mshtml=");
    environment.remove("ZEL_CONNECT_AT_START");
    if (connectAtStart) {
        environment.insert("ZEL_CONNECT_AT_START", "1");
    }
    return environment;
}

speed_t WindowsTest::deviceSpeed() const {
    termios line{};
    ::tcgetattr(m_device->deviceHandle(), &line);
    return cfgetospeed(&line);
}

QString WindowsTest::installed(const QString& program, const QString& name) {
    const QString folder = m_dir.filePath(name.isEmpty() ? program : name);
    QDir().mkpath(folder);
    for (const QFileInfo& file :
         QDir(kBin).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (file.suffix() == "dll" || file.isDir()) {
            QFile::link(file.absoluteFilePath(), folder + "/" + file.fileName());
        }
    }
    QFile::copy(kBin + "/" + program, folder + "/" + program);
    const QString companion = QFileInfo(program).completeBaseName() + ".com";
    QFile::copy(kBin + "/" + companion, folder + "/" + companion);
    return folder + "/" + program;
}

void WindowsTest::start(QProcess& process, const QString& program, const QStringList& arguments) {
    process.start(m_wine, QStringList{program} + arguments);
    QVERIFY(process.waitForStarted(30000));
}

void WindowsTest::startDriver(const QString& window, const QStringList& arguments) {
    m_driver.setProcessEnvironment(environment());
    start(m_driver, installed("zel-driver.exe"), QStringList{window} + arguments);
    QVERIFY(m_driver.waitForReadyRead(30000));
}

bool WindowsTest::hears(const QString& pattern, int timeoutMs) {
    const QRegularExpression wanted(pattern);
    if (!m_heard.filter(wanted).isEmpty()) {
        return true;
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        while (m_driver.canReadLine()) {
            m_heard << QString::fromLocal8Bit(m_driver.readLine()).trimmed();
            if (wanted.match(m_heard.last()).hasMatch()) {
                return true;
            }
        }
        m_driver.waitForReadyRead(100);
    }
    return false;
}

QStringList WindowsTest::command(const QString& line) {
    m_driver.write(line.toLocal8Bit() + "\n");
    QStringList answer;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000) {
        if (!m_driver.canReadLine() && !m_driver.waitForReadyRead(100)) {
            continue;
        }
        while (m_driver.canReadLine()) {
            const QString printed = QString::fromLocal8Bit(m_driver.readLine()).trimmed();
            m_heard << printed;
            answer << printed;
            if (printed.startsWith("done ")) {
                return answer;
            }
        }
    }
    return answer;
}

WindowsTest::Ran WindowsTest::run(const QStringList& arguments, const QString& folder) {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setWorkingDirectory(folder);
    process.start(m_wine, arguments);
    process.waitForFinished(60000);
    return {QString::fromLocal8Bit(process.readAllStandardOutput()).remove('\r'),
            QString::fromLocal8Bit(process.readAllStandardError()).remove('\r'),
            process.exitCode()};
}

bool WindowsTest::wine(const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(m_wine, arguments);
    return process.waitForFinished(180000) && process.exitCode() == 0;
}

void WindowsTest::unplug() {
    m_device->unplug();
    QFile::remove(link());
}

void WindowsTest::plugIn() {
    m_device = std::make_unique<PseudoTerminal>();
    QFile::remove(link());
    QFile::link(m_device->devicePath(), link());
}

void WindowsTest::programsConnectAtStart_data() {
    QTest::addColumn<QString>("program");
    QTest::newRow("Zel_Connect") << "Zel_Connect.exe";
    QTest::newRow("Tolvek") << "Tolvek.exe";
}

void WindowsTest::programsConnectAtStart() {
    QFETCH(QString, program);
    QProcess windows;
    windows.setProcessEnvironment(environment(true));
    start(windows, installed(program));
    // Opened and set up as the program's settings say: 9600 baud, raw (it was 38400).
    QTRY_COMPARE_WITH_TIMEOUT(deviceSpeed(), speed_t(B9600), 30000);
    windows.kill();
    windows.waitForFinished();
}

void WindowsTest::everySampleLoggedOnce_data() {
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<int>("count");
    QTest::newRow("beside the program") << true << 3000;
    QTest::newRow("program folder read-only: the user's local data folder") << false << 300;
}

void WindowsTest::everySampleLoggedOnce() {
    QFETCH(bool, folderWritable);
    QFETCH(int, count);
    QProcess windows;
    windows.setProcessEnvironment(environment(true));
    const QString program = installed("Zel_Connect.exe");
    // As in Program Files, which only administrators may write.
    const QString folder = QFileInfo(program).absolutePath();
    const QString userData = m_prefix + "/drive_c/users/" + qEnvironmentVariable("USER", "root") +
                             "/AppData/Local/Zel_Connect";
    QDir(userData).removeRecursively();
    QFile::remove(folder + "/app.txt");
    if (!folderWritable && !makeReadOnly(folder, true)) {
        QSKIP("cannot make a folder read-only here");
    }
    const WritableAgain restore{folder};
    start(windows, program);
    QTRY_COMPARE_WITH_TIMEOUT(deviceSpeed(), speed_t(B9600), 30000);
    // As a sensor at 115200 baud sends them, one after the other.
    const QByteArray stream = readingLines(count) + "R";
    QElapsedTimer sending;
    sending.start();
    for (qsizetype sent = 0; sent < stream.size(); sent += 1152) {
        QVERIFY(m_device->write(stream.mid(sent, 1152)));
        while (sending.elapsed() < (sent + 1152) / 11.52) {
            QTest::qWait(5);
        }
    }
    const QString logPath = (folderWritable ? folder : userData) + "/app.txt";
    const auto logged = [&logPath] {
        return readAll(logPath).split('\n');
    };
    QTRY_VERIFY_WITH_TIMEOUT(logged().size() > count, 60000);
    windows.kill();
    windows.waitForFinished();
    const QList<QByteArray> lines = logged();
    const QList<QByteArray> sent = stream.split('\n');
    QCOMPARE(lines.size(), count + 1); // the last piece follows the last CR LF
    for (int i = 0; i < count; ++i) {
        QCOMPARE(lines[i].mid(lines[i].indexOf(',') + 2), sent[i]);
    }
    qInfo("%d samples sent in %.1f s at 115200 baud, %lld logged in %s, each once, in order", count,
          sending.elapsed() / 1000.0, qlonglong(lines.size() - 1), qPrintable(logPath));
}

void WindowsTest::textAndHexArriveAtTheDevice() {
    startDriver("zelconnect");
    QVERIFY(command("connect").contains("done Connected|COM1|9600,N,8,1"));
    command("text hello, device");
    QCOMPARE(m_device->readUntilQuiet(300), QByteArray("hello, device"));
    command("hex 01 ff 7e");
    QCOMPARE(m_device->readUntilQuiet(300), QByteArray("\x01\xff\x7e"));
}

void WindowsTest::lineSettingsArriveAtTheDevice_data() {
    QTest::addColumn<QString>("choose");   // the menu and its item
    QTest::addColumn<QString>("settings"); // what the program then says it runs with
    QTest::addColumn<QString>("named");    // how a box that refuses it names it
    const QStringList speeds = {"110",   "300",   "600",   "1200",  "2400",   "9600",  "14400",
                                "19200", "28800", "38400", "56000", "128000", "256000"};
    for (int i = 0; i < speeds.size(); ++i) {
        QTest::newRow(qPrintable(speeds[i] + " baud"))
            << QString("speed %1").arg(i) << speeds[i] + ",N,8,1"
            << "at " + speeds[i] + " baud";
    }
    for (int bits = 4; bits <= 8; ++bits) {
        QTest::newRow(qPrintable(QString("%1 data bits").arg(bits)))
            << QString("data %1").arg(bits) << QString("9600,N,%1,1").arg(bits)
            << QString("%1 data bits").arg(bits);
    }
    const QStringList parities = {"Even", "Mark", "None", "Odd", "Space"};
    for (int i = 0; i < parities.size(); ++i) {
        QTest::newRow(qPrintable(parities[i] + " parity"))
            << QString("parity %1").arg(i) << QString("9600,%1,8,1").arg(parities[i][0])
            << parities[i] + " parity";
    }
    const QStringList stops = {"1", "1.5", "2"};
    for (int i = 0; i < stops.size(); ++i) {
        QTest::newRow(qPrintable(stops[i] + " stop bits"))
            << QString("stop %1").arg(i) << "9600,N,8," + stops[i] << stops[i] + " stop bits";
    }
}

void WindowsTest::lineSettingsArriveAtTheDevice() {
    QFETCH(QString, choose);
    QFETCH(QString, settings);
    QFETCH(QString, named);
    startDriver("zelconnect");
    command("connect");
    const QStringList answer = command(choose);
    // The setting reaches the device as the program says, or the program says it could
    // not and names it: never a silent difference.
    if (answer.contains("done Connected|COM1|" + settings)) {
        termios line{};
        ::tcgetattr(m_device->deviceHandle(), &line);
        const QStringList fields = settings.split(',');
        const QMap<QString, speed_t> speedCodes{
            {"110", B110},   {"300", B300},   {"600", B600},     {"1200", B1200},
            {"2400", B2400}, {"9600", B9600}, {"19200", B19200}, {"38400", B38400}};
        QVERIFY2(speedCodes.contains(fields[0]), "a speed termios has no code for");
        QCOMPARE(deviceSpeed(), speedCodes[fields[0]]);
        const tcflag_t size[] = {0, 0, 0, 0, 0, CS5, CS6, CS7, CS8};
        QCOMPARE(line.c_cflag & CSIZE, size[fields[2].toInt()]);
        const char parity = !(line.c_cflag & PARENB)  ? 'N'
                            : (line.c_cflag & CMSPAR) ? ((line.c_cflag & PARODD) ? 'M' : 'S')
                            : (line.c_cflag & PARODD) ? 'O'
                                                      : 'E';
        QCOMPARE(QString(parity), fields[1]);
        QCOMPARE(bool(line.c_cflag & CSTOPB), fields[3] == "2");
        qInfo("%s: at the device", qPrintable(settings));
    } else {
        const QString box = answer.filter("box ").value(0);
        QVERIFY2(box.startsWith("box Com1 is not available.") && box.contains(named) &&
                     answer.last().startsWith("done Disconnected"),
                 qPrintable(answer.join(" / ")));
        qInfo("%s: refused, %s", qPrintable(settings), qPrintable(box.section(" | ", 1)));
    }
}

void WindowsTest::deviceGoesAwayAndComesBack_data() {
    QTest::addColumn<QString>("back");
    QTest::newRow("found by looking") << "looking";
    QTest::newRow("Windows' notice opens it at once") << "notice";
    QTest::newRow("its kind under another number is named") << "elsewhere";
}

void WindowsTest::deviceGoesAwayAndComesBack() {
    QFETCH(QString, back);
    startDriver("tolvek");
    if (back == "notice") {
        command("retries 600000"); // only the notice can find it
    } else if (back == "elsewhere") {
        command("inventory COM1=USB Serial Port");
    }
    command("connect");
    // Tolvek's value of a sample; then the cable comes out while the sensor talks.
    QVERIFY(m_device->write("R=1000 G=2000 B=3300\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(command("value").contains("value 2100"), 10000);
    unplug();
    QVERIFY(hears("^lost ", 10000));
    if (back == "elsewhere") {
        // The adapter came back as COM8: the user is told, nothing else is opened.
        command("inventory COM8=USB Serial Port");
        QTRY_VERIFY_WITH_TIMEOUT(
            !command("waiting").filter("a USB Serial Port appeared as COM8").isEmpty(), 10000);
        command("inventory COM1=USB Serial Port");
    }
    QElapsedTimer since;
    since.start();
    plugIn();
    if (back == "notice") {
        QVERIFY(!hears("^reconnected$", 1500));
        since.start();
        command("arrival COM1");
    }
    QVERIFY(hears("^reconnected$", 20000));
    const qint64 reopenMs = since.elapsed();
    command("text back");
    QCOMPARE(m_device->readUntilQuiet(300), QByteArray("back"));
    QCOMPARE(m_heard.filter(QRegularExpression("^lost ")).size(), 1);
    QCOMPARE(m_heard.filter(QRegularExpression("^reconnected$")).size(), 1);
    qInfo() << back << "- noticed once:" << m_heard.filter("lost ").value(0) << "; reopened after"
            << reopenMs << "ms";
}

void WindowsTest::furtherComPortInTheMenu() {
    // A USB adapter that Windows numbered COM7, nothing behind COM1.
    unplug();
    PseudoTerminal com7;
    QFile::link(com7.devicePath(), link(7));
    startDriver("zelconnect");
    const QStringList items = command("ports");
    // Named by its device, as Device Manager names it (Wine: by the kernel's name).
    QVERIFY2(
        items.filter(QRegularExpression("^item Com 7 .+ \\\\Device\\\\Serial6\\|COM7: ")).size() ==
            1,
        qPrintable(items.join(" / ")));
    QVERIFY(command("port 7").contains("done Disconnected|COM7|9600,N,8,1"));
    QVERIFY(command("connect").contains("done Connected|COM7|9600,N,8,1"));
    QVERIFY(com7.write(readingLines(20) + "R"));
    const QString log = QFileInfo(installed("zel-driver.exe")).absolutePath() + "/app.txt";
    QTRY_COMPARE_WITH_TIMEOUT(readAll(log).count('\n'), 20, 20000);
    const QString ports = run({installed("Zel_Connect.exe"), "--ports"}).output;
    QFile::remove(link(7));
    QVERIFY2(
        ports.contains(QRegularExpression("^Com7  COM7: ", QRegularExpression::MultilineOption)),
        qPrintable(ports));
    qInfo() << items.filter("item ") << "; --ports:" << ports;
}

void WindowsTest::logWaitsWhileAnotherProgramHoldsIt_data() {
    QTest::addColumn<bool>("heldAtStart");
    QTest::newRow("held while samples come") << false;
    QTest::newRow("held when the program starts") << true;
}

void WindowsTest::logWaitsWhileAnotherProgramHoldsIt() {
    QFETCH(bool, heldAtStart);
    const QString driver = installed("zel-driver.exe");
    const QString log = QFileInfo(driver).absolutePath() + "/app.txt";
    QFile::remove(log);
    QProcess holder;
    holder.setProcessEnvironment(environment());
    const auto hold = [&](int seconds) {
        start(holder, kBin + "/zel-holdfile.exe",
              {"Z:" + QDir::toNativeSeparators(log), QString::number(seconds)});
        QVERIFY(holder.waitForReadyRead(30000));
    };
    // Four readings a second, as a sensor sends them.
    const QList<QByteArray> lines = readingLines(28).split('\n');
    const auto send = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            QVERIFY(m_device->write(lines[i] + '\n'));
            QTest::qWait(250);
        }
    };
    if (heldAtStart) {
        hold(15);
    }
    startDriver("zelconnect");
    command("connect");
    if (!heldAtStart) {
        send(0, 4);
        QTRY_COMPARE_WITH_TIMEOUT(readAll(log).count('\n'), 3, 10000);
        hold(6);
    }
    send(heldAtStart ? 0 : 4, 27);
    QVERIFY2(hears("^notice app.txt is open in another program", 10000),
             qPrintable(m_heard.filter("notice ").join(" / ")));
    QVERIFY(holder.waitForFinished(30000));
    QVERIFY(m_device->write("R"));
    QTRY_COMPARE_WITH_TIMEOUT(readAll(log).count('\n'), 27, 10000);
    // Every sample, once, in order, beside the program.
    const QList<QByteArray> logged = readAll(log).split('\n');
    for (int i = 0; i < 27; ++i) {
        QCOMPARE(logged[i].mid(logged[i].indexOf(',') + 2), lines[i]);
    }
    QVERIFY(hears("^notice The \\d+ samples that waited are now in Z:\\\\", 10000));
    qInfo() << m_heard.filter("notice ");
}

void WindowsTest::logOnANetworkDrive_data() {
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QString>("notice"); // while the samples wait
    QTest::newRow("fails at close") << QByteArray("fail-sync") << "samples wait and are written";
    QTest::newRow("holds writes") << QByteArray("hold-writes")
                                  << "The folder of app.txt does not answer";
}

void WindowsTest::logOnANetworkDrive() {
    QFETCH(QByteArray, fault);
    QFETCH(QString, notice);
    // Drive N: is a folder that misbehaves as a share on a server does.
    FaultyFolder share(QStringLiteral(ZEL_FAULTYFOLDER));
    if (!share.start()) {
        QSKIP(FaultyFolder::unavailable);
    }
    const QString drive = m_prefix + "/dosdevices/n:";
    QFile::remove(drive);
    QVERIFY(QFile::link(share.path(), drive));
    startDriver("zelconnect", {"N:\\app.txt"});
    command("connect");
    const QList<QByteArray> lines = readingLines(40).split('\n');
    QVERIFY(m_device->write(lines.first(4).join('\n') + '\n'));
    const QString log = share.backing() + "/app.txt";
    QTRY_COMPARE_WITH_TIMEOUT(readAll(log).count('\n'), 3, 20000);
    QVERIFY(share.command(fault));
    QVERIFY(m_device->write(lines.sliced(4, 10).join('\n') + '\n'));
    // The window answers while its lines wait.
    QVERIFY(!command("value").filter(QRegularExpression("^done ")).isEmpty());
    QVERIFY2(hears("^notice .*" + QRegularExpression::escape(notice), 20000),
             qPrintable(m_heard.filter("notice ").join(" / ")));
    QVERIFY(share.command(fault == "hold-writes" ? "release" : "sync-ok"));
    QVERIFY(m_device->write(lines.sliced(14, 25).join('\n') + "\nR"));
    QVERIFY(hears("^notice The \\d+ samples that waited are now in N:\\\\app.txt", 20000));
    QTRY_COMPARE_WITH_TIMEOUT(readAll(log).count('\n'), 39, 20000);
    // Every sample, once, in order, each line whole.
    const QList<QByteArray> logged = readAll(log).split('\n');
    for (int i = 0; i < 39; ++i) {
        QCOMPARE(logged[i].mid(logged[i].indexOf(',') + 2), lines[i]);
    }
    qInfo() << m_heard.filter("notice ");
    command("quit");
    QFile::remove(drive);
}

void WindowsTest::commandLine() {
    // A command prompt finds Zel_Connect.com first: what it prints is the program's, whole,
    // with the program's exit code, also redirected; in a pipe or a file as UTF-8, with the
    // names the ANSI code page cannot hold (a Cyrillic folder, option). The usage line names
    // the program, not the path the companion started it by.
    const QString folder = QFileInfo(installed("Zel_Connect.exe", "Мои программы")).absolutePath();
    const auto prompt = [&](const QString& line) {
        return run({"cmd", "/c", line}, folder);
    };
    QCOMPARE(prompt("Zel_Connect --version").output, "Zel_Connect " ZEL_VERSION "\n");
    for (const char* help : {"Zel_Connect --help", "Zel_Connect /?"}) {
        const Ran ran = prompt(help);
        QVERIFY2(ran.exitCode == 0 && ran.output.startsWith("Usage: Zel_Connect [options]\n") &&
                     ran.output.contains("COM1 to COM4") &&
                     QString(ran.output).replace('\n', ' ').contains("Мои программы);"),
                 qPrintable(ran.output + ran.errors));
        for (const QString& line : ran.output.split('\n')) { // none fills a console's last column
            QVERIFY2(line.size() <= 79, qPrintable(line));
        }
    }
    const Ran ports = prompt("Zel_Connect --ports");
    QVERIFY2(ports.output.startsWith("Com1  COM1") && ports.exitCode == 0,
             qPrintable(ports.output + ports.errors));
    QCOMPARE(ports.output, run({folder + "/Zel_Connect.exe", "--ports"}).output);
    QCOMPARE(prompt("Zel_Connect --ports > ports.txt").exitCode, 0);
    QCOMPARE(QString(readAll(folder + "/ports.txt")).remove('\r'), ports.output);
    const Ran wrong = prompt("Zel_Connect --ключ");
    QVERIFY2(wrong.exitCode == 2 && wrong.errors.contains("Unknown option 'ключ'"),
             qPrintable(wrong.errors));
    // On a terminal Wine gives the companion a console: the program's wide characters reach
    // the terminal as they are.
    PseudoTerminal terminal;
    QProcess console;
    console.setProcessEnvironment(environment());
    console.setStandardOutputFile(terminal.devicePath());
    start(console, folder + "/Zel_Connect.com", {"--help"});
    QByteArray shown;
    for (QDeadlineTimer patience(60000); !console.waitForFinished(10) && !patience.hasExpired();) {
        shown += terminal.read(100);
    }
    shown += terminal.read(100);
    QVERIFY2(shown.contains("Usage: Zel_Connect [options]") && shown.contains("программы"),
             shown.constData());
    // Alone in a folder, the companion says in one line that the program is missing: it is
    // what the prompt ran.
    const QString alone = m_dir.filePath("Без программы");
    QDir().mkpath(alone);
    QFile::copy(kBin + "/Zel_Connect.com", alone + "/Zel_Connect.com");
    const Ran missing = run({"cmd", "/c", "Zel_Connect --version"}, alone);
    QVERIFY2(QRegularExpression("^Cannot start .*Без программы.Zel_Connect.exe: [^\n]+\n$")
                     .match(missing.errors)
                     .hasMatch() &&
                 missing.exitCode == 1,
             qPrintable(missing.output + missing.errors));
}

void WindowsTest::release() {
    const QString name = "Zel_Connect-" ZEL_VERSION "-windows-x64";
    const QString zip = kBin + "/../" + name + ".zip";
    const QString msi = kBin + "/../" + name + ".msi";
    if (!QFile::exists(zip) || !QFile::exists(msi)) {
        QSKIP("no release built; scripts/windows-release builds it");
    }
    QVERIFY(QFileInfo(zip).size() < 12 * 1000 * 1000);
    const QString unpacked = m_dir.filePath("release");
    QCOMPARE(QProcess::execute("unzip", {"-q", "-o", zip, "-d", unpacked}), 0);
    const QString top = unpacked + "/" + name + "/";
    for (const char* file : {"Zel_Connect.com", "Tolvek.com", "README.txt", "LICENSE.txt",
                             "CHANGELOG.txt", "licenses/Qt/SOURCE.txt",
                             "licenses/Qt/LGPL-3.0-only.txt", "licenses/MinGW-w64/gcc-runtime.txt",
                             "licenses/MinGW-w64/mingw-w64-and-winpthreads.txt"}) {
        QVERIFY2(QFileInfo(top + file).size() > 0, file);
    }
    QVERIFY(readAll(top + "licenses/Qt/SOURCE.txt").contains("qt6-base"));
    QVERIFY(
        readAll(top + "licenses/MinGW-w64/gcc-runtime.txt").contains("RUNTIME LIBRARY EXCEPTION"));
    // The icon and the version the program prints, as Explorer reads them.
    const auto wrestool = [](const QStringList& arguments) {
        QProcess tool;
        tool.start("wrestool", arguments);
        tool.waitForFinished();
        return tool.readAllStandardOutput();
    };
    for (const auto& [program, version] :
         {std::pair{"Zel_Connect.exe", ZEL_VERSION}, std::pair{"Tolvek.exe", "0.00.0039"}}) {
        const QByteArray resources = wrestool({"-l", top + program});
        QVERIFY2(resources.contains("type=group_icon") && resources.contains("type=version"),
                 resources.constData());
        const QString printed(version);
        QVERIFY(wrestool({"-x", "--raw", "--type=16", top + program})
                    .contains(QByteArray(reinterpret_cast<const char*>(printed.utf16()),
                                         printed.size() * 2)));
    }

    // Installed for the user alone, with shortcuts that start the programs; removed, nothing
    // is left.
    const QString folder = userFolder() + "/AppData/Local/Programs/Zel_Connect";
    const QString menu =
        userFolder() + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Zel_Connect";
    QVERIFY(wine({"msiexec", "/i", msi, "/qn"}));
    QVERIFY(QFile::exists(folder + "/Zel_Connect.exe") && QFile::exists(folder + "/Tolvek.com"));
    QVERIFY(QFile::exists(menu + "/Zel_Connect.lnk") && QFile::exists(menu + "/Tolvek.lnk"));
    const auto listed = [this] {
        return run({"uninstaller", "--list"}).output;
    };
    QVERIFY2(listed().contains("|||Zel_Connect"), qPrintable(listed())); // in Installed apps
    // Headless here: the test bench's platform plugin beside the installed one, for the run.
    const QString headless = folder + "/platforms/qoffscreen.dll";
    QVERIFY(QFile::copy(kBin + "/platforms/qoffscreen.dll", headless));
    QProcess shortcut;
    shortcut.setProcessEnvironment(environment(true));
    start(shortcut, "start", {"/unix", menu + "/Zel_Connect.lnk"});
    QTRY_COMPARE_WITH_TIMEOUT(deviceSpeed(), speed_t(B9600), 30000); // it connected at start
    QVERIFY(wine({"taskkill", "/f", "/im", "Zel_Connect.exe"}));
    QTRY_VERIFY(QFile::remove(headless) || !QFile::exists(headless));
    QTRY_VERIFY_WITH_TIMEOUT(wine({"msiexec", "/x", msi, "/qn"}), 30000);
    QVERIFY(!QFileInfo::exists(folder) && !QFileInfo::exists(menu));
    QVERIFY(!listed().contains("Zel_Connect"));
    QVERIFY(!wine({"reg", "query", "HKCU\\Software\\Zel_Connect\\Installer"}));
}

QTEST_GUILESS_MAIN(WindowsTest)
#include "tst_windows.moc"
