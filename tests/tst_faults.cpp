// Faults from outside: a cable pulled in the middle of a burst, many connect/unplug cycles,
// a log directory that turns read-only during a run, and a stream that never stops.
#include "frmmain.h"
#include "pseudoterminal.h"
#include "responsetext.h"
#include "responseview.h"
#include "sampleplot.h"
#include "testhelpers.h"
#include "zelconnectwindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

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

// Makes a directory refuse new files, also to root (whose permissions chmod does not stop).
bool makeReadOnly(const QString& path, bool readOnly) {
    ::chmod(QFile::encodeName(path).constData(), readOnly ? 0555 : 0755);
    if (!readOnly) {
        QProcess::execute("chattr", {"-i", path});
        return true;
    }
    QFile probe(QDir(path).filePath("probe"));
    if (!probe.open(QIODevice::WriteOnly)) {
        return true;
    }
    probe.close();
    probe.remove();
    return QProcess::execute("chattr", {"+i", path}) == 0;
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void cablePulledDuringBurst();
    void connectUnplugCyclesLeakNothing();
    void logDirectoryTurnsReadOnly();
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
};

void FaultsTest::init() {
    QFile::remove(m_dir.filePath("app.txt"));
    m_window = std::make_unique<ZelConnectWindow>(m_dir.filePath("app.txt"));
    m_boxes.boxes.clear();
    m_notices.clear();
    m_window->setMessagePresenter(m_boxes.presenter());
    m_window->setNoticePresenter(
        [this](QWidget*, const MessageBoxRequest& request) { m_notices << request; });
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

    // Plugged in again, it works as before.
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
