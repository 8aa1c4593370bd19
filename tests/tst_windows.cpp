// The Windows build, run under Wine against a device played on a pseudo-terminal that Wine
// maps to COM1: connected at start, every sample logged once beside the .exe, what the
// window sends and the line settings it sets arriving at the device, a device that goes
// away and comes back, Tolvek's value, and the command line. Skipped, saying why, where
// Wine or the Windows build is missing (scripts/windows-test provides both).
#include "pseudoterminal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <termios.h>

namespace {

const QString kBin = QStringLiteral(ZEL_WINDOWS_BIN);

// The lines a device sends: each sample different from every other.
QByteArray samples(int count) {
    QByteArray lines;
    for (int i = 0; i < count; ++i) {
        lines += QStringLiteral("R=%1 G=%2 B=%3\r\n")
                     .arg(1000 + i % 9000)
                     .arg(2000 + i / 9 % 7000)
                     .arg(3000 + i % 5000)
                     .toLatin1();
    }
    return lines;
}

} // namespace

class WindowsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void programsConnectAtStart_data();
    void programsConnectAtStart();
    void everySampleLoggedOnceBesideTheProgram();
    void textAndHexArriveAtTheDevice();
    void lineSettingsArriveAtTheDevice_data();
    void lineSettingsArriveAtTheDevice();
    void deviceGoesAwayAndComesBack();
    void tolvekValue();
    void commandLine();

private:
    /// A folder with the program beside its libraries, as a user unpacks the release.
    QString installed(const QString& program);
    QProcessEnvironment environment() const;
    void start(QProcess& process, const QString& program, const QStringList& arguments = {});
    /// The driver (tests/windowdriver.cpp): a command, then what it answered up to "done".
    QStringList command(const QString& line);
    void unplug();
    void plugIn();
    QByteArray readDevice(int quietMs = 300);

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
    QProcess boot;
    boot.setProcessEnvironment(environment());
    boot.start(m_wine, {"wineboot", "-i"});
    QVERIFY(boot.waitForFinished(180000));
}

void WindowsTest::init() {
    plugIn();
    // Wine's COM1 is the device's link from the next program on; never the machine's own.
    QProcess reg;
    reg.setProcessEnvironment(environment());
    reg.start(m_wine, {"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1", "/d",
                       m_dir.filePath("sensor"), "/f"});
    QVERIFY(reg.waitForFinished(60000) && reg.exitCode() == 0);
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

QProcessEnvironment WindowsTest::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("WINEPREFIX", m_prefix);
    environment.insert("WINEDEBUG", "-all");
    environment.insert("WINEDLLOVERRIDES", "mscoree,mshtml=");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("ZEL_CONNECT_AT_START");
    return environment;
}

QString WindowsTest::installed(const QString& program) {
    const QString folder = m_dir.filePath(program);
    QDir().mkpath(folder);
    for (const QFileInfo& file :
         QDir(kBin).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (file.suffix() == "dll" || file.isDir()) {
            QFile::link(file.absoluteFilePath(), folder + "/" + file.fileName());
        }
    }
    QFile::copy(kBin + "/" + program, folder + "/" + program);
    return folder + "/" + program;
}

void WindowsTest::start(QProcess& process, const QString& program, const QStringList& arguments) {
    process.start(m_wine, QStringList{program} + arguments);
    QVERIFY(process.waitForStarted(30000));
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

void WindowsTest::unplug() {
    m_device->unplug();
    QFile::remove(m_dir.filePath("sensor"));
}

void WindowsTest::plugIn() {
    m_device = std::make_unique<PseudoTerminal>();
    QFile::remove(m_dir.filePath("sensor"));
    QFile::link(m_device->devicePath(), m_dir.filePath("sensor"));
}

QByteArray WindowsTest::readDevice(int quietMs) {
    QByteArray all;
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < quietMs) {
        QTest::qWait(10);
        if (const QByteArray more = m_device->read(0); !more.isEmpty()) {
            all += more;
            quiet.restart();
        }
    }
    return all;
}

void WindowsTest::programsConnectAtStart_data() {
    QTest::addColumn<QString>("program");
    QTest::newRow("Zel_Connect") << "Zel_Connect.exe";
    QTest::newRow("Tolvek") << "Tolvek.exe";
}

void WindowsTest::programsConnectAtStart() {
    QFETCH(QString, program);
    QProcess windows;
    QProcessEnvironment environment = this->environment();
    environment.insert("ZEL_CONNECT_AT_START", "1");
    windows.setProcessEnvironment(environment);
    start(windows, installed(program));
    // Opened and set up as the program's settings say: 9600 baud, raw (it was 38400).
    const auto speed = [this] {
        termios line{};
        ::tcgetattr(m_device->deviceHandle(), &line);
        return cfgetospeed(&line);
    };
    QTRY_COMPARE_WITH_TIMEOUT(speed(), speed_t(B9600), 30000);
    windows.kill();
    windows.waitForFinished();
}

