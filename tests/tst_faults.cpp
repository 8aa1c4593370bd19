// Faults from outside: a cable pulled in the middle of a burst, many connect/unplug cycles,
// a log directory that turns read-only during a run, and a stream that never stops.
#include "frmmain.h"
#include "portmapping.h"
#include "pseudoterminal.h"
#include "readonlyfolder.h"
#include "responsetext.h"
#include "responseview.h"
#include "sampleplot.h"
#include "testhelpers.h"
#include "zelconnectwindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void cablePulledDuringBurst();
    void connectUnplugCyclesLeakNothing();
    void cableGlitchReconnects();
    void disconnectWhileWaitingStopsTheRetries();
    void sameAdapterFoundByItsSerialNumber();
    void logDirectoryTurnsReadOnly();
    void installedProgramLogsInTheDataFolder();
    void responseFieldBoundedUnderEndlessStream();

private:
    QString panel(int number) const {
        return m_window->controls().StatusBar1Panels[number]->text();
    }
    QByteArray log() const {
        QFile file(m_dir.filePath("app.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ZelConnectWindow> m_window;
    MessageRecorder m_boxes;
    QList<MessageBoxRequest> m_notices;
    QList<serial::PortInfo> m_ports; // what the machine seems to have
};

void FaultsTest::init() {
    QFile::remove(m_dir.filePath("app.txt"));
    m_window = std::make_unique<ZelConnectWindow>(m_dir.filePath("app.txt"));
    m_boxes.boxes.clear();
    m_notices.clear();
    m_window->setMessagePresenter(m_boxes.presenter());
    m_window->setNoticePresenter(
        [this](QWidget*, const MessageBoxRequest& request) { m_notices << request; });
    m_window->serialControl().setPortInventory([this] { return m_ports; });
    m_ports.clear();
}

void FaultsTest::cleanup() {
    m_window.reset();
}

void FaultsTest::cablePulledDuringBurst() {
    PseudoTerminal device;
    qputenv("ZEL_COM1", device.devicePath().toLocal8Bit());
    MSComm& comm = m_window->serialControl();
    QSignalSpy lost(&comm, &MSComm::PortLost);
    m_window->mnuConnect_Click();
    QVERIFY(comm.PortOpen());

    const QByteArray burst = readingLines(20000); // 440,000 bytes
    device.burstThenUnplug(burst, 300007);        // gone in the middle of a line
    QTRY_COMPARE_WITH_TIMEOUT(panel(1), QStringLiteral("Disconnected"), 20000);
    device.waitForDevice();
    QTest::qWait(300);
    QCOMPARE(lost.size(), 1);
    QVERIFY(m_boxes.boxes.isEmpty());
    QVERIFY(!comm.PortOpen());

    // What arrived before the cable went is shown, whole and in order.
    const QString shown = m_window->controls().txtResponse->text();
    const QString all = terminal::ResponseText().render(QString::fromLatin1(burst));
    QVERIFY(shown.size() > 1000);
    QVERIFY(all.startsWith(shown));
    // Every line that ended before the next one began was evaluated and logged once, in order.
    const QList<QByteArray> logged = log().split('\n');
    const qsizetype linesShown = shown.count(u'\n');
    QVERIFY(logged.size() - 1 >= linesShown - 1);
    QVERIFY(logged.size() - 1 <= linesShown);
    const QList<QByteArray> sent = burst.split('\n');
    for (qsizetype i = 0; i + 1 < logged.size(); ++i) {
        QCOMPARE(logged[i].mid(logged[i].indexOf(',') + 2), sent[i].trimmed() + '\r');
    }

    // Plugged in again elsewhere, it works as before once the wait for the old one ends.
    m_window->mnuConnect_Click();
    PseudoTerminal again;
    qputenv("ZEL_COM1", again.devicePath().toLocal8Bit());
    m_window->mnuConnect_Click();
    QVERIFY(comm.PortOpen());
    QVERIFY(again.write("R=0100 G=0200 B=0300\r\nR"));
    QTRY_COMPARE(m_window->sampleText(frmMain::SampleText::Blue), QStringLiteral("0300"));
}

void FaultsTest::connectUnplugCyclesLeakNothing() {
    MSComm& comm = m_window->serialControl();
    QSignalSpy lost(&comm, &MSComm::PortLost);
    // One round first, so that what Qt opens once and keeps is not counted as a leak.
    const auto cycle = [&] {
        PseudoTerminal device;
        qputenv("ZEL_COM1", device.devicePath().toLocal8Bit());
        m_window->mnuConnect_Click();
        QVERIFY(comm.PortOpen());
        QVERIFY(device.write("R=0100 G=0200 B=0300\r\n"));
        QTRY_VERIFY(m_window->controls().txtResponse->text().contains("B=0300"));
        device.unplug();
        QTRY_VERIFY(!comm.PortOpen());
        m_window->mnuConnect_Click(); // stops waiting for it
        QVERIFY(!comm.WaitingForDevice());
        m_window->btnClear_Click(2);
    };
    cycle();
    const int before = openDescriptors();
    for (int i = 0; i < 100; ++i) {
        cycle();
        if (QTest::currentTestFailed()) {
            return;
        }
    }
    QCOMPARE(openDescriptors(), before);
    QCOMPARE(lost.size(), 101);
    QVERIFY(m_boxes.boxes.isEmpty());
}

void FaultsTest::cableGlitchReconnects() {
    // The sensor comes back at the same path, as a link re-pointed to a new terminal.
    QTemporaryDir links;
    const QString link = links.filePath("sensor");
    auto device = std::make_unique<PseudoTerminal>();
    QVERIFY(QFile::link(device->devicePath(), link));
    qputenv("ZEL_COM1", link.toLocal8Bit());
    MSComm& comm = m_window->serialControl();
    m_window->mnuConnect_Click();
    QVERIFY(comm.PortOpen());

    QList<qint64> reconnectMs;
    int before = 0;
    for (int round = 0; round <= 20; ++round) {
        if (round == 1) {
            before = openDescriptors(); // what Qt opens once and keeps is not a leak
        }
        // A sample, ended by the next "R", then half a reading that the glitch cuts off.
        QVERIFY(device->write(
            QStringLiteral("R=%1 G=2000 B=3000\r\nR=12").arg(1000 + round).toLatin1()));
        QTRY_COMPARE(log().count('\n'), qsizetype(round + 1));
        device->unplug();
        QTRY_VERIFY(!comm.PortOpen());
        QCOMPARE(panel(1), QStringLiteral("Disconnected"));
        QVERIFY(comm.WaitingForDevice());
        QElapsedTimer back;
        back.start();
        device = std::make_unique<PseudoTerminal>();
        QVERIFY(QFile::remove(link) && QFile::link(device->devicePath(), link));
        QTRY_VERIFY_WITH_TIMEOUT(comm.PortOpen(), 2500);
        reconnectMs << back.elapsed();
        QCOMPARE(panel(1), QStringLiteral("Connected"));
        QVERIFY(device->write("34 G=2222 B=3333\r\n")); // the rest of the cut reading
        if (QTest::currentTestFailed()) {
            return;
        }
    }
    QVERIFY(device->write("R=4000 G=2000 B=3000\r\nR"));
    QTRY_COMPARE(log().count('\n'), qsizetype(22));
    // Every sample logged once, none made of both sides of a glitch ("1234").
    const QList<QByteArray> lines = log().split('\n');
    for (int round = 0; round <= 20; ++round) {
        QVERIFY2(lines[round].contains(
                     QStringLiteral("R=%1 G=2000 B=3000").arg(1000 + round).toLatin1()),
                 lines[round].constData());
    }
    QVERIFY(!log().contains("1234"));
    QCOMPARE(openDescriptors(), before);
    QVERIFY(m_boxes.boxes.isEmpty());
    std::sort(reconnectMs.begin(), reconnectMs.end());
    qInfo("reconnected 21 times: %lld ms at least, %lld ms median, %lld ms at most",
          reconnectMs.front(), reconnectMs[reconnectMs.size() / 2], reconnectMs.back());
}

void FaultsTest::disconnectWhileWaitingStopsTheRetries() {
    QTemporaryDir links;
    const QString link = links.filePath("sensor");
    auto device = std::make_unique<PseudoTerminal>();
    QVERIFY(QFile::link(device->devicePath(), link));
    qputenv("ZEL_COM1", link.toLocal8Bit());
    MSComm& comm = m_window->serialControl();
    m_window->mnuConnect_Click();
    device->unplug();
    QTRY_VERIFY(comm.WaitingForDevice());
    QCOMPARE(m_window->menus().mnuConnect->text(), QStringLiteral("Dis&connect"));
    m_window->mnuConnect_Click();
    QVERIFY(!comm.WaitingForDevice());
    QCOMPARE(m_window->menus().mnuConnect->text(), QStringLiteral("&Connect"));
    device = std::make_unique<PseudoTerminal>();
    QVERIFY(QFile::remove(link) && QFile::link(device->devicePath(), link));
    QTest::qWait(2 * MSComm::kRetryMs);
    QVERIFY(!comm.PortOpen());
    QVERIFY(m_boxes.boxes.isEmpty());
}

void FaultsTest::sameAdapterFoundByItsSerialNumber() {
    // Com 1 is the first adapter the machine lists; no variable names it.
    qunsetenv("ZEL_COM1");
    auto sensor = std::make_unique<PseudoTerminal>();
    m_ports = {{sensor->devicePath(), "FT232R USB UART", "A50285BI", false, true, false}};
    MSComm& comm = m_window->serialControl();
    m_window->mnuConnect_Click();
    QVERIFY(comm.PortOpen());
    QCOMPARE(comm.openedDevice(), sensor->devicePath());
    sensor->unplug();
    QTRY_VERIFY(comm.WaitingForDevice());
    // Another adapter now comes first; the sensor returns under another name.
    PseudoTerminal other;
    sensor = std::make_unique<PseudoTerminal>();
    m_ports = {{other.devicePath(), "CP2102", "0001", false, true, false},
               {sensor->devicePath(), "FT232R USB UART", "A50285BI", false, true, false}};
    QTRY_VERIFY_WITH_TIMEOUT(comm.PortOpen(), 2500);
    QCOMPARE(comm.openedDevice(), sensor->devicePath());
    QVERIFY(sensor->write("back"));
    QTRY_VERIFY(m_window->controls().txtResponse->text().endsWith("back"));
}

void FaultsTest::installedProgramLogsInTheDataFolder() {
    QTemporaryDir program;
    QTemporaryDir data;
    const QString dataFolder = data.filePath("Zel_Connect");
    // A build or a portable copy in a writable folder logs beside itself.
    SampleLog::Location location = SampleLog::chooseLocation(program.path(), dataFolder);
    QCOMPARE(location.path, program.filePath("app.txt"));
    QVERIFY(!location.inDataFolder);
    if (!makeReadOnly(program.path(), true)) {
        QSKIP("cannot make a directory read-only here");
    }
    location = SampleLog::chooseLocation(program.path(), dataFolder);
    QCOMPARE(location.path, QDir(dataFolder).filePath("app.txt"));
    QVERIFY(location.inDataFolder);
    QVERIFY(QFileInfo(dataFolder).isDir());
    // Neither can be written: beside the program, where the failure notice will name it.
    QVERIFY(makeReadOnly(data.path(), true) && makeReadOnly(dataFolder, true));
    location = SampleLog::chooseLocation(program.path(), data.filePath("elsewhere"));
    makeReadOnly(dataFolder, false);
    makeReadOnly(data.path(), false);
    makeReadOnly(program.path(), false);
    QCOMPARE(location.path, program.filePath("app.txt"));

    // The first line written there says where the log is, once.
    m_window->samplePlot().setLogPath(QDir(dataFolder).filePath("app.txt"));
    m_window->samplePlot().announceLogLocation("the program's folder cannot be written");
    for (int i = 0; i < 4; ++i) {
        m_window->receive("R=3000 G=2000 B=1000\r\n");
    }
    QCOMPARE(m_window->samplePlot().model().strokeCount(), std::size_t(3));
    QCOMPARE(m_notices.size(), 1);
    QVERIFY(m_notices[0].prompt.contains(QDir(dataFolder).filePath("app.txt")));
}

void FaultsTest::logDirectoryTurnsReadOnly() {
    QTemporaryDir logDir;
    m_window->samplePlot().setLogPath(logDir.filePath("app.txt"));
    const auto sample = [this](int i) {
        m_window->receive(QStringLiteral("R=%1 G=2000 B=1000\r\n").arg(3000 + i).toLatin1());
    };
    for (int i = 0; i < 5; ++i) {
        sample(i);
    }
    // Moved away by someone, and the directory made read-only: the log cannot start anew.
    QVERIFY(QFile::rename(logDir.filePath("app.txt"), m_dir.filePath("moved.txt")));
    if (!makeReadOnly(logDir.path(), true)) {
        QSKIP("cannot make a directory read-only here");
    }
    for (int i = 5; i < 15; ++i) {
        sample(i);
    }
    makeReadOnly(logDir.path(), false);
    QCOMPARE(m_window->samplePlot().model().strokeCount(), std::size_t(14)); // the plot goes on
    QCOMPARE(m_notices.size(), 1);
    QVERIFY(m_notices[0].prompt.contains(logDir.filePath("app.txt")));
    sample(15);
    QFile file(logDir.filePath("app.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith("1400, R=3014"));
    QFile moved(m_dir.filePath("moved.txt"));
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll().count('\n'), 4); // the first four samples; the fifth waited for an R
}

void FaultsTest::responseFieldBoundedUnderEndlessStream() {
    PseudoTerminal device;
    qputenv("ZEL_COM1", device.devicePath().toLocal8Bit());
    m_window->mnuConnect_Click();
    const QByteArray block = readingLines(2000); // 44,000 bytes
    qsizetype sent = 0;
    qsizetype largest = 0;
    while (sent < 6 * (1 << 20)) {
        // The device never pauses; the window reads between the writes.
        const qsizetype at = sent % block.size();
        sent += device.writeSome(QByteArrayView(block).sliced(at));
        QCoreApplication::processEvents();
        largest = std::max(largest, m_window->controls().txtResponse->characterCount());
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        m_window->controls().txtResponse->text().endsWith(
            terminal::ResponseText().render(QString::fromLatin1(block.right(22)))),
        10000);
    const qsizetype held = m_window->controls().txtResponse->characterCount();
    QVERIFY2(held >= ResponseView::kKept, qPrintable(QString::number(held)));
    QVERIFY2(largest <= ResponseView::kLimit + block.size(), qPrintable(QString::number(largest)));
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
