// Connection and status over a pseudo-terminal: Connect and Disconnect, line settings and
// port choice while connected, failures that say what to do, a device that goes away,
// events held while a box is open, and the Port menu naming the devices.
#include "connectionstatus.h"
#include "devicewindow.h"
#include "linecheck.h"
#include "responsetext.h"

#include <QDir>
#include <QHelpEvent>
#include <QProcess>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

using namespace serial;

class ConnectionTest : public QObject {
    Q_OBJECT

private slots:
    void init() { w = std::make_unique<DeviceWindow<frmMain>>(); }
    void cleanup() { w.reset(); }

    void connectAndDisconnect();
    void settingWhileConnected_data();
    void settingWhileConnected();
    void portChoice_data();
    void portChoice();
    void failuresSayWhatToDo();
    void deviceGoesAway_data();
    void deviceGoesAway();
    void portStaysOpenAfterBoxes();
    void whatWaitsForABoxIsBounded();
    void portMenuNamesTheDevices();
    void slowOpenLeavesTheWindowFree();
    void lastBytesLeaveBeforeTheClose();
    void closeGivesUpADrainThatNeverEnds();
    void readThatFindsNothing();

private:
    bool sendEnabled() const {
        return w->window->controls().btnSend[0]->isEnabled() &&
               w->window->controls().btnSend[1]->isEnabled();
    }
    QString caption() const { return w->window->menus().mnuConnect->text(); }
    // Descriptors of this process open on the pseudo-terminal.
    int openOnDevice() const {
        const QString target = QFile::symLinkTarget(w->link());
        const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System);
        return int(std::count_if(fds.begin(), fds.end(), [&target](const QString& fd) {
            return QFile::symLinkTarget(QStringLiteral("/proc/self/fd/") + fd) == target;
        }));
    }

    static qsizetype threads() {
        return QDir(QStringLiteral("/proc/self/task"))
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
            .size();
    }

    std::unique_ptr<DeviceWindow<frmMain>> w;
};

void ConnectionTest::connectAndDisconnect() {
    w->showActive();
    w->window->menus().mnuConnect->trigger();
    QVERIFY(w->comm().PortOpen());
    QCOMPARE(w->panel(1), QStringLiteral("Connected"));
    QCOMPARE(caption(), QStringLiteral("Dis&connect"));
    QVERIFY(sendEnabled());
    QCOMPARE(QApplication::focusWidget(), w->window->controls().txtTextOut);
    QCOMPARE(lineSettingsMismatch(w->device->deviceHandle(), LineSettings{}), std::nullopt);

    // Every byte value arrives unchanged, both ways.
    QByteArray everyByte(256, '\0');
    std::iota(everyByte.begin(), everyByte.end(), '\0');
    QVERIFY(w->device->write(everyByte));
    QTRY_COMPARE(w->response(), terminal::ResponseText().render(QString::fromLatin1(everyByte)));
    QVERIFY(!w->comm().setOutput(everyByte));
    QCOMPARE(w->readDevice(), everyByte);

    w->window->controls().txtHEX[0]->setFocus();
    w->window->menus().mnuConnect->trigger();
    QVERIFY(!w->comm().PortOpen());
    QCOMPARE(w->panel(1), QStringLiteral("Disconnected"));
    QCOMPARE(caption(), QStringLiteral("&Connect"));
    QVERIFY(!sendEnabled());
    QCOMPARE(QApplication::focusWidget(), w->window->controls().txtTextOut);
    QVERIFY(w->boxes.isEmpty()); // closing the window: tst_endtoend
}

void ConnectionTest::settingWhileConnected_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("refused"); // empty: the port reopens with exactly the setting
    // A pseudo-terminal on a recent kernel runs at 8 data bits without parity whatever it is
    // asked ("?"): opening then fails and names the setting; never a silent difference.
    // clang-format off
    QStringList rows = {
        "mnuSpeedSel(12)|256000,N,8,1|", "mnuSpeedSel(0)|110,N,8,1|", "mnuSpeedSel(6)|14400,N,8,1|",
        "mnuStopSel(2)|9600,N,8,2|", "mnuParitySel(2)|9600,N,8,1|",
        "mnuDataBSel(4)|9600,N,4,1|4 data bits", "mnuParitySel(0)|9600,E,8,1|Even parity?",
        "mnuParitySel(4)|9600,S,8,1|Space parity?", "mnuDataBSel(7)|9600,N,7,1|7 data bits?"};
    // clang-format on
