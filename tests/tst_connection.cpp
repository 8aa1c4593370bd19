// Connect, the status display and the Settings menu against real pseudo-terminals reached
// through the port mapping, and against devices that are missing, refuse a setting or go
// away while open.
#include "connectionstatus.h"
#include "frmmain.h"
#include "linecheck.h"
#include "pseudoterminal.h"
#include "responsetext.h"
#include "responseview.h"
#include "testhelpers.h"

#include <QAction>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QThread>

#include <algorithm>

namespace {

const char* const kMissingDevice = "/nonexistent/zel-test-port";

} // namespace

using namespace serial;

class ConnectionTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectAndDisconnect();
    void bytesTravelBothWays();
    void settingChangeWhileConnectedReopens_data();
    void settingChangeWhileConnectedReopens();
    void settingThePortCannotDo_data();
    void settingThePortCannotDo();
    void sameSettingAgainKeepsPortOpen();
    void portChangeWhileConnected();
    void connectToMissingDevice();
    void portChangeToMissingDevice();
    void unsupportedSettingFailsToOpen_data();
    void unsupportedSettingFailsToOpen();
    void unsupportedSettingWhileConnected();
    void shutdownClosesOpenPort();
    void deviceGoesAwayWhileConnected();
    void deviceGoesAwayWhileBoxIsOpen();
    void eventsWaitWhileBoxIsOpen();
    void portStaysOpenAfterBoxes();
    void whatWaitsForABoxIsBounded();
    void portInUseSaysSo();
    void portMenuNamesTheDevices();

private:
    void showActive();
    QString panel(int number) const {
        return m_window->controls().StatusBar1Panels[number]->text();
    }
    bool sendEnabled() const {
        return m_window->controls().btnSend[0]->isEnabled() &&
               m_window->controls().btnSend[1]->isEnabled();
    }
    bool sendDisabled() const {
        return !m_window->controls().btnSend[0]->isEnabled() &&
               !m_window->controls().btnSend[1]->isEnabled();
    }
    /// What the response field shows.
    QString response() const { return m_window->controls().txtResponse->text(); }
    /// How the response field shows these bytes.
    static QString shown(const QByteArray& bytes) {
        return terminal::ResponseText().render(QString::fromLatin1(bytes));
    }

    std::unique_ptr<PseudoTerminal> m_device;
    std::unique_ptr<frmMain> m_window;
    MessageRecorder m_recorder;
};

void ConnectionTest::init() {
    m_device = std::make_unique<PseudoTerminal>();
    QVERIFY(m_device->isValid());
    qputenv("ZEL_COM1", m_device->devicePath().toLocal8Bit());
    for (int port = 2; port <= 4; ++port) {
        qputenv(QByteArray("ZEL_COM") + QByteArray::number(port), kMissingDevice);
    }
    m_window = std::make_unique<frmMain>(zelConnectVariant());
    m_recorder.boxes.clear();
    m_window->setMessagePresenter(m_recorder.presenter());
}

void ConnectionTest::cleanup() {
    m_window.reset();
    m_device.reset();
}

