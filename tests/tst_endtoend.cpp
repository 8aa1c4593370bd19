// The real programs, started as a user would (offscreen), against the simulated sensor: the
// log fills with the sensor's samples, beside the program or, installed where the user may
// not write, in the user's data folder; the command line works without a display; a signal
// ends a program as closing its window does.
#include "files.h"
#include "pseudoterminal.h"
#include "readonlyfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <numeric>

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void zelConnectLogsTheSensorsSamples_data();
    void zelConnectLogsTheSensorsSamples();
    void commandLineWithoutADisplay();
    void signalEndsTheProgramAsClosingDoes_data();
    void signalEndsTheProgramAsClosingDoes();
    void twoSensorsTwoLogs_data();
    void twoSensorsTwoLogs();
};

namespace {

// Qt Serial Port's lock file of a device (/var/lock is its first choice; on Debian it is
// /run/lock): there while a program has the port open.
QString portLock(const PseudoTerminal& device) {
    return "/var/lock/LCK.." + device.devicePath().mid(5).replace('/', '_');
}

// The red readings logged in a file, in order.
QList<int> loggedReds(const QString& path) {
    QList<int> reds;
    for (const QByteArray& line : readAll(path).split('\n')) {
        if (const qsizetype at = line.indexOf("R="); at >= 0) {
            reds << line.mid(at + 2, 4).toInt();
        }
    }
    return reds;
}

} // namespace

void EndToEndTest::zelConnectLogsTheSensorsSamples_data() {
    QTest::addColumn<bool>("programFolderWritable");
    QTest::newRow("a build: beside the program") << true;
    QTest::newRow("installed read-only: the data folder") << false;
}

