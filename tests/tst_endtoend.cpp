// The real programs, started as a user would (offscreen), against the simulated sensor: the
// log fills with the sensor's samples, beside the program or, installed where the user may
// not write, in the user's data folder; the command line works without a display; a signal
// ends a program as closing its window does.
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
#include <termios.h>

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void zelConnectLogsTheSensorsSamples_data();
    void zelConnectLogsTheSensorsSamples();
    void commandLineWithoutADisplay();
    void signalEndsTheProgramAsClosingDoes_data();
    void signalEndsTheProgramAsClosingDoes();
};

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
    struct Writable {
        QString path;
        ~Writable() { makeReadOnly(path, false); }
    } restore{dir.path()};

    QProcess zel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", data.path());
    environment.insert("XDG_CONFIG_HOME", data.filePath("config"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ZEL_COM1", link);
    environment.insert("ZEL_CONNECT_AT_START", "1");
    zel.setProcessEnvironment(environment);
    zel.start(program, {});
    QVERIFY(zel.waitForStarted(5000));

    const QString logPath =
        programFolderWritable ? dir.filePath("app.txt") : data.filePath("Zel_Connect/app.txt");
    const auto logLines = [&logPath] {
        QFile log(logPath);
        return log.open(QIODevice::ReadOnly) ? log.readAll().split('\n') : QList<QByteArray>{};
    };
    QTRY_VERIFY_WITH_TIMEOUT(logLines().size() > 10, 20000);

    const QList<QByteArray> lines = logLines();
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
             QStringLiteral("Com1  /nonexistent/sensor1: named by ZEL_COM1\n"
                            "Com2  /nonexistent/sensor2: named by ZEL_COM2\n"
                            "Com3  /nonexistent/sensor3: named by ZEL_COM3\n"
                            "Com4  /nonexistent/sensor4: named by ZEL_COM4\n"));
    QCOMPARE(run(ZEL_CONNECT, "--version"), QStringLiteral("Zel_Connect " ZEL_VERSION "\n"));
    QCOMPARE(run(ZEL_TOLVEK, "--version"), QStringLiteral("Tolvek 0.00.0039\n"));
    const QString help = run(ZEL_CONNECT, "--help");
    QVERIFY2(help.contains("--ports") && help.contains("ZEL_COM1") &&
                 help.contains("/dev/ttyUSB") && help.contains("/dev/ttyS<n-1>") &&
                 help.contains("app.txt"),
             qPrintable(help));
    QVERIFY(!run(ZEL_TOLVEK, "--help").contains("app.txt")); // Tolvek keeps no log
    const QString refused = run(ZEL_TOLVEK, "--frobnicate");
    QVERIFY2(refused.startsWith("exit 2: Tolvek: Unknown option 'frobnicate'.") &&
                 refused.contains("Usage: ") && refused.contains("--ports"),
             qPrintable(refused));
}

void EndToEndTest::signalEndsTheProgramAsClosingDoes_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<int>>("signalNumbers");
    QTest::addColumn<bool>("box");
    for (const auto& [name, program, arguments] :
         {std::tuple{"Zel_Connect", ZEL_CONNECT, QStringList{}},
          std::tuple{"Tolvek", ZEL_TOLVEK, QStringList{"-reverse", "-style", "Fusion"}}}) {
        for (const auto& [signalName, number] :
             {std::pair{"SIGTERM", SIGTERM}, std::pair{"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}}) {
            QTest::addRow("%s, %s", name, signalName)
                << QString(program) << arguments << QList<int>{number} << false;
        }
    }
    QTest::newRow("bytes queued, SIGTERM")
        << QString(ZEL_SENDING) << QStringList{} << QList<int>{SIGTERM} << false;
    QTest::newRow("bytes queued, a box open, SIGTERM twice")
        << QString(ZEL_SENDING) << QStringList{} << QList<int>{SIGTERM, SIGTERM} << true;
}

void EndToEndTest::signalEndsTheProgramAsClosingDoes() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QList<int>, signalNumbers);
    QFETCH(bool, box);
    PseudoTerminal device;
    termios before{};
    QVERIFY(::tcgetattr(device.deviceHandle(), &before) == 0);
    QTemporaryDir home;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ZEL_COM1", device.devicePath());
    environment.insert("ZEL_CONNECT_AT_START", "1");
    if (box) {
        environment.insert("ZEL_TEST_BOX", "1");
    }
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    // Qt Serial Port's lock file says the port is open.
    const QString lockName = "LCK.." + device.devicePath().mid(5).replace('/', '_');
    const auto locked = [&lockName] {
        return QFileInfo::exists("/run/lock/" + lockName) ||
               QFileInfo::exists("/var/lock/" + lockName);
    };
    QTRY_VERIFY_WITH_TIMEOUT(locked(), 10000);
    QByteArray expected;
    if (program == ZEL_SENDING) {
        for (int i = 0; i < 40000; ++i) {
            expected += QByteArray::number(i) + '\n';
        }
        QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 10000);
        QCOMPARE(process.readLine(), "queued " + QByteArray::number(expected.size()) + '\n');
    }

    for (const int number : signalNumbers) {
        QCOMPARE(::kill(process.processId(), number), 0);
    }
    // The device reads only now: everything that was queued comes.
    QByteArray received;
    for (QDeadlineTimer patience(20000);
         received.size() < expected.size() && !patience.hasExpired();) {
        received += device.read(100);
    }
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(received.size(), expected.size());
    QVERIFY(received == expected);
    QVERIFY(!locked());
    // The line is left as it was before the program set it.
    termios after{};
    QVERIFY(::tcgetattr(device.deviceHandle(), &after) == 0);
    QCOMPARE(::cfgetospeed(&after), ::cfgetospeed(&before));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