void ConnectionTest::showActive() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void ConnectionTest::connectAndDisconnect() {
    showActive();
    m_window->menus().mnuConnect->trigger();
    QVERIFY(m_recorder.boxes.isEmpty());
    QVERIFY(m_window->serialControl().PortOpen());
    QCOMPARE(panel(1), QStringLiteral("Connected"));
    QCOMPARE(panel(2), QStringLiteral("COM1"));
    QCOMPARE(panel(3), QStringLiteral("9600,N,8,1"));
    QCOMPARE(m_window->menus().mnuConnect->text(), QStringLiteral("Dis&connect"));
    QVERIFY(sendEnabled());
    QCOMPARE(QApplication::focusWidget(), m_window->controls().txtTextOut);
    // The device end sees the default line settings.
    QCOMPARE(serial::lineSettingsMismatch(m_device->deviceHandle(), serial::LineSettings{}),
             std::nullopt);

    m_window->controls().txtHEX[0]->setFocus();
    m_window->menus().mnuConnect->trigger();
    QVERIFY(!m_window->serialControl().PortOpen());
    QCOMPARE(panel(1), QStringLiteral("Disconnected"));
    QCOMPARE(m_window->menus().mnuConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(sendDisabled());
    QCOMPARE(QApplication::focusWidget(), m_window->controls().txtTextOut);
    QVERIFY(m_recorder.boxes.isEmpty());
}

void ConnectionTest::bytesTravelBothWays() {
    m_window->mnuConnect_Click();
    QVERIFY(m_window->serialControl().PortOpen());

    // Every byte value, NUL and line ends included, arrives unchanged.
    QByteArray everyByte;
    for (int value = 0; value < 256; ++value) {
        everyByte.append(static_cast<char>(value));
    }
    const QByteArray fromDevice = "R=3712 G=3590 B=3880\r\n" + everyByte;
    QVERIFY(m_device->write(fromDevice));
    QTRY_COMPARE_WITH_TIMEOUT(response(), shown(fromDevice), 3000);

    QVERIFY(!m_window->serialControl().setOutput(everyByte));
    QByteArray atDevice;
    QTRY_VERIFY_WITH_TIMEOUT((atDevice += m_device->read(10)).size() >= everyByte.size(), 3000);
    QCOMPARE(atDevice, everyByte);
}

void ConnectionTest::settingChangeWhileConnectedReopens_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("settings");
    QTest::newRow("256000 baud") << "mnuSpeedSel(12)"
                                 << "256000,N,8,1";
    QTest::newRow("110 baud") << "mnuSpeedSel(0)"
                              << "110,N,8,1";
    QTest::newRow("14400 baud, off the classic table") << "mnuSpeedSel(6)"
                                                       << "14400,N,8,1";
    QTest::newRow("2 stop bits") << "mnuStopSel(2)"
                                 << "9600,N,8,2";
}

void ConnectionTest::settingChangeWhileConnectedReopens() {
    QFETCH(QString, item);
    QFETCH(QString, settings);
    m_window->mnuConnect_Click();
    QVERIFY(m_window->serialControl().PortOpen());

    m_window->findChild<QAction*>(item)->trigger();

    QVERIFY2(m_recorder.boxes.isEmpty(), qPrintable(m_recorder.boxes.value(0).prompt));
    QVERIFY(m_window->serialControl().PortOpen());
    QCOMPARE(panel(1), QStringLiteral("Connected"));
    QCOMPARE(panel(3), settings);
    QVERIFY(m_window->findChild<QAction*>(item)->isChecked());
    // The reopened port really runs with the new settings.
    const auto wanted = serial::parseLineSettings(settings);
    QVERIFY(wanted);
    QCOMPARE(serial::lineSettingsMismatch(m_device->deviceHandle(), *wanted), std::nullopt);
}

void ConnectionTest::settingThePortCannotDo_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("named");
    // Recent Linux kernels run pseudo-terminals at 8 data bits without parity whatever
    // they are asked; older ones keep the setting. Either the port opens with exactly the
    // setting, or opening fails and says which setting it could not take.
    QTest::newRow("Even parity") << "mnuParitySel(0)"
                                 << "9600,E,8,1"
                                 << "Even parity";
    QTest::newRow("Mark parity") << "mnuParitySel(1)"
                                 << "9600,M,8,1"
                                 << "Mark parity";
    QTest::newRow("Space parity") << "mnuParitySel(4)"
                                  << "9600,S,8,1"
                                  << "Space parity";
    QTest::newRow("5 data bits") << "mnuDataBSel(5)"
                                 << "9600,N,5,1"
                                 << "5 data bits";
    QTest::newRow("7 data bits") << "mnuDataBSel(7)"
                                 << "9600,N,7,1"
                                 << "7 data bits";
}

