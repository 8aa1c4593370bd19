// The real Zel_Connect program, started as a user would (offscreen), against the simulated
// sensor: it connects and the log file beside it fills with the sensor's samples.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void zelConnectLogsTheSensorsSamples();
    void simulatorEndsCleanlyOnTerminate();
};

void EndToEndTest::zelConnectLogsTheSensorsSamples() {
    QProcess sim;
    sim.start(QStringLiteral(ZEL_COLORSIM), {"--rate", "40", "--garbage", "20"});
    QVERIFY(sim.waitForReadyRead(5000));
    const QString device = QString::fromLocal8Bit(sim.readLine().trimmed());

    // A copy of the program in a directory of its own: the log goes beside the program.
    QTemporaryDir dir;
    const QString program = dir.filePath("Zel_Connect");
    QVERIFY(QFile::copy(QStringLiteral(ZEL_CONNECT), program));
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);

    QProcess zel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ZEL_COM1", device);
    environment.insert("ZEL_CONNECT_AT_START", "1");
    zel.setProcessEnvironment(environment);
    zel.start(program, {});
    QVERIFY(zel.waitForStarted(5000));

    const QString logPath = dir.filePath("app.txt");
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
    zel.terminate();
    QVERIFY(zel.waitForFinished(5000));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void EndToEndTest::simulatorEndsCleanlyOnTerminate() {
    QTemporaryDir dir;
    const QString link = dir.filePath("sensor");
    QProcess sim;
    sim.start(QStringLiteral(ZEL_COLORSIM), {"--link", link});
    QVERIFY(sim.waitForReadyRead(5000));
    QVERIFY(QFileInfo(link).isSymLink());
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
