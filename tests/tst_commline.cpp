// The Windows line's logic over a fake communications driver with the habits of real ones:
// refused combinations of settings, a buffer the driver does not count, writes that fail,
// reads that end at once with nothing. Also the control's close over that line.
#include "commline.h"
#include "mscomm.h"
#include "usbadapter.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <condition_variable>
#include <mutex>

using namespace serial;

namespace {

// What went out of the fake port, kept by the test: the driver belongs to the line.
struct Wire {
    QByteArray sent;
    int readsStarted = 0;
    qint64 inputQueue = 0;
    int drivers = 0; // alive: a driver destroyed frees the buffers of its requests
    int letGo = 0;   // ports closed while requests kept their buffers
};

class FakeDriver : public CommDriver {
public:
    FakeDriver(Wire& wire, LineSettings state) : m_wire(wire), m_state(state) {
        connect(&m_tick, &QTimer::timeout, this, &FakeDriver::tick);
        m_tick.start(10);
        ++m_wire.drivers;
    }
    // The port closes: what the adapter still holds goes out.
    ~FakeDriver() override {
        m_wire.sent += m_held;
        --m_wire.drivers;
    }

    qint64 bytesPerTick = 1 << 20;
    qint64 adapterBuffer = 0;    // held in the adapter, not counted by the driver
    int failWrite = 0;           // this write (1, 2, ...) fails
    bool readsEndAtOnce = false; // with readsEndWith, else reads wait for bytes that never come
    bool requestsEnd = true;     // false: cancelled requests never end
    QByteArray readsEndWith;

    std::optional<LineSettings> line(QString&) override { return m_state; }
    std::optional<QString> setLine(const LineSettings& line) override {
        // As common drivers refuse them.
        if ((line.dataBits == 5 && line.stopBits == StopBits::Two) ||
            (line.dataBits > 5 && line.stopBits == StopBits::OneAndHalf)) {
            return QStringLiteral("The parameter is incorrect.");
        }
        // And some take a setting they cannot do and quietly run another.
        m_state = line;
        m_state.speed = line.speed == 250000 ? 256000 : line.speed;
        m_state.dataBits = line.dataBits == 4 ? 8 : line.dataBits;
        m_state.parity = line.parity == 'M' ? 'S' : line.parity;
        return std::nullopt;
    }
    QString prepare(qint64 inputQueue) override {
        m_wire.inputQueue = inputQueue;
        return {};
    }
    QString startRead(qsizetype) override {
        ++m_wire.readsStarted;
        if (readsEndAtOnce) {
            QTimer::singleShot(0, this, [this] { emit readEnded(readsEndWith, {}); });
        }
        return {};
    }
    QString startWrite(const QByteArray& bytes) override {
        if (++m_writes == failWrite) {
            QTimer::singleShot(0, this, [this] { emit writeEnded(0, QStringLiteral("Lost.")); });
            return {};
        }
        m_held += bytes;
        m_writing = bytes.size();
        return {};
    }
    qint64 outputQueue() override { return std::max<qint64>(m_held.size() - adapterBuffer, 0); }
    void purgeOutput() override { m_held.clear(); }
    void purgeInput() override {}
    bool cancel(int) override { return requestsEnd; }
    bool requestsEnded() override { return requestsEnd; }
    void closeKeepingRequests() override { ++m_wire.letGo; }

    void failRead() { emit readEnded({}, QStringLiteral("The device is not connected.")); }

private:
    void tick() {
        // A write ends once the driver has handed it on to the adapter.
        if (m_writing > 0 && outputQueue() == 0) {
            emit writeEnded(std::exchange(m_writing, 0), {});
        }
        m_wire.sent += m_held.first(std::min<qint64>(bytesPerTick, m_held.size()));
        m_held.remove(0, std::min<qint64>(bytesPerTick, m_held.size()));
    }

