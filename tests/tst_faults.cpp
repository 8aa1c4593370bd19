// Faults from outside: a cable pulled in the middle of a burst, cable glitches and the
// device coming back, an installed program's folder that is not writable, and a stream
// that never stops.
#include "devicewindow.h"
#include "readonlyfolder.h"
#include "responsetext.h"
#include "sampleplot.h"
#include "zelconnectwindow.h"

#include <QElapsedTimer>
#include <QSettings>

#include <algorithm>

namespace {

QByteArray readingLines(int count) {
    QByteArray lines;
    for (int i = 0; i < count; ++i) {
        lines += QStringLiteral("R=%1 G=%2 B=%3\r\n")
                     .arg(1000 + i % 9000, 4, 10, QLatin1Char('0'))
                     .arg(2000 + i % 7000, 4, 10, QLatin1Char('0'))
                     .arg(3000 + i % 5000, 4, 10, QLatin1Char('0'))
                     .toLatin1();
    }
    return lines;
}

int openDescriptors() {
    return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // What the program remembers for the user goes here, not to the user's own settings.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    }
    void init() { w = std::make_unique<DeviceWindow<ZelConnectWindow>>(); }
    void cleanup() { w.reset(); }

    void cablePulledDuringBurst();
    void glitchesLeakNothing_data();
    void glitchesLeakNothing();
    void sameAdapterFoundByItsSerialNumber();
    void installedProgramLogsInTheDataFolder();
    void responseFieldBoundedUnderEndlessStream();

private:
    QTemporaryDir m_settings;
    std::unique_ptr<DeviceWindow<ZelConnectWindow>> w;
};

void FaultsTest::cablePulledDuringBurst() {
    QSignalSpy lost(&w->comm(), &MSComm::PortLost);
    QVERIFY(w->connectPort());
    const QByteArray burst = readingLines(20000); // 440,000 bytes
    // As fast as the program takes them, then gone in the middle of a line.
    for (qsizetype sent = 0; sent < 300007;) {
        sent += w->device->writeSome(QByteArrayView(burst).sliced(sent, 300007 - sent));
        QCoreApplication::processEvents();
    }
    w->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(w->panel(1), QStringLiteral("Disconnected"), 20000);
    QTest::qWait(300);
    QCOMPARE(lost.size(), 1);
    QVERIFY(w->boxes.isEmpty());

    // What arrived before the cable went is shown, whole and in order.
    const QString shown = w->response();
    QVERIFY(shown.size() > 1000);
    QVERIFY(terminal::ResponseText().render(QString::fromLatin1(burst)).startsWith(shown));
    // Every line that ended before the next one began was evaluated and logged once, in order.
    const QList<QByteArray> logged = w->log().split('\n');
    const qsizetype linesShown = shown.count(u'\n');
    QVERIFY(logged.size() - 1 >= linesShown - 1 && logged.size() - 1 <= linesShown);
    const QList<QByteArray> sent = burst.split('\n');
    for (qsizetype i = 0; i + 1 < logged.size(); ++i) {
        QCOMPARE(logged[i].mid(logged[i].indexOf(',') + 2), sent[i].trimmed() + '\r');
    }
}

void FaultsTest::glitchesLeakNothing_data() {
    QTest::addColumn<bool>("byHand");
    QTest::newRow("the device comes back: the port opens by itself") << false;
    QTest::newRow("Disconnect while waiting, then Connect") << true;
}

void FaultsTest::glitchesLeakNothing() {
    QFETCH(bool, byHand);
    QVERIFY(w->connectPort());
    QList<qint64> reconnectMs;
    int before = 0;
    for (int round = 0; round <= 20; ++round) {
        if (round == 1) {
            before = openDescriptors(); // what Qt opens once and keeps is not a leak
        }
        // A sample, ended by the next "R", then half a reading that the glitch cuts off.
        QVERIFY(w->device->write(
            QStringLiteral("R=%1 G=2000 B=3000\r\nR=12").arg(1000 + round).toLatin1()));
        QTRY_COMPARE(w->log().count('\n'), qsizetype(round + 1));
        w->unplug();
        QTRY_VERIFY(w->comm().WaitingForDevice());
        QCOMPARE(w->panel(1), QStringLiteral("Disconnected"));
        if (byHand) {
            w->window->mnuConnect_Click(); // Disconnect: no more tries
            w->plugInAgain();
            QTest::qWait(round == 0 ? 2 * MSComm::kRetryMs : 0);
            QVERIFY(!w->comm().PortOpen());
            QVERIFY(w->connectPort());
        } else {
            QElapsedTimer back;
            back.start();
            w->plugInAgain();
            QTRY_VERIFY_WITH_TIMEOUT(w->comm().PortOpen(), 2500);
            reconnectMs << back.elapsed();
        }
        QCOMPARE(w->panel(1), QStringLiteral("Connected"));
        QVERIFY(w->device->write("34 G=2222 B=3333\r\n")); // the rest of the cut reading
        if (QTest::currentTestFailed()) {
            return;
        }
    }
    QVERIFY(w->device->write("R=4000 G=2000 B=3000\r\nR"));
    QTRY_COMPARE(w->log().count('\n'), qsizetype(22));
    // Every sample logged once, none made of both sides of a glitch ("1234").
    const QList<QByteArray> lines = w->log().split('\n');
    for (int round = 0; round <= 20; ++round) {
        QVERIFY(lines[round].endsWith(
            QStringLiteral("R=%1 G=2000 B=3000\r").arg(1000 + round).toLatin1()));
    }
    QVERIFY(!w->log().contains("1234"));
    QCOMPARE(openDescriptors(), before);
    QVERIFY(w->boxes.isEmpty());
    std::sort(reconnectMs.begin(), reconnectMs.end());
    qInfo() << "reconnected after (ms):" << reconnectMs;
}

void FaultsTest::sameAdapterFoundByItsSerialNumber() {
    // Com 1 is the first adapter the machine lists; no variable names it.
    qunsetenv("ZEL_COM1");
    w->ports = {{w->device->devicePath(), "FT232R USB UART", "A50285BI", false, true, false}};
    QVERIFY(w->connectPort());
    QCOMPARE(w->comm().openedDevice(), w->device->devicePath());
    w->unplug();
    w->ports.clear();
    QTRY_VERIFY(w->comm().WaitingForDevice());
    // Another adapter now comes first; the sensor returns under another name.
    PseudoTerminal other;
    w->plugInAgain();
    w->ports = {{other.devicePath(), "CP2102", "0001", false, true, false},
                {w->device->devicePath(), "FT232R USB UART", "A50285BI", false, true, false}};
    QTRY_VERIFY_WITH_TIMEOUT(w->comm().PortOpen(), 2500);
    QCOMPARE(w->comm().openedDevice(), w->device->devicePath());
    QVERIFY(w->device->write("back"));
    QTRY_VERIFY(w->response().endsWith("back"));
}

void FaultsTest::installedProgramLogsInTheDataFolder() {
    // What the notice gives as the reason: %1 is what cannot be written.
    for (const auto& [fileReadOnly, why] :
         {std::pair{false, "folder %1 cannot be written"}, {true, "%1, is read-only"}}) {
        QTemporaryDir program;
        QTemporaryDir data;
        const QString dataFolder = data.filePath("Zel_Connect");
        const QString blocked = fileReadOnly ? program.filePath("app.txt") : program.path();
        if ((fileReadOnly && !QFile(blocked).open(QIODevice::WriteOnly)) ||
            !makeReadOnly(blocked, true)) {
            QSKIP("cannot make it read-only here");
        }
        const SampleLog::Location location = SampleLog::chooseLocation(program.path(), dataFolder);
        // Neither can be written: beside the program, where the failure notice will name it.
        QVERIFY(makeReadOnly(data.path(), true));
        const QString nowhere = SampleLog::chooseLocation(program.path(), data.filePath("x")).path;
        makeReadOnly(data.path(), false);
        makeReadOnly(blocked, false);
        QCOMPARE(nowhere, program.filePath("app.txt"));
        QCOMPARE(location.path, QDir(dataFolder).filePath("app.txt"));
        QVERIFY(location.inDataFolder && QFileInfo(dataFolder).isDir());

        // The first line written there says where the log is and why, once for this user: the
        // next start says nothing.
        for (const qsizetype notices : {1, 0}) {
            w = std::make_unique<DeviceWindow<ZelConnectWindow>>();
            w->window->samplePlot().useLocation(location);
            w->window->receive(QByteArray("R=3000 G=2000 B=1000\r\n").repeated(4));
            QCOMPARE(w->window->samplePlot().model().strokeCount(), std::size_t(3));
            QCOMPARE(w->notices.size(), notices);
            const QString said = w->notices.value(0).prompt;
            QVERIFY2(notices == 0 ||
                         (said.contains(location.path) && said.contains(QString(why).arg(blocked))),
                     qPrintable(said));
        }
    }
}

void FaultsTest::responseFieldBoundedUnderEndlessStream() {
    QVERIFY(w->connectPort());
    const QByteArray block = readingLines(2000); // 44,000 bytes
    ResponseView* response = w->window->controls().txtResponse;
    qsizetype sent = 0;
    qsizetype largest = 0;
    while (sent < 6 * (1 << 20)) {
        // The device never pauses; the window reads between the writes.
        sent += w->device->writeSome(QByteArrayView(block).sliced(sent % block.size()));
        QCoreApplication::processEvents();
        largest = std::max(largest, response->characterCount());
    }
    QTRY_VERIFY_WITH_TIMEOUT(response->text().endsWith(terminal::ResponseText().render(
                                 QString::fromLatin1(block.right(22)))),
                             10000);
    QVERIFY(response->characterCount() >= ResponseView::kKept);
    QVERIFY2(largest <= ResponseView::kLimit + block.size(), qPrintable(QString::number(largest)));
    QVERIFY(response->storedBytes() <= 2 * ResponseView::kLimit);
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