#ifndef Q_OS_WIN
    rows << "mnuStopSel(1)|9600,N,8,1.5|1.5 stop bits";
#endif
    for (const QString& row : rows) {
        const QStringList f = row.split(u'|');
        QTest::newRow(qPrintable(f[0] + ' ' + f[1])) << f[0] << f[1] << f[2];
    }
}

void ConnectionTest::settingWhileConnected() {
    QFETCH(QString, item);
    QFETCH(QString, settings);
    QFETCH(QString, refused);
    QVERIFY(w->connectPort());
    QAction* choice = w->window->findChild<QAction*>(item);
    choice->trigger();
    QCOMPARE(w->panel(3), settings);
    QVERIFY(choice->isChecked());
    const bool maybe = refused.endsWith('?');
    if (w->comm().PortOpen()) {
        QVERIFY((refused.isEmpty() || maybe) && w->boxes.isEmpty());
        QCOMPARE(w->panel(1), QStringLiteral("Connected"));
        QCOMPARE(lineSettingsMismatch(w->device->deviceHandle(), *parseLineSettings(settings)),
                 std::nullopt);
        return;
    }
    QVERIFY2(!refused.isEmpty(), qPrintable(w->boxes.value(0).prompt));
    QCOMPARE(w->boxes.size(), 1);
    const QString prompt = w->boxes[0].prompt;
    QVERIFY2(prompt.startsWith("Com1 is not available.\r\n") &&
                 prompt.contains(maybe ? refused.chopped(1) : refused),
             qPrintable(prompt));
    QCOMPARE(w->panel(1), QStringLiteral("Disconnected"));
    // A possible value again opens nothing by itself; Connect does.
    w->window->menus().mnuDataBSel[8]->trigger();
    w->window->menus().mnuParitySel[2]->trigger();
    w->window->menus().mnuStopSel[0]->trigger();
    QVERIFY(!w->comm().PortOpen() && w->connectPort());
}

void ConnectionTest::portChoice_data() {
    QTest::addColumn<bool>("toADevice");
    QTest::newRow("while connected, to a device") << true;
    QTest::newRow("while connected, to nothing") << false;
}

void ConnectionTest::portChoice() {
    QFETCH(bool, toADevice);
    PseudoTerminal second;
    if (toADevice) {
        qputenv("ZEL_COM3", second.devicePath().toLocal8Bit());
    }
    QVERIFY(w->connectPort());
    w->window->menus().mnuCom[3]->trigger();
    QCOMPARE(w->comm().PortOpen(), toADevice);
    // A port that failed while connected is not taken: the check mark stays on Com 1.
    QCOMPARE(w->panel(2), toADevice ? QStringLiteral("COM3") : QStringLiteral("COM1"));
    QCOMPARE(w->window->menus().mnuCom[3]->isChecked(), toADevice);
    QCOMPARE(w->window->menus().mnuCom[1]->isChecked(), !toADevice);
    if (toADevice) {
        QVERIFY(w->boxes.isEmpty() && second.write("on three"));
        QTRY_COMPARE(w->response(), QStringLiteral("on three"));
        return;
    }
    // The box names the ports that are there.
    QCOMPARE(w->boxes, (QList<MessageBoxRequest>{
                           {"Com3 is not available.\r\n/nonexistent/zel-test-port: No such file "
                            "or directory\r\nThis computer's serial ports: Com1 " +
                                w->link() + ".",
                            "Zel_Connect beta", MessageButtons::OkOnly, MessageIcon::None}}));
    QCOMPARE(w->panel(1), QStringLiteral("Disconnected"));
}

