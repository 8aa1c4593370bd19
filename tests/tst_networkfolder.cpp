// The log in a folder that misbehaves as a network share does (a FUSE file system of the
// tests' own): the window never waits for it, and every sample ends up in app.txt once, in
// order and whole, or its loss is said.
#include "faultyfolder.h"
#include "files.h"
#include "logsettled.h"
#include "readonlyfolder.h"
#include "samplelog.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

QByteArray sampleLines(int from, int count) {
    QByteArray lines;
    for (int n = from; n < from + count; ++n) {
        lines += QStringLiteral("%1, R=1000 G=2000 B=3000\r\n").arg(100 * n).toLatin1();
    }
    return lines;
}

} // namespace

class NetworkFolderTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void appendsCountOnceConfirmed_data();
    void appendsCountOnceConfirmed();
    void windowGoesOnWhileTheFolderHolds();
    void programEndsWhileTheFolderHolds();

private:
    std::unique_ptr<FaultyFolder> m_folder;
};

void NetworkFolderTest::init() {
    m_folder = std::make_unique<FaultyFolder>(QStringLiteral(ZEL_FAULTYFOLDER));
    if (!m_folder->start()) {
        QSKIP(FaultyFolder::unavailable);
    }
}

void NetworkFolderTest::appendsCountOnceConfirmed_data() {
    QTest::addColumn<QByteArrayList>("fault");
    QTest::addColumn<bool>("roomUnknown"); // the file system's room is not asked
    QTest::addColumn<int>("failing");      // appends that fail while the fault lasts
    QTest::newRow("quota reported at close") << QByteArrayList{"fail-sync"} << false << 3;
    // A write cut short mid-line by a quota no room check sees, in a file that cannot be cut
    // back: the piece stays and the line's rest follows it.
    QTest::newRow("truncate refused") << QByteArrayList{"refuse-truncate", "room 15"} << true << 3;
    // What the room check says is the same rule for one line as for many.
    QTest::newRow("no room, one line and many")
        << QByteArrayList{QByteArray("room ") + QByteArray::number(SampleLog::kRoomReserve + 20)}
        << false << 3;
    QTest::newRow("no lock service") << QByteArrayList{"nolock"} << false << 0;
}

void NetworkFolderTest::appendsCountOnceConfirmed() {
    QFETCH(QByteArrayList, fault);
    QFETCH(bool, roomUnknown);
    QFETCH(int, failing);
    SampleLog log(QDir(m_folder->path()).filePath("app.txt"));
    if (roomUnknown) {
        log.setDisk({[](const QString&) {
            return std::nullopt;
        }});
    }
    for (const QByteArray& command : fault) {
        QVERIFY(m_folder->command(command));
    }
    QByteArray expected;
    for (int n = 1; n <= 3; ++n) {
        const QByteArray lines = sampleLines(expected.count('\n'), n);
        QCOMPARE(log.log(lines).has_value(), n <= failing);
        expected += lines;
    }
    for (const char* command : {"sync-ok", "truncate-ok", "room off"}) {
        QVERIFY(m_folder->command(command));
    }
    QVERIFY(!log.log(sampleLines(expected.count('\n'), 1)));
    expected += sampleLines(expected.count('\n'), 1);
    QCOMPARE(readAll(QDir(m_folder->backing()).filePath("app.txt")), expected);
    QCOMPARE(log.pieceKeptSinceAsked(),
             QTest::currentDataTag() == QLatin1String("truncate refused"));
    QCOMPARE(log.unlocked(), fault.first() == "nolock");
}

void NetworkFolderTest::windowGoesOnWhileTheFolderHolds() {
    ZelConnectWindow window(QDir(m_folder->path()).filePath("app.txt"));
    QList<MessageBoxRequest> notices;
    window.setNoticePresenter([&](QWidget*, const MessageBoxRequest& r) { notices << r; });
    window.receive(sampleLines(0, 2).replace("0, R", "R")); // two readings: one sample
    QTRY_VERIFY(logSettled(window) && window.samplePlot().logWriter()->last().written == 1);
    QVERIFY(m_folder->command("hold"));
    // The window goes on: it plots, answers what is posted to it, and says why lines wait.
    window.controls().TextCal->setText("1000");
    for (int n = 0; n < 10; ++n) {
        QTest::mouseClick(window.controls().cmdDraw, Qt::LeftButton);
    }
    QCOMPARE(window.samplePlot().model().strokeCount(), std::size_t(11));
    bool answered = false;
    QTimer::singleShot(0, &window, [&] { answered = true; });
    QTRY_VERIFY(answered);
    QTRY_VERIFY_WITH_TIMEOUT(!notices.isEmpty(), 4 * SamplePlot::kNoAnswerMs);
    QVERIFY2(notices[0].prompt.startsWith("The folder of app.txt does not answer; 10 samples are "
                                          "waiting."),
             qPrintable(notices[0].prompt));
    QVERIFY(m_folder->command("release"));
    QTRY_VERIFY(notices.last().prompt.startsWith("The 10 samples that waited are now in"));
    const QList<QByteArray> lines =
        readAll(QDir(m_folder->backing()).filePath("app.txt")).split('\n');
    QCOMPARE(lines.size(), 12);
    for (int n = 0; n < 11; ++n) {
        QVERIFY(lines[n].startsWith(QByteArray::number(n * 100) + ", R="));
    }
}

void NetworkFolderTest::programEndsWhileTheFolderHolds() {
    // The program in a folder it cannot write logs in the user's data folder: on a network
    // home here.
    QTemporaryDir program;
    QTemporaryDir local;
    const QString copy = program.filePath("Zel_Connect");
    QVERIFY(QFile::copy(QStringLiteral(ZEL_CONNECT), copy));
    QFile::setPermissions(copy, QFile::permissions(copy) | QFileDevice::ExeOwner);
    if (!makeReadOnly(program.path(), true)) {
        QSKIP("cannot make a directory read-only here");
    }
    const WritableAgain restore{program.path()};
    QProcess sim;
    const QString link = local.filePath("sensor");
    sim.start(QStringLiteral(ZEL_COLORSIM), {"--rate", "50", "--link", link});
    QVERIFY(sim.waitForReadyRead(5000));

    QProcess zel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", m_folder->path());
    environment.insert("XDG_CONFIG_HOME", local.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ZEL_COM1", link);
    environment.insert("ZEL_CONNECT_AT_START", "1");
    zel.setProcessEnvironment(environment);
    zel.start(copy, {});
    const QString log = QDir(m_folder->backing()).filePath("Zel_Connect/app.txt");
    QTRY_VERIFY_WITH_TIMEOUT(readAll(log).count('\n') >= 3, 20000);
    QVERIFY(m_folder->command("hold"));
    QTest::qWait(500); // samples come, and wait
    zel.terminate();
    // It ends within the bound, saying what is lost; its thread that waits for the folder
    // keeps the process from being reaped until the folder answers.
    const QString status = QStringLiteral("/proc/%1/status").arg(zel.processId());
    const auto ended = [&] {
        return zel.state() == QProcess::NotRunning || readAll(status).contains("State:\tZ");
    };
    QTRY_VERIFY_WITH_TIMEOUT(ended(), 3 * LogWriter::kClosingMs);
    QVERIFY(m_folder->command("release"));
    QVERIFY(zel.waitForFinished(10000));
    QCOMPARE(zel.exitCode(), 0);
    const QByteArray said = zel.readAllStandardError();
    QVERIFY2(said.contains("could not be written to the log file"), said.constData());
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

QTEST_MAIN(NetworkFolderTest)
#include "tst_networkfolder.moc"