    Wire& m_wire;
    LineSettings m_state;
    QTimer m_tick;
    QByteArray m_held;
    qint64 m_writing = 0;
    int m_writes = 0;
};

LineSettings settings(const QString& text) {
    return *parseLineSettings(text);
}

// The system's notices of devices that appear, as the test gives them.
class NoticeWatch : public DeviceWatch {
public:
    bool watch(const DeviceIdentity& awaited) override {
        watched = awaited;
        return true;
    }
    void stop() override { watched.reset(); }
    std::optional<DeviceIdentity> watched;
};

} // namespace

class CommLineTest : public QObject {
    Q_OBJECT

private slots:
    void wholeSettings_data();
    void wholeSettings();
    void lastBytesGoOut();
    void unsentCountIsTrue();
    void failedWriteGoesOn();
    void reading();
    void disconnectDuringLoss();
    void requestsTheDriverNeverEnds();
    void oneOpenPerDevice();
    void noticeOpensAtOnce();
    void portKnownByItsName_data();
    void portKnownByItsName();

private:
    // A line on a fake driver; the driver's knobs are set by prepareDriver when it opens.
    std::unique_ptr<CommLine> makeLine(std::function<void(FakeDriver&)> prepareDriver = {}) {
        m_wire = {};
        return std::make_unique<CommLine>(
            [this, prepareDriver](const QString&, ReachedDevice,
                                  CommError& error) -> std::unique_ptr<CommDriver> {
                if (m_refusals > 0 && m_refusals--) {
                    error = {CommError::comPortNotAvailable, QStringLiteral("Permission denied")};
                    return nullptr;
                }
                auto driver = std::make_unique<FakeDriver>(m_wire, settings("9600,N,8,1"));
                m_driver = driver.get();
                if (prepareDriver) {
                    prepareDriver(*driver);
                }
                return driver;
            });
    }
    // The control on a line on a fake driver, open on Com 1 at settingsText.
    std::unique_ptr<MSComm> openControl(const QString& settingsText,
                                        std::function<void(FakeDriver&)> prepareDriver) {
        auto comm = std::make_unique<MSComm>(makeLine(std::move(prepareDriver)));
        const QString device = m_dir.filePath(QStringLiteral("ttyUSB0"));
        qputenv("ZEL_COM1", device.toLocal8Bit());
        comm->setPortInventory([device] { return QList<PortInfo>{usbAdapter(device, "A1")}; });
        comm->setComNumbersFile(m_dir.filePath(QStringLiteral("ports.conf")));
        (void)comm->setSettings(settingsText);
        if (const CommError error = comm->setPortOpen(true)) {
            qWarning() << error.description;
            return nullptr;
        }
        return comm;
    }

    // The control open on a fake driver at /dev/null (a character device standing in for
    // the port's node) as present lists it, then the device lost: the port waits, watched.
    struct Waiting {
        std::unique_ptr<MSComm> comm;
        NoticeWatch* notices = nullptr;
    };
    Waiting lostWhileWatched(QList<PortInfo>& present,
                             std::function<void(FakeDriver&)> prepareDriver = {}) {
        Waiting waiting{std::make_unique<MSComm>(makeLine(std::move(prepareDriver))), nullptr};
        MSComm& comm = *waiting.comm;
        qputenv("ZEL_COM1", "/dev/null");
        comm.setPortInventory([&present] { return present; });
        comm.setComNumbersFile(m_dir.filePath(QStringLiteral("ports.conf")));
        auto watch = std::make_unique<NoticeWatch>();
        waiting.notices = watch.get();
        comm.setDeviceWatch(std::move(watch));
        comm.setRetryDelays(60000, 60000); // only notices find it
        if (comm.setPortOpen(true) || !comm.PortOpen()) {
            return {};
        }
        present.clear();
        m_driver->failRead();
        if (!QTest::qWaitFor([&] { return comm.WaitingForDevice() && waiting.notices->watched; })) {
            return {};
        }
        return waiting;
    }

    QTemporaryDir m_dir;
    Wire m_wire;
    int m_refusals = 0; // opens refused before the driver is reached
    FakeDriver* m_driver = nullptr;
};