void ConnectionTest::failuresSayWhatToDo() {
    {
        QSerialPort other;
        other.setPortName(w->link());
        QVERIFY(other.open(QIODevice::ReadWrite) && !w->connectPort());
        QVERIFY2(w->boxes.value(0).prompt.contains(
                     w->link() + " is in use by another program (tst_connection, process"),
                 qPrintable(w->boxes.value(0).prompt));
    }
    // A file is not a serial device, whatever a terminal setting would say of it.
    qputenv("ZEL_COM1", QFile::encodeName(w->logPath()));
    QFile(w->logPath()).open(QIODevice::WriteOnly);
    QVERIFY(!w->connectPort());
    QCOMPARE(w->boxes.value(1).prompt, "Com1 is not available.\r\n" + w->logPath() +
                                           " is not a serial device: it is a regular file.");
    qputenv("ZEL_COM1", QFile::encodeName(w->link()));
    // The lock file of a program that has ended, which this user may not remove (root's, in
    // the sticky lock folder): not a program in use.
    if (::geteuid() != 0 || !QFileInfo("/var/lock").isWritable()) {
        QSKIP("needs root to play another user");
    }
    QProcess ended;
    ended.start("true");
    QVERIFY(ended.waitForStarted());
    const qint64 pid = ended.processId();
    QVERIFY(ended.waitForFinished());
    const QString lockFile = "/var/lock/LCK.." + QString(w->link()).replace('/', '_');
    QFile lock(lockFile);
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(pid) + "\nsomething\n" +
               QSysInfo::machineHostName().toLocal8Bit() + "\n");
    lock.close();
    ::chmod(QFile::encodeName(w->device->devicePath()).constData(), 0666);
    ::chmod(QFile::encodeName(w->dir.path()).constData(), 0755);
    QVERIFY(::seteuid(65534) == 0);
    const bool opened = w->connectPort();
    QVERIFY(::seteuid(0) == 0);
    const QString canonicalLock = QFileInfo(lockFile).canonicalFilePath();
    QFile::remove(lockFile);
    QVERIFY(!opened);
    const QString prompt = w->boxes.value(2).prompt;
    QVERIFY2(prompt.contains("by the lock file " + canonicalLock) &&
                 prompt.contains(QString("process %1 no longer runs").arg(pid)) &&
                 prompt.contains("belongs to root") && prompt.contains("sudo rm ") &&
                 !prompt.contains("in use"),
             qPrintable(prompt));
}

void ConnectionTest::deviceGoesAway_data() {
    QTest::addColumn<bool>("boxOpen");
    QTest::newRow("while connected") << false;
    QTest::newRow("while a box is open") << true;
}

void ConnectionTest::deviceGoesAway() {
    QFETCH(bool, boxOpen);
    QSignalSpy lost(&w->comm(), &MSComm::PortLost);
    QVERIFY(w->connectPort());
    // More than one portion comes first: all of it is handled before the loss is told.
    const QByteArray before = QByteArray(100000, 'x') + "\r\nR=3712 G=35";
    const auto goAway = [&] {
        for (qsizetype sent = 0; sent < before.size(); QTest::qWait(1)) {
            sent += w->device->writeSome(QByteArrayView(before).sliced(sent));
        }
        QTest::qWait(100); // taken from the port
        w->unplug();
    };
    bool wholeAtLoss = false;
    connect(&w->comm(), &MSComm::PortLost, this,
            [&] { wholeAtLoss = w->response().endsWith("R=3712 G=35"); });
    if (boxOpen) {
        w->window->setMessagePresenter([&](QWidget*, const MessageBoxRequest&) {
            goAway();
            QTest::qWait(300);
            QCOMPARE(lost.size(), 0); // waits for the box, as the bytes do
            QCOMPARE(w->response(), QString());
        });
        w->window->mnuHelpSel_Click(0);
    } else {
        goAway();
    }
    QTRY_COMPARE_WITH_TIMEOUT(w->panel(1), QStringLiteral("Waiting"), 3000);
    QVERIFY(!w->comm().PortOpen());
    // What came before is shown and captured; the green reading was cut off.
    QTRY_COMPARE(w->window->controls().TextR->text(), QStringLiteral("3712"));
    QTRY_COMPARE(w->window->controls().TextG->text(), QString());
    QVERIFY(wholeAtLoss);
    // Once, without a loop or a box; it waits for the device, and Disconnect ends the wait.
    QTest::qWait(300);
    QCOMPARE(lost.size(), 1);
    QVERIFY(w->boxes.isEmpty() && w->comm().WaitingForDevice());
    QVERIFY(w->window->controls().StatusBar1Panels[1]->toolTip().contains("Waiting"));
    w->window->mnuConnect_Click();
    QVERIFY(!w->comm().WaitingForDevice());
    QCOMPARE(caption(), QStringLiteral("&Connect"));
}