void ConnectionTest::settingThePortCannotDo() {
    QFETCH(QString, item);
    QFETCH(QString, settings);
    QFETCH(QString, named);
    m_window->mnuConnect_Click();
    m_window->findChild<QAction*>(item)->trigger();

    QCOMPARE(panel(3), settings);
    QVERIFY(m_window->findChild<QAction*>(item)->isChecked());
    if (m_window->serialControl().PortOpen()) {
        QVERIFY(m_recorder.boxes.isEmpty());
        QCOMPARE(panel(1), QStringLiteral("Connected"));
        const auto wanted = serial::parseLineSettings(settings);
        QCOMPARE(serial::lineSettingsMismatch(m_device->deviceHandle(), *wanted), std::nullopt);
    } else {
        QCOMPARE(m_recorder.boxes.size(), 1);
        const QString prompt = m_recorder.boxes.first().prompt;
        QVERIFY2(prompt.startsWith("Com1 is not available.\r\n"), qPrintable(prompt));
        QVERIFY2(prompt.contains(named), qPrintable(prompt));
        QVERIFY2(prompt.contains(m_device->devicePath()), qPrintable(prompt));
        QCOMPARE(panel(1), QStringLiteral("Disconnected"));
        QVERIFY(sendDisabled());
    }
}

void ConnectionTest::sameSettingAgainKeepsPortOpen() {
    m_window->mnuConnect_Click();
    m_window->menus().mnuParitySel[2]->trigger(); // None, already checked
    QVERIFY(m_window->serialControl().PortOpen());
    QVERIFY(m_window->menus().mnuParitySel[2]->isChecked());
    QCOMPARE(panel(1), QStringLiteral("Connected"));
    QCOMPARE(panel(3), QStringLiteral("9600,N,8,1"));
}

void ConnectionTest::portChangeWhileConnected() {
    PseudoTerminal second;
    qputenv("ZEL_COM2", second.devicePath().toLocal8Bit());
    m_window->mnuConnect_Click();
    m_window->menus().mnuCom[2]->trigger();
    QVERIFY(m_recorder.boxes.isEmpty());
    QVERIFY(m_window->serialControl().PortOpen());
    QCOMPARE(panel(1), QStringLiteral("Connected"));
    QCOMPARE(panel(2), QStringLiteral("COM2"));
    QVERIFY(m_window->menus().mnuCom[2]->isChecked());
    QVERIFY(!m_window->menus().mnuCom[1]->isChecked());

    QVERIFY(second.write("on two"));
    QTRY_COMPARE_WITH_TIMEOUT(response(), QStringLiteral("on two"), 3000);
}

void ConnectionTest::connectToMissingDevice() {
    qputenv("ZEL_COM1", kMissingDevice);
    showActive();
    m_window->menus().mnuConnect->trigger();

    QCOMPARE(m_recorder.boxes.size(), 1);
    const MessageBoxRequest box = m_recorder.boxes.first();
    QCOMPARE(box.prompt, QStringLiteral("Com1 is not available.\r\n") + kMissingDevice +
                             QStringLiteral(": No such file or directory"));
    QCOMPARE(box.title, QStringLiteral("Zel_Connect beta"));
    QCOMPARE(box.icon, MessageIcon::None);
    QCOMPARE(box.buttons, MessageButtons::OkOnly);
    QVERIFY(!m_window->serialControl().PortOpen());
    QCOMPARE(panel(1), QStringLiteral("Disconnected"));
    QCOMPARE(m_window->menus().mnuConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(sendDisabled());
    QCOMPARE(QApplication::focusWidget(), m_window->controls().txtTextOut);
}

void ConnectionTest::portChangeToMissingDevice() {
    m_window->mnuConnect_Click();
    m_window->menus().mnuCom[3]->trigger();

    QCOMPARE(m_recorder.boxes.size(), 1);
    QCOMPARE(m_recorder.boxes.first().prompt, QStringLiteral("Com3 is not available.\r\n") +
                                                  kMissingDevice +
                                                  QStringLiteral(": No such file or directory"));
    QCOMPARE(m_recorder.boxes.first().title, QStringLiteral("Zel_Connect beta"));
    QVERIFY(!m_window->serialControl().PortOpen());
    QCOMPARE(m_window->serialControl().CommPort(), 1);
    QCOMPARE(panel(1), QStringLiteral("Disconnected"));
    QCOMPARE(panel(2), QStringLiteral("COM1"));
    QVERIFY(m_window->menus().mnuCom[1]->isChecked());
    QVERIFY(!m_window->menus().mnuCom[3]->isChecked());
}

void ConnectionTest::unsupportedSettingFailsToOpen_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("named");
    QTest::newRow("4 data bits") << "mnuDataBSel(4)"
                                 << "4 data bits";
#ifndef Q_OS_WIN
    QTest::newRow("1.5 stop bits") << "mnuStopSel(1)"
                                   << "1.5 stop bits";
#endif
}