void CommLineTest::wholeSettings_data() {
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QString>("error");
    QTest::newRow("after 5 data bits and 1.5 stop bits, 8N1") << "9600,N,5,1.5"
                                                              << "9600,N,8,1" << QString();
    QTest::newRow("after 8N2, 5N1") << "19200,N,8,2"
                                    << "9600,N,5,1" << QString();
    QTest::newRow("5 data bits with 2 stop bits")
        << "9600,N,8,1"
        << "9600,E,5,2"
        << "COM1 cannot use 5 data bits with 2 stop bits: The parameter is incorrect.";
    QTest::newRow("speed run otherwise")
        << "9600,N,8,1"
        << "250000,N,8,1"
        << "COM1: The port cannot run at 250000 baud (the driver set 256000 baud).";
    QTest::newRow("data bits run otherwise") << "9600,N,8,1"
                                             << "9600,N,4,1"
                                             << "COM1: The port cannot use 4 data bits.";
    QTest::newRow("parity run otherwise") << "9600,N,8,1"
                                          << "9600,M,8,1"
                                          << "COM1: The port cannot use Mark parity.";
}

void CommLineTest::wholeSettings() {
    QFETCH(QString, left);
    QFETCH(QString, wanted);
    QFETCH(QString, error);
    FakeDriver driver(m_wire, settings(left));
    QCOMPARE(applyLineSettings(driver, QStringLiteral("COM1"), settings(wanted)).description,
             error);
}

void CommLineTest::lastBytesGoOut() {
    // The adapter holds what the driver no longer counts: the close must not drop it.
    auto comm = openControl(QStringLiteral("9600,N,8,1"), [](FakeDriver& driver) {
        driver.bytesPerTick = 20;
        driver.adapterBuffer = 256;
    });
    QVERIFY(comm);
    QCOMPARE(m_wire.inputQueue, CommLine::kInputQueue);
    const QByteArray text = QByteArray(2000, 'x') + "end";
    QList<qint64> remaining;
    connect(comm.get(), &MSComm::FlushProgress, this,
            [&remaining](qint64 left, qint64) { remaining << left; });
    QVERIFY(!comm->setOutput(text) && !comm->setPortOpen(false));
    QCOMPARE(m_wire.sent, text);
    // Progress moves while the bytes go, not only at the end.
    QVERIFY2(std::count_if(remaining.begin(), remaining.end(),
                           [&text](qint64 left) { return left > 0 && left < text.size() / 2; }) > 0,
             qPrintable(QString::number(remaining.size())));
}

void CommLineTest::unsentCountIsTrue() {
    // The line claims 115200 baud, the device takes far less: the close gives up at its bound.
    auto comm = openControl(QStringLiteral("115200,N,8,1"),
                            [](FakeDriver& driver) { driver.bytesPerTick = 10; });
    QVERIFY(comm && !comm->setOutput(QByteArray(3000, 'x')));
    QSignalSpy failed(comm.get(), &MSComm::SendFailed);
    QVERIFY(!comm->setPortOpen(false));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(),
             QStringLiteral("%1 bytes could not be sent before the port closed.")
                 .arg(3000 - m_wire.sent.size()));
    QVERIFY(m_wire.sent.size() > 0);
}

void CommLineTest::failedWriteGoesOn() {
    auto line = makeLine([](FakeDriver& driver) { driver.failWrite = 2; });
    QVERIFY(!line->open(QStringLiteral("COM1"), settings("9600,N,8,1"), {}));
    QSignalSpy failed(line.get(), &SerialLine::writeFailed);
    // The second piece is lost; the third, like every later one, still goes.
    const QByteArray text = QByteArray(300, 'a') + QByteArray(100, 'c');
    QVERIFY(line->write(text).isEmpty());
    QTRY_COMPARE(line->pendingOutput(), 0);
    QCOMPARE(failed.count(), 1);
    QVERIFY(m_wire.sent.size() < text.size() && m_wire.sent.endsWith(text.last(100)));

    // Also while the port closes.
    auto comm =
        openControl(QStringLiteral("9600,N,8,1"), [](FakeDriver& driver) { driver.failWrite = 2; });
    QVERIFY(!comm->setOutput(text));
    QSignalSpy told(comm.get(), &MSComm::SendFailed);
    QVERIFY(!comm->setPortOpen(false));
    QCOMPARE(told.count(), 1);
    QCOMPARE(told.at(0).at(0).toString(), QStringLiteral("Lost."));
}