void ConnectionTest::portStaysOpenAfterBoxes() {
    QSignalSpy lost(&w->comm(), &MSComm::PortLost);
    QSignalSpy events(&w->comm(), &MSComm::OnComm);
    int round = 0;
    // The device talks while the box is open and just as the user closes it: nothing is
    // handled inside the box, and the control's own read, taking the bytes that woke Qt's,
    // is no lost device.
    w->window->setMessagePresenter([&](QWidget*, const MessageBoxRequest&) {
        QVERIFY(w->device->write("while the box is open "));
        QTest::qWait(50);
        QVERIFY(w->device->write(QByteArray::number(round) + "\r\n"));
        QThread::msleep(20); // at the port, and no event loop has run since
        QCOMPARE(events.size(), 0);
    });
    QVERIFY(w->connectPort());
    for (round = 0; round < 5; ++round) {
        w->window->mnuHelpSel_Click(0);
        QTRY_VERIFY(
            w->response().endsWith("while the box is open " + QString::number(round) + "\n"));
        QTest::qWait(20);
        QVERIFY2(w->comm().PortOpen(), "the port closed by itself after the box");
        events.clear();
    }
    QCOMPARE(lost.size(), 0);
    // A single byte that came meanwhile is handed over too.
    w->window->setMessagePresenter([&](QWidget*, const MessageBoxRequest&) {
        QVERIFY(w->device->write("!"));
        QTest::qWait(50);
    });
    w->window->mnuHelpSel_Click(0);
    QTRY_VERIFY(w->response().endsWith("!"));
}

void ConnectionTest::whatWaitsForABoxIsBounded() {
    MSComm& comm = w->comm();
    QByteArray stream;
    for (int i = 0; stream.size() <= MSComm::kHeldLimit; ++i) {
        stream += QByteArray::number(i).rightJustified(8, '0') + "\r\n";
    }
    stream.truncate(MSComm::kHeldLimit + 1); // a byte more than is kept
    qsizetype mostHeld = 0;
    w->window->setMessagePresenter([&](QWidget*, const MessageBoxRequest&) {
        for (qsizetype at = 0; at < stream.size();) {
            at += w->device->writeSome(QByteArrayView(stream).sliced(at));
            QTest::qWait(1);
            mostHeld = std::max(mostHeld, comm.InBufferCount());
        }
        QTest::qWait(200);
        mostHeld = std::max(mostHeld, comm.InBufferCount());
    });
    ResponseView* response = w->window->controls().txtResponse;
    qsizetype largestPortion = 0;
    int events = 0;
    qsizetype shown = 0;
    connect(&comm, &MSComm::OnComm, this, [&] {
        ++events;
        largestPortion = std::max(largestPortion, response->characterCount() - shown);
        shown = response->characterCount();
    });
    QSignalSpy ended(&comm, &MSComm::StreamEnded); // no reading across the dropped part
    QVERIFY(w->connectPort());
    w->window->mnuHelpSel_Click(0);

    QCOMPARE(mostHeld, MSComm::kHeldLimit); // the newest part, no more
    QCOMPARE(events, 0);
    const QString tail = QString::fromLatin1(stream.right(1 << 20).replace("\r\n", "\n"));
    QTRY_VERIFY_WITH_TIMEOUT(response->text().endsWith(tail), 10000);
    // Handed over a portion at a time; the rest counted.
    QVERIFY(events >= MSComm::kHeldLimit / MSComm::kPortion && largestPortion <= MSComm::kPortion);
    QCOMPARE(ended.size(), 1);
    QCOMPARE(w->notices.size(), 1);
    QVERIFY2(w->notices[0].prompt.contains(QString::number(stream.size() - MSComm::kHeldLimit) +
                                           " bytes"),
             qPrintable(w->notices[0].prompt));
    QVERIFY(comm.PortOpen());
}