void ConnectionTest::unsupportedSettingFailsToOpen() {
    QFETCH(QString, item);
    QFETCH(QString, named);
    m_window->findChild<QAction*>(item)->trigger();
    QVERIFY(m_recorder.boxes.isEmpty()); // accepted while closed
    m_window->mnuConnect_Click();

    QCOMPARE(m_recorder.boxes.size(), 1);
    const QString prompt = m_recorder.boxes.first().prompt;
    QVERIFY2(prompt.startsWith("Com1 is not available.\r\n"), qPrintable(prompt));
    QVERIFY2(prompt.contains(named), qPrintable(prompt));
    QVERIFY(!m_window->serialControl().PortOpen());
    QCOMPARE(panel(1), QStringLiteral("Disconnected"));
}

void ConnectionTest::unsupportedSettingWhileConnected() {
    m_window->mnuConnect_Click();
    m_window->menus().mnuDataBSel[4]->trigger();

    QCOMPARE(m_recorder.boxes.size(), 1);
    QVERIFY(m_recorder.boxes.first().prompt.startsWith("Com1 is not available.\r\n"));
    QCOMPARE(m_recorder.boxes.first().title, QStringLiteral("Zel_Connect beta"));
    QVERIFY(!m_window->serialControl().PortOpen());
    QCOMPARE(panel(1), QStringLiteral("Disconnected"));
    QCOMPARE(panel(3), QStringLiteral("9600,N,4,1"));
    QVERIFY(m_window->menus().mnuDataBSel[4]->isChecked());
    QVERIFY(sendDisabled());

    // Choosing a possible value again opens nothing by itself; Connect does.
    m_window->menus().mnuDataBSel[8]->trigger();
    QVERIFY(!m_window->serialControl().PortOpen());
    m_window->mnuConnect_Click();
    QVERIFY(m_window->serialControl().PortOpen());
    QCOMPARE(m_recorder.boxes.size(), 1);
}

void ConnectionTest::shutdownClosesOpenPort() {
    m_window->show();
    m_window->mnuConnect_Click();
    QVERIFY(m_window->serialControl().PortOpen());
    QVERIFY(m_window->close());
    QVERIFY(!m_window->serialControl().PortOpen());

    // Closing while disconnected asks nothing and leaves the port closed.
    auto second = std::make_unique<frmMain>(zelConnectVariant());
    second->setMessagePresenter(m_recorder.presenter());
    second->show();
    QVERIFY(second->close());
    QVERIFY(!second->serialControl().PortOpen());
    QVERIFY(m_recorder.boxes.isEmpty());
}

void ConnectionTest::deviceGoesAwayWhileConnected() {
    MSComm& comm = m_window->serialControl();
    QSignalSpy lost(&comm, &MSComm::PortLost);
    m_window->mnuConnect_Click();
    QVERIFY(comm.PortOpen());

    QVERIFY(m_device->write("R=3712 G=35"));
    QTRY_COMPARE_WITH_TIMEOUT(response(), QStringLiteral("R=3712 G=35"), 3000);
    m_device->unplug();

    QTRY_COMPARE_WITH_TIMEOUT(panel(1), QStringLiteral("Disconnected"), 3000);
    QVERIFY(!comm.PortOpen());
    QVERIFY(sendDisabled());
    // It waits for the device to come back; Disconnect ends the wait.
    QVERIFY(comm.WaitingForDevice());
    QVERIFY(m_window->controls().StatusBar1Panels[1]->toolTip().contains("Waiting"));
    QCOMPARE(m_window->menus().mnuConnect->text(), QStringLiteral("Dis&connect"));
    m_window->mnuConnect_Click();
    QVERIFY(!comm.WaitingForDevice());
    QCOMPARE(m_window->menus().mnuConnect->text(), QStringLiteral("&Connect"));
    QTRY_COMPARE(m_window->controls().TextR->text(), QStringLiteral("3712"));
    // The green reading was cut off: it will never be whole.
    QCOMPARE(m_window->controls().TextG->text(), QString());
    // Once, not in a loop, and without a box.
    QTest::qWait(300);
    QCOMPARE(lost.size(), 1);
    QVERIFY(m_recorder.boxes.isEmpty());

    // A device plugged in again can be connected.
    m_device = std::make_unique<PseudoTerminal>();
    qputenv("ZEL_COM1", m_device->devicePath().toLocal8Bit());
    m_window->mnuConnect_Click();
    QVERIFY(comm.PortOpen());
    QCOMPARE(panel(1), QStringLiteral("Connected"));
    QVERIFY(m_device->write("again"));
    QTRY_VERIFY_WITH_TIMEOUT(response().endsWith("again"), 3000);
}

