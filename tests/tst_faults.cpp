// Faults from outside: a cable pulled in the middle of a burst, cable glitches and the
// device coming back, an installed program's folder that is not writable, and a stream
// that never stops.
#include "devicewindow.h"
#include "logsettled.h"
#include "readonlyfolder.h"
#include "responsetext.h"
#include "sampleplot.h"
#include "zelconnectwindow.h"

#include <QSettings>

#include <algorithm>
#include <termios.h>

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // What the program remembers for the user goes here, not to the user's own settings.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        QCoreApplication::setApplicationName("Zel_Connect"); // as the program names itself
    }
    void init() { w = std::make_unique<DeviceWindow<ZelConnectWindow>>(); }
    void cleanup() { w.reset(); }

    void cablePulledDuringBurst();
    void glitchesLeakNothing_data();
    void glitchesLeakNothing();
    void reopensOnlyTheDeviceThatWentAway_data();
    void reopensOnlyTheDeviceThatWentAway();
    void whileWaiting_data();
    void whileWaiting();
    void installedProgramLogsInTheDataFolder();
    void responseFieldBoundedUnderEndlessStream();

private:
    QTemporaryDir m_settings;
    std::unique_ptr<DeviceWindow<ZelConnectWindow>> w;
};

void FaultsTest::cablePulledDuringBurst() {
    QVERIFY(w->connectPort());
    const QByteArray burst = readingLines(20000); // 440,000 bytes
    // As fast as the program takes them, then gone in the middle of a line.
    for (qsizetype sent = 0; sent < 300007;) {
        sent += w->device->writeSome(QByteArrayView(burst).sliced(sent, 300007 - sent));
        QCoreApplication::processEvents();
    }
    w->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(w->panel(1), QStringLiteral("Waiting"), 20000);
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
    // No retry comes within the test: what reopens the port is the watch of the link's folder.
    w->comm().setRetryDelays(60000, 60000);
    QVERIFY(w->connectPort());
    qsizetype before = 0;
    for (int round = 0; round <= 20; ++round) {
        if (round == 1) { // what Qt opens once and keeps is not a leak
            before = openDescriptors();
        }
        // A sample, ended by the next "R", then one that the glitch cuts off somewhere between
        // its red and its blue reading: the rest of it is never sent.
        const QByteArray cut = "R=1234 G=5678 B=9012\r\n";
        const qsizetype at = 3 + round * 7 % 16;
        QVERIFY(w->device->write(
            QStringLiteral("R=%1 G=2000 B=3000\r\n").arg(1000 + round).toLatin1() + cut.left(at)));
        QTRY_COMPARE(w->log().count('\n'), qsizetype(round + 1));
        w->unplug();
        QTRY_VERIFY(w->comm().WaitingForDevice());
        if (byHand) {
            w->window->mnuConnect_Click(); // Disconnect: no more tries
            w->plugInAgain();
            QTest::qWait(round == 0 ? 2 * MSComm::kRetryMs : 0);
            QVERIFY(!w->comm().PortOpen() && w->connectPort());
        } else {
            w->plugInAgain();
            QTRY_VERIFY_WITH_TIMEOUT(w->comm().PortOpen(), 2500);
        }
    }
    QVERIFY(w->device->write("R=4000 G=2000 B=3000\r\nR"));
    QTRY_COMPARE(w->log().count('\n'), qsizetype(22));
    // Every sample logged once; none made of a cut sample's readings and an older blue.
    const QList<QByteArray> lines = w->log().split('\n');
    for (int round = 0; round <= 20; ++round) {
        QVERIFY(lines[round].endsWith(
            QStringLiteral("R=%1 G=2000 B=3000\r").arg(1000 + round).toLatin1()));
    }
    QVERIFY2(!w->log().contains("1234") && !w->log().contains("5678"), w->log().constData());
    QCOMPARE(openDescriptors(), before);
    QVERIFY(w->boxes.isEmpty());
}

void FaultsTest::reopensOnlyTheDeviceThatWentAway_data() {
    QTest::addColumn<QString>("comesBack");
    QTest::addColumn<bool>("opened");
    QTest::newRow("the adapter, under another name") << "same" << true;
    QTest::newRow("another adapter behind the link") << "other serial" << false;
    QTest::newRow("a new terminal with the number of the lost one") << "number" << false;
}

void FaultsTest::reopensOnlyTheDeviceThatWentAway() {
    QFETCH(QString, comesBack);
    QFETCH(bool, opened);
    const QString number = w->device->devicePath();
    if (comesBack == "number") {
        qputenv("ZEL_COM1", QFile::encodeName(number)); // named by its number, not a link
    } else {
        w->ports = {usbAdapter(number, "A50285BI")}; // what the link leads to, says the system
    }
    QSignalSpy lost(&w->comm(), &MSComm::PortLost);
    QVERIFY(w->connectPort());
    w->unplug();
    QTRY_COMPARE(lost.size(), 1);
    QLabel* panel = w->window->controls().StatusBar1Panels[1];
    // What the program saw, not a leftover error text.
    QVERIFY2(panel->toolTip().contains(number == w->comm().openedDevice()
                                           ? "It is not opened again by itself"
                                           : "its device node " + w->link() + " is gone"),
             qPrintable(panel->toolTip()));
    QVERIFY(panel->toolTip().endsWith('.')); // no device tried yet: nothing after the advice
    std::vector<std::unique_ptr<PseudoTerminal>> others;
    if (comesBack == "number") {
        // Other programs' terminals: sooner or later one gets the lost one's number.
        while (others.size() < 20 && (others.empty() || others.back()->devicePath() != number)) {
            others.push_back(std::make_unique<PseudoTerminal>());
        }
        QCOMPARE(others.back()->devicePath(), number);
    } else {
        PseudoTerminal elsewhere;
        w->plugInAgain();
        w->ports = {usbAdapter(elsewhere.devicePath(), "0001")};
        w->ports << usbAdapter(w->device->devicePath(), comesBack == "same" ? "A50285BI" : "B7");
    }
    if (opened) {
        QTRY_VERIFY_WITH_TIMEOUT(w->comm().PortOpen(), 2500);
        QCOMPARE(w->comm().openedDevice(), w->device->devicePath());
        QVERIFY(w->device->write("back"));
        QTRY_VERIFY(w->response().endsWith("back"));
    } else {
        QTest::qWait(MSComm::kPollMs + 2 * MSComm::kRetryMs);
        QVERIFY(!w->comm().PortOpen());
        if (comesBack != "number") { // named while waiting for it, not for another port
            QVERIFY(!w->comm().AppearedElsewhere().isEmpty());
            w->window->mnuCom_Click(2);
            QVERIFY(w->comm().AppearedElsewhere().isEmpty());
        }
    }
}