void ConnectionTest::portMenuNamesTheDevices() {
    PortInfo console;
    console.device = "/dev/ttyS0";
    console.builtIn = console.systemConsole = true;
    w->ports = {usbAdapter("/dev/ttyUSB2", "A50285BI"), console};
    qunsetenv("ZEL_COM1");
    qunsetenv("ZEL_COM2");
    qputenv("ZEL_COM3", w->device->devicePath().toLocal8Bit());
    int looks = 0; // a full scan of the system on Windows: once each time the menu opens
    w->comm().setPortInventory([&] { return ++looks, w->ports; });
    emit w->window->menus().mnuPort->aboutToShow();
    QCOMPARE(looks, 1);
    const auto toolTip = [this](int port) {
        return w->window->menus().mnuCom[port]->toolTip();
    };
    QCOMPARE(toolTip(1), QStringLiteral("/dev/ttyUSB2: FT232R USB UART; serial A50285BI"));
    QCOMPARE(toolTip(2), QStringLiteral("/dev/ttyS1: no serial port found for this number"));
    QCOMPARE(toolTip(3), w->device->devicePath() + ": named by ZEL_COM3");
    QVERIFY(w->window->menus().mnuPort->toolTipsVisible());
    QCOMPARE(w->window->menus().mnuCom[1]->text(), QStringLiteral("Com &1")); // captions stay
    // The port panel names the device when the user points at it.
    QLabel* panel = w->window->controls().StatusBar1Panels[2];
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), panel->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(panel, &hover);
    QCOMPARE(panel->toolTip(), toolTip(1));

    // Below Com 1 to Com 4 and a separator, each further port present, found when the menu
    // opens; chosen, it connects there. Gone, it stays while it is the chosen one.
    QMenu* menu = w->window->menus().mnuPort;
    const auto& com = w->window->menus().mnuCom;
    qputenv("ZEL_COM7", w->device->devicePath().toLocal8Bit());
    emit menu->aboutToShow();
    QCOMPARE(menu->actions().size(), 6);
    QVERIFY(menu->actions()[4]->isSeparator() && menu->actions()[4]->isVisible());
    QCOMPARE(menu->actions()[5], com[7]);
    QCOMPARE(com[7]->text(), QStringLiteral("Com 7 \u2014 ") + w->device->devicePath());
    QCOMPARE(toolTip(7), w->device->devicePath() + ": named by ZEL_COM7");
    com[7]->trigger();
    QVERIFY(com[7]->isChecked() && !com[1]->isChecked() && w->connectPort());
    QCOMPARE(w->panel(2), QStringLiteral("COM7"));
    w->window->mnuConnect_Click();
    qunsetenv("ZEL_COM7");
    emit menu->aboutToShow();
    QVERIFY(com[7] && com[7]->isChecked());
    com[1]->trigger();
    emit menu->aboutToShow();
    QVERIFY(!com[7] && !menu->actions()[4]->isVisible() && w->boxes.isEmpty());
}

void ConnectionTest::slowOpenLeavesTheWindowFree() {
    // The device takes 1.5 s to open, as a Bluetooth port whose device is off does (the
    // preloaded slowdevice library): the window goes on meanwhile.
    qputenv("ZEL_SLOW_OPEN", QFile::encodeName(w->link()));
    qputenv("ZEL_SLOW_OPEN_MS", "1500");
    const auto fast = qScopeGuard([] { qunsetenv("ZEL_SLOW_OPEN"); });
    const int before = openOnDevice();
    w->showActive();
    w->window->mnuConnect_Click();
    QCOMPARE(w->panel(1), QStringLiteral("Waiting"));
    QTRY_COMPARE_WITH_TIMEOUT(w->panel(1), QStringLiteral("Connected"), 5000);

    // Another port chosen meanwhile: the open is given up, and that port opens at once.
    PseudoTerminal com2;
    qputenv("ZEL_COM2", QFile::encodeName(com2.devicePath()));
    w->window->mnuConnect_Click();
    w->window->mnuConnect_Click();
    w->window->mnuCom_Click(2);
    QTRY_VERIFY(w->comm().PortOpen());
    QCOMPARE(w->comm().openedDevice(), com2.devicePath());
    qputenv("ZEL_COM2", "/nonexistent/zel-test-port");
    w->window->mnuCom_Click(1);
    QTRY_COMPARE_WITH_TIMEOUT(w->panel(1), QStringLiteral("Connected"), 5000);

    // Disconnect while the open is under way: at once, and the late open is closed again.
    w->window->mnuConnect_Click();
    QVERIFY(!w->comm().PortOpen());
    w->window->mnuConnect_Click();
    QCOMPARE(w->panel(1), QStringLiteral("Waiting"));
    w->window->mnuConnect_Click();
    QCOMPARE(w->panel(1), QStringLiteral("Disconnected"));
    QTest::qWait(2000);
    QCOMPARE(w->panel(1), QStringLiteral("Disconnected"));
    QCOMPARE(openOnDevice(), before);
    QVERIFY(w->boxes.isEmpty());

    // An open that never returns, however often the user clicks: the next Connect joins it,
    // so one thread waits in the driver, not one more per click.
    qputenv("ZEL_SLOW_OPEN_MS", "4000000");
    const qsizetype idle = threads();
    for (int click = 0; click < 50; ++click) {
        w->window->mnuConnect_Click();
        QCOMPARE(w->panel(1), QStringLiteral("Waiting"));
        w->window->mnuConnect_Click();
    }
    QCOMPARE(threads(), idle + 1);
}