void CommLineTest::reading() {
    // A driver that ends every read at once with nothing, as some do after an unplug.
    auto line = makeLine([](FakeDriver& driver) { driver.readsEndAtOnce = true; });
    QVERIFY(!line->open(QStringLiteral("COM1"), settings("9600,N,8,1"), {}));
    QSignalSpy lost(line.get(), &SerialLine::lost);
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 2000);

    // A device that sends without end while the control takes nothing: reads pause at the
    // bound and go on once it has taken what came.
    line = makeLine([](FakeDriver& driver) {
        driver.readsEndAtOnce = true;
        driver.readsEndWith = QByteArray(64 << 10, 'x');
    });
    QVERIFY(!line->open(QStringLiteral("COM1"), settings("9600,N,8,1"), {}));
    QTest::qWait(200);
    QCOMPARE(m_wire.readsStarted, int(CommLine::kMostHeld / CommLine::kReadChunk));
    QByteArray received;
    QVERIFY(line->read(received).isEmpty());
    QCOMPARE(received.size(), CommLine::kMostHeld);
    QTRY_VERIFY(m_wire.readsStarted > int(CommLine::kMostHeld / CommLine::kReadChunk));
    // Taking what came starts no second read beside one under way.
    line = makeLine();
    QVERIFY(!line->open(QStringLiteral("COM1"), settings("9600,N,8,1"), {}));
    QVERIFY(line->read(received).isEmpty() && m_wire.readsStarted == 1);
}

void CommLineTest::disconnectDuringLoss() {
    // The device goes away while bytes wait to go out, and the user chooses Disconnect
    // before the loss was handled: the port is closed for good, nothing waits or reopens.
    auto comm = openControl(QStringLiteral("9600,N,8,1"),
                            [](FakeDriver& driver) { driver.bytesPerTick = 0; });
    QVERIFY(comm && !comm->setOutput("abc"));
    m_driver->failRead();
    QVERIFY(!comm->setPortOpen(false) && !comm->WaitingForDevice());
    QCOMPARE(comm->setCommPort(0).number, CommError::comInvalidPortNumber);
}

void CommLineTest::requestsTheDriverNeverEnds() {
    // Cancelled requests that the driver never ends keep their buffers until it does: the
    // port is let go, and not opened again before, so that at most one such set is kept per
    // port; Connect says why meanwhile.
    auto comm = openControl(QStringLiteral("9600,N,8,1"),
                            [](FakeDriver& driver) { driver.requestsEnd = false; });
    QVERIFY(comm);
    FakeDriver* const stuck = m_driver;
    QVERIFY(!comm->setPortOpen(false));
    QCOMPARE(m_wire.drivers, 1);
    QCOMPARE(m_wire.letGo, 1);
    const CommError error = comm->setPortOpen(true);
    QVERIFY2(error.description.endsWith(QStringLiteral(
                 "ttyUSB0: the driver has not yet ended what the last connection asked of it. "
                 "Try again in a moment, or unplug the adapter and plug it in again.")),
             qPrintable(error.description));
    stuck->requestsEnd = true;
    QVERIFY(!comm->setPortOpen(true) && comm->PortOpen());
    QCOMPARE(m_wire.drivers, 1); // the new one: the old one freed
}