void ConnectionTest::deviceGoesAwayWhileBoxIsOpen() {
    MSComm& comm = m_window->serialControl();
    QSignalSpy lost(&comm, &MSComm::PortLost);
    m_window->setMessagePresenter([&](QWidget*, const MessageBoxRequest&) {
        QVERIFY(m_device->write("R=0100G=0200B=0300\r\n"));
        QTest::qWait(200); // read by the port, waiting for the box to close
        m_device->unplug();
        QTest::qWait(200);
        QCOMPARE(lost.size(), 0);
        QCOMPARE(response(), QString());
    });
    m_window->mnuConnect_Click();
    m_window->mnuHelpSel_Click(1);

    QTRY_COMPARE_WITH_TIMEOUT(panel(1), QStringLiteral("Disconnected"), 3000);
    QTRY_COMPARE(response(), shown("R=0100G=0200B=0300\r\n"));
    QTRY_COMPARE(m_window->controls().TextB->text(), QStringLiteral("0300"));
    QTest::qWait(200);
    QCOMPARE(lost.size(), 1);
}

void ConnectionTest::eventsWaitWhileBoxIsOpen() {
    MSComm& comm = m_window->serialControl();
    int eventsWhileOpen = 0;
    bool boxOpen = false;
    connect(&comm, &MSComm::OnComm, this, [&] { eventsWhileOpen += boxOpen ? 1 : 0; });
    // The box stays open while the device keeps talking and the event loop runs.
    m_window->setMessagePresenter([&](QWidget*, const MessageBoxRequest&) {
        boxOpen = true;
        QVERIFY(m_device->write("R=0100"));
        QTest::qWait(200);
        QVERIFY(m_device->write("G=0200"));
        QTest::qWait(200);
        boxOpen = false;
    });
    m_window->mnuConnect_Click();
    QVERIFY(comm.PortOpen());

    m_window->mnuHelpSel_Click(0);

    QCOMPARE(eventsWhileOpen, 0);
    QCOMPARE(response(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(response(), QStringLiteral("R=0100G=0200"), 3000);
}

void ConnectionTest::portStaysOpenAfterBoxes() {
    MSComm& comm = m_window->serialControl();
    QSignalSpy lost(&comm, &MSComm::PortLost);
    int round = 0;
    // The device talks just as the user closes the box: the port must not take the race
    // between the control's own read and Qt's for a device that went away.
    m_window->setMessagePresenter([&](QWidget*, const MessageBoxRequest&) {
        QVERIFY(m_device->write("while the box is open "));
        QTest::qWait(50); // taken from the port, waiting for the box to close
        QVERIFY(m_device->write(QByteArray::number(round) + "\r\n"));
        QThread::msleep(20); // at the port, and no event loop has run since
    });
    m_window->mnuConnect_Click();
    for (round = 0; round < 5; ++round) {
        m_window->mnuHelpSel_Click(0);
        QTRY_VERIFY_WITH_TIMEOUT(response().endsWith(QString::number(round) + "\n"), 3000);
        QTest::qWait(20);
        QVERIFY2(comm.PortOpen(), "the port closed by itself after the box");
    }
    QTest::qWait(100);
    QCOMPARE(lost.size(), 0);
    QVERIFY(comm.PortOpen());
    QVERIFY(m_device->write("still here"));
    QTRY_VERIFY_WITH_TIMEOUT(response().endsWith("still here"), 3000);
}

void ConnectionTest::whatWaitsForABoxIsBounded() {
    MSComm& comm = m_window->serialControl();
    MessageRecorder notices;
    m_window->setNoticePresenter(notices.presenter());
    QByteArray stream;
    for (int i = 0; stream.size() < MSComm::kHeldLimit + (2 << 20); ++i) {
        stream += QByteArray::number(i).rightJustified(8, '0') + "\r\n";
    }
    qsizetype mostHeld = 0;
    m_window->setMessagePresenter([&](QWidget*, const MessageBoxRequest&) {
        for (qsizetype at = 0; at < stream.size();) {
            at += m_device->writeSome(QByteArrayView(stream).sliced(at));
            QTest::qWait(1);
            mostHeld = std::max(mostHeld, comm.InBufferCount());
        }
        QTest::qWait(200);
        mostHeld = std::max(mostHeld, comm.InBufferCount());
    });
    ResponseView* response = m_window->controls().txtResponse;
    qsizetype largestPortion = 0;
    int events = 0;
    qsizetype shown = 0;
    connect(&comm, &MSComm::OnComm, this, [&] {
        ++events;
        largestPortion = std::max(largestPortion, response->characterCount() - shown);
        shown = response->characterCount();
    });
    m_window->mnuConnect_Click();
    m_window->mnuHelpSel_Click(0);

    QCOMPARE(mostHeld, MSComm::kHeldLimit); // the newest part, no more
    QCOMPARE(events, 0);
    QTRY_VERIFY_WITH_TIMEOUT(response->text().endsWith(stream.right(20).replace("\r\n", "\n")),
                             10000);
    // Handed over a portion at a time, the newest bytes kept, the rest counted.
    QVERIFY(events >= MSComm::kHeldLimit / MSComm::kPortion);
    QVERIFY(largestPortion <= MSComm::kPortion);
    const QByteArray tail = stream.right(1 << 20).replace("\r\n", "\n");
    QVERIFY(response->text().endsWith(QString::fromLatin1(tail)));
    QCOMPARE(notices.boxes.size(), 1);
    QVERIFY2(notices.boxes[0].prompt.contains(QString::number(stream.size() - MSComm::kHeldLimit) +
                                              " bytes"),
             qPrintable(notices.boxes[0].prompt));
    QVERIFY(comm.PortOpen());
}

void ConnectionTest::portInUseSaysSo() {
    QSerialPort other;
    other.setPortName(m_device->devicePath());
    QVERIFY(other.open(QIODevice::ReadWrite));
    m_window->mnuConnect_Click();
    QVERIFY(!m_window->serialControl().PortOpen());
    QCOMPARE(m_recorder.boxes.size(), 1);
    QCOMPARE(m_recorder.boxes[0].prompt,
             "Com1 is not available.\r\n" + inUseDescription(m_device->devicePath()));
    QVERIFY(inUseDescription("/dev/ttyUSB0").contains("in use by another program"));
}

void ConnectionTest::portMenuNamesTheDevices() {
    // What the machine seems to have; Com 3 is named by its variable.
    const QList<PortInfo> present = {
        {"/dev/ttyUSB2", "FT232R USB UART", "A50285BI", false, true, false},
        {"/dev/ttyS0", "built-in serial port", {}, true, true, true}};
    m_window->serialControl().setPortInventory([&] { return present; });
    qunsetenv("ZEL_COM1");
    qunsetenv("ZEL_COM2");
    qputenv("ZEL_COM3", m_device->devicePath().toLocal8Bit());
    emit m_window->menus().mnuPort->aboutToShow();
    const auto toolTip = [this](int port) {
        return m_window->menus().mnuCom[port]->toolTip();
    };
    QCOMPARE(toolTip(1), QStringLiteral("/dev/ttyUSB2: FT232R USB UART; serial A50285BI"));
    QCOMPARE(toolTip(2), QStringLiteral("/dev/ttyS1: no serial port found for this number"));
    QCOMPARE(toolTip(3), m_device->devicePath() + ": named by ZEL_COM3");
    QVERIFY(m_window->menus().mnuPort->toolTipsVisible());
    QCOMPARE(m_window->menus().mnuCom[1]->text(), QStringLiteral("Com &1")); // captions stay

    // The port panel names the device when the user points at it.
    QLabel* panel = m_window->controls().StatusBar1Panels[2];
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), panel->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(panel, &hover);
    QCOMPARE(panel->toolTip(), toolTip(1));
    QVERIFY(m_recorder.boxes.isEmpty());
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