void ConnectionTest::lastBytesLeaveBeforeTheClose() {
    // Closing puts the port's former settings back at once: the bytes still in the UART or
    // the adapter are drained first (the preloaded slowdevice library records the calls).
    const QString trace = w->dir.filePath(QStringLiteral("trace"));
    qputenv("ZEL_TTY_TRACE", QFile::encodeName(trace));
    const auto quiet = qScopeGuard([] { qunsetenv("ZEL_TTY_TRACE"); });
    QVERIFY(w->connectPort() && !w->comm().setOutput("cal\r\n"));
    QFile::remove(trace);
    w->window->mnuConnect_Click();
    QVERIFY(!w->comm().PortOpen());
    QFile calls(trace);
    QVERIFY(calls.open(QIODevice::ReadOnly));
    QCOMPARE(calls.readAll(), QByteArray("tcdrain\ntcsetattr\n"));
}

void ConnectionTest::closeGivesUpADrainThatNeverEnds() {
    // A driver that never says the last bytes have left, whatever tcflush does (the USB
    // serial core has no flush hook): the close gives up at its bound, half a second at
    // 115200 baud, and says so; at 9600 baud the bound is seconds, and the box's Cancel ends
    // it. The window handles events meanwhile. A drain cancelled within its bound may only be
    // slow: a quick reconnect's close drains again; one past its bound is not waited for again.
    qputenv("ZEL_DRAIN_NEVER_ENDS", "1");
    const auto ends = qScopeGuard([] {
        qunsetenv("ZEL_DRAIN_NEVER_ENDS");
        qunsetenv("ZEL_TTY_TRACE");
    });
    for (const bool cancel : {true, false}) {
        w = std::make_unique<DeviceWindow<frmMain>>();
        w->showActive();
        QVERIFY(!w->comm().setSettings(cancel ? "9600,N,8,1" : "115200,N,8,1"));
        QVERIFY(w->connectPort() && !w->comm().setOutput("cal\r\n"));
        QTRY_COMPARE(w->comm().OutputPending(), 0); // with the driver, as far as it says
        int ticks = 0;
        QString box;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            ++ticks;
            if (auto* progress = w->window->findChild<QProgressDialog*>(); progress && cancel) {
                box = progress->labelText();
                progress->cancel();
            }
        });
        watch.start(100);
        w->window->mnuConnect_Click();
        QVERIFY(!w->comm().PortOpen() && ticks > 0);
        QCOMPARE(box, cancel ? QStringLiteral("Sending the last bytes to Com1...") : QString());
        QCOMPARE(w->notices.size(), 1);
        QCOMPARE(w->notices[0].prompt,
                 QStringLiteral("Could not send to Com1:\nThe port closed before the driver had "
                                "sent the last bytes: some of them may not have gone out."));
        if (cancel) {
            QVERIFY(w->connectPort() && !w->comm().setOutput("cal\r\n"));
            QFile calls(w->dir.filePath(QStringLiteral("trace")));
            qputenv("ZEL_TTY_TRACE", QFile::encodeName(calls.fileName()));
            w->window->mnuConnect_Click();
            qunsetenv("ZEL_TTY_TRACE");
            QVERIFY(calls.open(QIODevice::ReadOnly) && calls.readAll().startsWith("tcdrain\n"));
        }
    }
    const qsizetype stuck = threads();
    for (int cycle = 0; cycle < 3; ++cycle) {
        QVERIFY(w->connectPort() && !w->comm().setOutput("cal\r\n"));
        w->window->mnuConnect_Click();
    }
    QCOMPARE(threads(), stuck);
}

void ConnectionTest::readThatFindsNothing() {
    // Qt's read finds nothing when the control's own read took the bytes that woke it, and
    // says so as an error, after which Qt no longer watches the port: it must go on all the
    // same (the preloaded slowdevice library makes that read come up empty, and the window's
    // own read interrupted by a signal).
    QVERIFY(w->connectPort());
    qputenv("ZEL_EMPTY_READ", "1");
    const auto normal = qScopeGuard([] { qunsetenv("ZEL_EMPTY_READ"); });
    w->device->write("R=1000 G=2000 B=3000\r\n");
    QTRY_VERIFY(w->response().contains(QStringLiteral("B=3000")));
    QVERIFY(w->comm().PortOpen() && w->boxes.isEmpty());
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