void WindowsTest::everySampleLoggedOnceBesideTheProgram() {
    const int count = 3000;
    QProcess windows;
    QProcessEnvironment environment = this->environment();
    environment.insert("ZEL_CONNECT_AT_START", "1");
    windows.setProcessEnvironment(environment);
    const QString program = installed("Zel_Connect.exe");
    start(windows, program);
    QTRY_VERIFY_WITH_TIMEOUT(
        [this] {
            termios line{};
            ::tcgetattr(m_device->deviceHandle(), &line);
            return cfgetospeed(&line) == B9600;
        }(),
        30000);
    // As a sensor at 115200 baud sends them, one after the other.
    const QByteArray stream = samples(count) + "R";
    QElapsedTimer sending;
    sending.start();
    for (qsizetype sent = 0; sent < stream.size(); sent += 1152) {
        QVERIFY(m_device->write(stream.mid(sent, 1152)));
        while (sending.elapsed() < (sent + 1152) / 11.52) {
            QTest::qWait(5);
        }
    }
    const QString logPath = QFileInfo(program).absolutePath() + "/app.txt";
    const auto logged = [&logPath] {
        QFile log(logPath);
        return log.open(QIODevice::ReadOnly) ? log.readAll().split('\n') : QList<QByteArray>{};
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
    qInfo("%d samples sent in %.1f s at 115200 baud, %lld logged, each once, in order", count,
          sending.elapsed() / 1000.0, qlonglong(lines.size() - 1));
}

void WindowsTest::textAndHexArriveAtTheDevice() {
    m_driver.setProcessEnvironment(environment());
    start(m_driver, installed("zel-driver.exe"));
    QVERIFY(m_driver.waitForReadyRead(30000));
    QVERIFY(command("connect").contains("done Connected|COM1|9600,N,8,1"));
    command("text hello, device");
    QCOMPARE(readDevice(), QByteArray("hello, device"));
    command("hex 01 ff 7e");
    QCOMPARE(readDevice(), QByteArray("\x01\xff\x7e"));
}

void WindowsTest::lineSettingsArriveAtTheDevice_data() {
    QTest::addColumn<QString>("choose");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("flags"); // of c_cflag that must be set
    QTest::addColumn<int>("mask");  // and the part of c_cflag they are looked for in
    QTest::newRow("19200 baud") << "speed 7"
                                << "19200,N,8,1" << int(B19200) << 0 << 0;
    QTest::newRow("115200 baud") << "speed 11"
                                 << "115200,N,8,1" << int(B115200) << 0 << 0;
    QTest::newRow("2 stop bits") << "stop 2"
                                 << "9600,N,8,2" << int(B9600) << int(CSTOPB) << int(CSTOPB);
    QTest::newRow("7 data bits") << "data 3"
                                 << "9600,N,7,1" << int(B9600) << int(CS7) << int(CSIZE);
    QTest::newRow("even parity") << "parity 0"
                                 << "9600,E,8,1" << int(B9600) << int(PARENB)
                                 << int(PARENB | PARODD);
}

void WindowsTest::lineSettingsArriveAtTheDevice() {
    QFETCH(QString, choose);
    QFETCH(QString, settings);
    QFETCH(int, speed);
    QFETCH(int, flags);
    QFETCH(int, mask);
    m_driver.setProcessEnvironment(environment());
    start(m_driver, installed("zel-driver.exe"));
    QVERIFY(m_driver.waitForReadyRead(30000));
    command("connect");
    const QStringList answer = command(choose);
    termios line{};
    ::tcgetattr(m_device->deviceHandle(), &line);
    // The setting reaches the device, or the program says it could not: never a silent
    // difference (a pseudo-terminal may not carry parity or short words).
    const QString box = answer.filter("box ").value(0);
    if (answer.contains("done Connected|COM1|" + settings)) {
        QCOMPARE(cfgetospeed(&line), speed_t(speed));
        QCOMPARE(int(line.c_cflag) & mask, flags);
        qInfo() << choose << "arrived at the device:" << settings;
    } else {
        QVERIFY2(box.contains("Com1 is not available.") && !answer.last().contains("Connected"),
                 qPrintable(answer.join(" / ")));
        qInfo() << choose << "refused, as the box says:" << box;
    }
}

void WindowsTest::deviceGoesAwayAndComesBack() {
    m_driver.setProcessEnvironment(environment());
    start(m_driver, installed("zel-driver.exe"));
    QVERIFY(m_driver.waitForReadyRead(30000));
    command("connect");
    unplug();
    QTest::qWait(3000);
    QElapsedTimer back;
    back.start();
    plugIn();
    QTRY_VERIFY_WITH_TIMEOUT(command("status").join(' ').contains("Connected"), 20000);
    const qint64 reopenMs = back.elapsed();
    QCOMPARE(m_heard.filter(QRegularExpression("^lost ")).size(), 1);
    QCOMPARE(m_heard.filter(QRegularExpression("^reconnected$")).size(), 1);
    command("text back");
    QCOMPARE(readDevice(), QByteArray("back"));
    qInfo() << "noticed once:" << m_heard.filter("lost ").value(0) << "; reopened after" << reopenMs
            << "ms";
}

void WindowsTest::tolvekValue() {
    m_driver.setProcessEnvironment(environment());
    start(m_driver, installed("zel-driver.exe"), {"tolvek"});
    QVERIFY(m_driver.waitForReadyRead(30000));
    command("connect");
    QVERIFY(m_device->write("R=1000 G=2000 B=3300\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(command("value").contains("value 2100"), 10000);
}

void WindowsTest::commandLine() {
    const QString program = installed("Zel_Connect.exe");
    const auto run = [&](const QString& argument) {
        QProcess process;
        QProcessEnvironment environment = this->environment();
        environment.remove("QT_QPA_PLATFORM");
        process.setProcessEnvironment(environment);
        process.start(m_wine, {program, argument});
        process.waitForFinished(60000);
        return QString::fromLocal8Bit(process.readAllStandardOutput()).remove('\r');
    };
    QCOMPARE(run("--version"), QStringLiteral("Zel_Connect " ZEL_VERSION "\n"));
    QVERIFY2(run("--help").contains("COM1 to COM4"), qPrintable(run("--help")));
    const QString ports = run("--ports");
    QVERIFY2(ports.startsWith("Com1  COM1"), qPrintable(ports));
}

QTEST_GUILESS_MAIN(WindowsTest)
#include "tst_windows.moc"