void FaultsTest::whileWaiting_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("a new speed applies at the reopen") << "speed";
    QTest::newRow("another port is tried at once") << "port";
    QTest::newRow("another port that is not there: waited for") << "absent port";
    QTest::newRow("an open box does not delay the reopen") << "box";
}

void FaultsTest::whileWaiting() {
    QFETCH(QString, change);
    PseudoTerminal third;
    qputenv("ZEL_COM3", QFile::encodeName(third.devicePath()));
    QVERIFY(w->connectPort());
    w->unplug();
    QTRY_COMPARE(w->panel(1), QStringLiteral("Waiting"));
    if (change == "speed") {
        w->window->mnuSpeedSel_Click(9); // 38400
        QCOMPARE(w->panel(1), QStringLiteral("Waiting"));
        w->plugInAgain();
        QTRY_VERIFY_WITH_TIMEOUT(w->comm().PortOpen(), 2500);
        termios line{};
        QVERIFY(tcgetattr(w->device->deviceHandle(), &line) == 0);
        QCOMPARE(cfgetospeed(&line), speed_t(B38400));
    } else if (change == "port" || change == "absent port") {
        w->window->mnuCom_Click(change == "port" ? 3 : 2);
        if (change == "port") {
            QTRY_VERIFY_WITH_TIMEOUT(w->comm().PortOpen(), 100);
            QVERIFY(third.write("three"));
            QTRY_VERIFY(w->response().endsWith("three"));
        } else { // nothing of the old port's loss is said of the new one
            QVERIFY(w->comm().WaitingText().startsWith("Waiting for Com2: not tried yet"));
            QTest::qWait(MSComm::kRetryMs);
            QCOMPARE(w->panel(1), QStringLiteral("Waiting"));
            QVERIFY(w->window->controls().StatusBar1Panels[1]->toolTip().contains("Com2"));
        }
    } else {
        bool openInsideBox = false;
        w->window->setMessagePresenter([&](QWidget*, const MessageBoxRequest&) {
            w->plugInAgain();
            QTRY_VERIFY_WITH_TIMEOUT(w->comm().PortOpen(), 2500);
            openInsideBox = w->comm().PortOpen();
            w->unplug(); // and back once more: both told once the box is closed
            QTRY_VERIFY(!w->comm().PortOpen());
            w->plugInAgain();
            QTRY_VERIFY_WITH_TIMEOUT(w->comm().PortOpen(), 2500);
            QVERIFY(w->device->write("R=1111 G=2222 B=3333\r\n")); // held until the box goes
            QTest::qWait(100);
        });
        w->window->mnuHelpSel_Click(0);
        QVERIFY(openInsideBox);
        QTRY_VERIFY(w->response().endsWith("R=1111 G=2222 B=3333\n"));
    }
    QCOMPARE(w->panel(1), change == "absent port" ? "Waiting" : "Connected");
    QCOMPARE(w->window->controls().StatusBar1Panels[1]->toolTip().isEmpty(),
             change != "absent port");
    QVERIFY(w->boxes.isEmpty() || change == "box");
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
        QCOMPARE(SampleLog(program.filePath("app.txt")).log("x\r\n").value().kind,
                 SampleLog::Failure::Kind::ReadOnly);
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
            QTRY_VERIFY(logSettled(*w->window));
            QCOMPARE(w->notices.size(), notices);
            const QString said = w->notices.value(0).prompt;
            QVERIFY2(notices == 0 ||
                         (said.contains(location.path) && said.contains(QString(why).arg(blocked))),
                     qPrintable(said));
        }
        // Another program logs there now: this one to a file of its own, said at every start.
        w.reset();
        LogClaim other(location.path);
        QVERIFY(!other.claim());
        for (int start = 0; start < 2; ++start) {
            w = std::make_unique<DeviceWindow<ZelConnectWindow>>();
            w->window->samplePlot().useLocation(location);
            w->window->receive(QByteArray("R=3000 G=2000 B=1000\r\n").repeated(2));
            QTRY_VERIFY(!w->notices.isEmpty());
            QCOMPARE(
                w->notices.value(0).prompt,
                QStringLiteral("Samples are logged to\n%1\n(Zel_Connect running at the same time "
                               "logs to %2).")
                    .arg(LogClaim::numbered(location.path, 2), location.path));
        }
        w.reset(); // before its folder goes
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