void EndToEndTest::zelConnectLogsTheSensorsSamples() {
    QFETCH(bool, programFolderWritable);
    // A copy of the program in a folder of its own; the sensor behind a link.
    QTemporaryDir dir;
    QTemporaryDir data;
    const QString link = data.filePath("sensor");
    QProcess sim;
    sim.start(QStringLiteral(ZEL_COLORSIM), {"--rate", "40", "--garbage", "20", "--link", link});
    QVERIFY(sim.waitForReadyRead(5000));
    const QString program = dir.filePath("Zel_Connect");
    QVERIFY(QFile::copy(QStringLiteral(ZEL_CONNECT), program));
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    if (!programFolderWritable && !makeReadOnly(dir.path(), true)) {
        QSKIP("cannot make a directory read-only here");
    }
    const WritableAgain restore{dir.path()};

    QProcess zel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", data.path());
    environment.insert("XDG_CONFIG_HOME", data.path()); // what it remembers for the user
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ZEL_COM1", link);
    environment.insert("ZEL_CONNECT_AT_START", "1");
    zel.setProcessEnvironment(environment);
    zel.start(program, {});
    QVERIFY(zel.waitForStarted(5000));

    const QString logPath =
        programFolderWritable ? dir.filePath("app.txt") : data.filePath("Zel_Connect/app.txt");
    QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath).count('\n') >= 10, 20000);

    const QList<QByteArray> lines = readAll(logPath).split('\n');
    const QRegularExpression pattern(QStringLiteral("^(\\d+), R=\\d{4} G=\\d{4} B=\\d{4}\\r$"));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) { // the last piece follows the last CR LF
        const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(lines[i]));
        QVERIFY2(match.hasMatch(), lines[i].constData());
        QCOMPARE(match.captured(1).toLongLong(), 100 * i);
    }
    QCOMPARE(QFileInfo::exists(dir.filePath("app.txt")), programFolderWritable);
    zel.terminate();
    QVERIFY(zel.waitForFinished(5000));
    // The sensor ends cleanly and takes its link away.
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void EndToEndTest::commandLineWithoutADisplay() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(name);
    }
    // Every port named, so that nothing of this machine is looked at.
    for (int port = 1; port <= 4; ++port) {
        environment.insert(QStringLiteral("ZEL_COM%1").arg(port),
                           QStringLiteral("/nonexistent/sensor%1").arg(port));
    }
    const auto run = [&](const QString& program, const QString& option) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, {option});
        const bool ended = process.waitForFinished(10000);
        return ended && process.exitCode() == 0
                   ? QString::fromLocal8Bit(process.readAllStandardOutput())
                   : QStringLiteral("exit %1: ").arg(process.exitCode()) +
                         process.readAllStandardError();
    };
    QCOMPARE(run(ZEL_CONNECT, "--ports"),
             QStringLiteral("Com1  /nonexistent/sensor1: does not exist; named by ZEL_COM1\n"
                            "Com2  /nonexistent/sensor2: does not exist; named by ZEL_COM2\n"
                            "Com3  /nonexistent/sensor3: does not exist; named by ZEL_COM3\n"
                            "Com4  /nonexistent/sensor4: does not exist; named by ZEL_COM4\n"));
    QCOMPARE(run(ZEL_CONNECT, "--version"), QStringLiteral("Zel_Connect " ZEL_VERSION "\n"));
    QCOMPARE(run(ZEL_TOLVEK, "--version"), QStringLiteral("Tolvek 0.00.0039\n"));
    const QString help = run(ZEL_CONNECT, "--help");
    QVERIFY2(help.contains("--ports") && help.contains("ZEL_COM1") &&
                 help.contains("/dev/ttyUSB") && help.contains("/dev/ttyS<n-1>") &&
                 help.contains("app.txt") && !help.contains("-stylesheet"), // Qt's own: not ours
             qPrintable(help));
    QVERIFY(!run(ZEL_TOLVEK, "--help").contains("app.txt")); // Tolvek keeps no log
    const QString refused = run(ZEL_TOLVEK, "--frobnicate");
    QVERIFY(refused.startsWith("exit 2: Tolvek: Unknown option 'frobnicate'.\n\nUsage: "));

    // Run from a folder with a long name, its ports file there too: every line still fits an
    // 80-column console, wrapped at spaces with its indent, a word too long broken; the usage
    // line names the program, not the folder.
    QTemporaryDir dir;
    const QString folder = dir.filePath(QString(70, 'x') + " Zel Connect");
    QVERIFY(QDir().mkpath(folder) && QFile::copy(ZEL_CONNECT, folder + "/Zel_Connect"));
    environment.insert("XDG_CONFIG_HOME", folder);
    for (const char* option : {"--help", "/?", "--frobnicate"}) {
        const QString help = run(folder + "/Zel_Connect", option);
        for (const QString& line : help.split('\n')) {
            QVERIFY2(line.size() <= 79, qPrintable(line));
        }
        QVERIFY(QString(help).remove("\n    ").contains(folder + "/Zel_Connect/ports.conf;"));
        QVERIFY2(('\n' + help).contains("\nUsage: Zel_Connect [options]\n"), qPrintable(help));
    }
}

void EndToEndTest::signalEndsTheProgramAsClosingDoes_data() {
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QList<int>>("signalNumbers");
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        QTest::addRow("Zel_Connect, %s", strsignal(number))
            << QStringList{ZEL_CONNECT} << QList{number};
        QTest::addRow("Tolvek with Qt's options, %s", strsignal(number))
            << QStringList{ZEL_TOLVEK, "-reverse", "-style", "Fusion"} << QList{number};
        QTest::addRow("bytes queued, a box open, %s twice", strsignal(number))
            << QStringList{ZEL_SENDING} << QList{number, number};
    }
}

void EndToEndTest::signalEndsTheProgramAsClosingDoes() {
    QFETCH(QStringList, command);
    QFETCH(QList<int>, signalNumbers);
    PseudoTerminal device;
    qputenv("ZEL_COM1", QFile::encodeName(device.devicePath()));
    qputenv("ZEL_CONNECT_AT_START", "1");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // One for a terminal just made can only be left by a program that was killed.
    const QString lock = portLock(device);
    QFile::remove(lock);
    QProcess process;
    process.start(command.takeFirst(), command);
    const qsizetype queued = process.program() == ZEL_SENDING ? 200000 : 0;
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(lock) && (queued == 0 || process.canReadLine()),
                             10000);
    QVERIFY(queued == 0 || process.readLine() == "queued 200000\n");

    for (const int number : signalNumbers) {
        QCOMPARE(::kill(process.processId(), number), 0);
    }
    // The device reads only now: all that was queued comes.
    QByteArray received;
    for (QDeadlineTimer patience(20000); received.size() < queued && !patience.hasExpired();) {
        received += device.read(100);
    }
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(received.count('x'), queued);
    QVERIFY(!QFileInfo::exists(lock));
    QCOMPARE(process.exitCode(), 0); // not the signal's number: a normal exit
}