void CommLineTest::oneOpenPerDevice() {
    // A COM port refuses a second open while the first is pending: given up and asked for
    // again, a device is still opened once, its answer going to the open that wants it now;
    // another device opens alongside.
    std::mutex mutex;
    std::condition_variable answer;
    bool answered = false;
    QStringList asked;
    DeviceOpens opens([&](const QString& device) {
        std::unique_lock lock(mutex);
        asked << device;
        answer.wait_for(lock, std::chrono::seconds(10), [&] { return answered; });
        return ReachedDevice(ReachedDevice::kNone, EBUSY);
    });
    auto open = opens.open(QStringLiteral("COM3"));
    for (int click = 0; click < 5; ++click) {
        open.reset();
        open = opens.open(QStringLiteral("COM3"));
    }
    const auto other = opens.open(QStringLiteral("COM4"));
    const auto askedNow = [&] {
        const std::lock_guard lock(mutex);
        QStringList devices = asked;
        devices.sort();
        return devices;
    };
    const QStringList once = {QStringLiteral("COM3"), QStringLiteral("COM4")};
    QTRY_COMPARE(askedNow(), once);
    QVERIFY(!open->wait(50));
    {
        const std::lock_guard lock(mutex);
        answered = true;
    }
    answer.notify_all();
    QVERIFY(open->wait(5000) && other->wait(5000));
    QCOMPARE(open->take().error(), EBUSY);
    QCOMPARE(askedNow(), once);
}

void CommLineTest::noticeOpensAtOnce() {
    // The system says a device has appeared: the one awaited opens at once, long before the
    // next retry, also when its first open is refused (its node came before its mode);
    // another adapter of its kind is named for the user, not opened in its place.
    QList<PortInfo> present = {usbAdapter(QStringLiteral("/dev/null"), "A1")};
    const auto [comm, notices] = lostWhileWatched(present);
    QVERIFY(comm);
    QCOMPARE(notices->watched->serialNumber, QStringLiteral("A1"));
    const QString other = m_dir.filePath(QStringLiteral("ttyUSB1"));
    present = {usbAdapter(other, {}, "00", "1-2")};
    emit notices->appeared();
    QTRY_COMPARE(comm->AppearedElsewhere(), "a FT232R USB UART appeared as " + other);
    QVERIFY(!comm->PortOpen());
    m_refusals = 1;
    present.prepend(usbAdapter(QStringLiteral("/dev/null"), "A1"));
    emit notices->appeared();
    QTRY_VERIFY(comm->PortOpen());
    QVERIFY(m_refusals == 0 && !notices->watched && comm->AppearedElsewhere().isEmpty());
}

void CommLineTest::portKnownByItsName_data() {
    QTest::addColumn<bool>("goneFromTheList");
    QTest::newRow("the system no longer lists it") << true;
    QTest::newRow("the system says its driver was replaced") << false;
}

void CommLineTest::portKnownByItsName() {
    // A port known only by its name (a Windows COM port) whose driver never ended the last
    // connection's requests is tried again once a new driver serves it: it went from the
    // system's list, or the system said it arrived anew. While it is not listed, a port of
    // its kind that appeared under another name is named for the user.
    QFETCH(bool, goneFromTheList);
    const auto port = [](const QString& device) {
        PortInfo info;
        info.device = device;
        info.description = QStringLiteral("USB Serial Port");
        return info;
    };
    QList<PortInfo> present = {port("/dev/null")};
    const auto [comm, notices] =
        lostWhileWatched(present, [](FakeDriver& driver) { driver.requestsEnd = false; });
    QVERIFY(comm);
    const QString com8 = m_dir.filePath(QStringLiteral("COM8"));
    present = {port(com8)};
    if (!goneFromTheList) {
        present.prepend(port("/dev/null"));
        emit notices->portReplaced(QStringLiteral("/dev/null"));
    }
    m_refusals = 1; // still away: its open fails
    emit notices->appeared();
    QTRY_COMPARE(m_refusals, 0);
    QTRY_VERIFY(!comm->WaitingText().contains(QStringLiteral("has not yet ended")));
    QCOMPARE(comm->AppearedElsewhere(),
             goneFromTheList ? "a USB Serial Port appeared as " + com8 : QString());
    present = {port("/dev/null")};
    emit notices->appeared();
    QTRY_VERIFY(comm->PortOpen());
}

QTEST_GUILESS_MAIN(CommLineTest)
#include "tst_commline.moc"