void EndToEndTest::twoSensorsTwoLogs_data() {
    QTest::addColumn<bool>("folderWritable");
    QTest::newRow("a folder that can be written") << true;
    QTest::newRow("a folder where only app.txt can be written") << false;
}

void EndToEndTest::twoSensorsTwoLogs() {
    QFETCH(bool, folderWritable);
    // One program per sensor, started from one folder: each logs to a file of its own, or,
    // where it cannot have one, to none. A lock file of an older version, empty, holds nothing.
    QTemporaryDir dir;
    const QString program = dir.filePath("Zel_Connect");
    QVERIFY(QFile::copy(QStringLiteral(ZEL_CONNECT), program));
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    QVERIFY(QDir(dir.path()).mkdir("config") &&
            QFile(dir.filePath("app.txt.lock")).open(QFile::WriteOnly) &&
            QFile(dir.filePath("app.txt")).open(QFile::WriteOnly));
    if (!folderWritable && !makeReadOnly(dir.path(), true)) {
        QSKIP("cannot make a directory read-only here");
    }
    const WritableAgain restore{dir.path()};
    PseudoTerminal sensors[3];
    QProcess programs[3];
    const auto start = [&](int n) {
        QFile::remove(portLock(sensors[n]));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("ZEL_COM1", sensors[n].devicePath());
        environment.insert("ZEL_CONNECT_AT_START", "1");
        programs[n].setProcessEnvironment(environment);
        programs[n].start(program, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(portLock(sensors[n])), 10000);
    };
    // Sensor n reads n000, n001, ...: a run of consecutive readings of one sensor is exact.
    int reading = 0;
    const auto measure = [&](QList<int> active, const QString& log, qsizetype until) {
        for (const int end = reading + 2000;
             loggedReds(dir.filePath(log)).size() < until && reading < end; ++reading) {
            for (const int n : active) {
                sensors[n].write(QStringLiteral("R=%1 G=2000 B=3000\r\n")
                                     .arg((n + 1) * 1000 + reading)
                                     .toLatin1());
            }
            QTest::qWait(10);
        }
    };
    const auto isRun = [](const QList<int>& reds, int sensor) {
        QList<int> run(reds.size());
        std::iota(run.begin(), run.end(), reds.value(0));
        return !reds.isEmpty() && reds.first() / 1000 == sensor && reds == run;
    };
    start(0);
    start(1);
    measure({0}, "app.txt", 1); // the first to log keeps app.txt
    const QString second = folderWritable ? "app-2.txt" : "app.txt";
    measure({0, 1}, second, 20);
    QVERIFY2(isRun(loggedReds(dir.filePath("app.txt")), 1), readAll(dir.filePath("app.txt")));
    QVERIFY2(!folderWritable || isRun(loggedReds(dir.filePath(second)), 2),
             readAll(dir.filePath(second)));
    // Killed, the first leaves app.txt to the next: where the second has no file of its own,
    // it is the second, whose samples waited.
    programs[0].kill();
    QVERIFY(programs[0].waitForFinished(5000));
    const qsizetype before = loggedReds(dir.filePath("app.txt")).size();
    if (folderWritable) {
        start(2);
    }
    measure(folderWritable ? QList{1, 2} : QList{1}, "app.txt", before + 20);
    QVERIFY(isRun(loggedReds(dir.filePath("app.txt")).mid(before), folderWritable ? 3 : 2));
    QVERIFY(!folderWritable || isRun(loggedReds(dir.filePath("app-2.txt")), 2));
    QVERIFY(!QFileInfo::exists(dir.filePath(folderWritable ? "app-3.txt" : "app-2.txt")));
    QVERIFY(QFileInfo::exists(dir.filePath("app.txt.lock"))); // not ours to remove
    for (QProcess& zel : programs) {
        zel.terminate();
        zel.waitForFinished(5000);
    }
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
