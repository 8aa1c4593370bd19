#include "mscomm.h"

#include "connectionstatus.h"
#include "devicenode.h"
#include "linecheck.h"
#include "portmapping.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <utility>

using serial::LineSettings;
using serial::StopBits;

namespace {

CommError settingNotAvailable(const QString& description) {
    return {MSComm::comSetCommStateFailed, description};
}

QSerialPort::Parity qtParity(char parity) {
    switch (parity) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

// Qt knows no 4-bit words; the rest map one to one.
std::optional<QSerialPort::DataBits> qtDataBits(int dataBits) {
    switch (dataBits) {
    case 5:
        return QSerialPort::Data5;
    case 6:
        return QSerialPort::Data6;
    case 7:
        return QSerialPort::Data7;
    case 8:
        return QSerialPort::Data8;
    default:
        return std::nullopt;
    }
}

// Qt's Unix backend takes OneAndHalfStop and quietly sets one stop bit, so it must not be
// asked for it there: termios has no 1.5 stop bits.
std::optional<QSerialPort::StopBits> qtStopBits(StopBits stopBits) {
    switch (stopBits) {
    case StopBits::One:
        return QSerialPort::OneStop;
    case StopBits::Two:
        return QSerialPort::TwoStop;
    case StopBits::OneAndHalf:
#ifdef Q_OS_WIN
        return QSerialPort::OneAndHalfStop;
#else
        return std::nullopt;
#endif
    }
    return std::nullopt;
}

int openErrorNumber(QSerialPort::SerialPortError error) {
    return error == QSerialPort::DeviceNotFoundError ? MSComm::comInvalidPortNumber
                                                     : MSComm::comPortNotAvailable;
}

// Qt also reports a read that found nothing as a ReadError, with whatever errno was left
// over: after this control's own read took the bytes that woke Qt's notifier, for instance.
// Only the descriptor tells whether the device has really gone (hung up, unplugged).
constexpr int kMostChunksPerDrain = 16; // 1 MiB

// What the user reads when a device cannot be opened: for the common failures, what to do.
QString openFailureDescription(const QString& device, QSerialPort::SerialPortError error,
                               const QString& qtText) {
    if (error != QSerialPort::PermissionError) {
        return QStringLiteral("%1: %2").arg(device, qtText);
    }
#ifdef Q_OS_UNIX
    // Qt says the same for a device the user may not open, one another program holds, and
    // one that a lock file says is held.
    if (::faccessat(AT_FDCWD, QFile::encodeName(device).constData(), R_OK | W_OK, AT_EACCESS) !=
            0 &&
        errno == EACCES) {
        return serial::permissionDescription(device, serial::inspectNode(device));
    }
#endif
    return serial::inUseDescription(device, serial::portLock(device));
}

bool deviceHungUp([[maybe_unused]] const QSerialPort& port) {
#ifdef Q_OS_UNIX
    pollfd state{static_cast<int>(port.handle()), POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&state, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready < 0 || (state.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return true;
#endif
}

// What the driver still holds to send: a real UART's queue can take seconds to empty, and
// closing the port would wait for it.
qint64 driverOutputQueue([[maybe_unused]] const QSerialPort& port) {
#ifdef Q_OS_UNIX
    int queued = 0;
    if (port.isOpen() && ::ioctl(static_cast<int>(port.handle()), TIOCOUTQ, &queued) == 0) {
        return queued;
    }
#endif
    return 0;
}

} // namespace

MSComm::MSComm(QObject* parent) : QObject(parent) {
    connect(&m_port, &QSerialPort::readyRead, this, &MSComm::readArrived);
    connect(&m_port, &QSerialPort::errorOccurred, this, &MSComm::portErrorOccurred);
    m_readPace.setSingleShot(true);
    connect(&m_readPace, &QTimer::timeout, this, &MSComm::takeWaitingBytes);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MSComm::retryLostDevice);
#ifdef Q_OS_UNIX
    // Qt then takes one byte and leaves the rest in the driver until it is read; this control
    // reads the rest itself, all at once, at its own pace (takeWaitingBytes).
    m_port.setReadBufferSize(1);
#endif
}

MSComm::~MSComm() {
    m_port.close();
}

CommError MSComm::setCommPort(int port) {
    if (PortOpen()) {
        return {comPortAlreadyOpen, QStringLiteral("Port already open")};
    }
    if (port < 1 || port > 4) {
        return {comInvalidPortNumber, QStringLiteral("Invalid port number")};
    }
    m_commPort = port;
    if (WaitingForDevice()) {
        // The user asked to be connected: to this port now, as soon as it can be opened.
        m_waitFor = WaitFor::Port;
        m_waitReason = QStringLiteral("not tried yet");
        m_notYet.clear();
        m_retry.start(0);
        emit WaitingChanged();
    }
    return {};
}

QString MSComm::Settings() const {
    return serial::settingsString(m_settings);
}

CommError MSComm::setSettings(const QString& settings) {
    if (PortOpen()) {
        return {comPortAlreadyOpen, QStringLiteral("Port already open")};
    }
    const auto parsed = serial::parseLineSettings(settings);
    if (!parsed) {
        return {comInvalidPropertyValue, QStringLiteral("Invalid property value")};
    }
    m_settings = *parsed;
    return {};
}

serial::PortChoice MSComm::portChoice(int port) const {
    return serial::lookUpPort(port, m_inventory(), m_numbersFile);
}

void MSComm::setPortInventory(serial::PortInventory inventory) {
    m_inventory = std::move(inventory);
}

void MSComm::stopWaiting() {
    m_retry.stop();
    m_waitFor = WaitFor::Nothing;
    m_notYet.clear();
}

QString MSComm::WaitingText() const {
    switch (m_waitFor) {
    case WaitFor::Device:
        return serial::waitingForDeviceText(m_opened.device, m_waitReason,
                                            serial::describeIdentity(m_opened.identity), m_notYet);
    case WaitFor::Port:
        return serial::waitingForPortText(m_commPort, m_waitReason);
    case WaitFor::Nothing:
        break;
    }
    return {};
}

qint64 MSComm::OutputPending() const {
    return m_port.isOpen() ? m_port.bytesToWrite() + driverOutputQueue(m_port) : 0;
}

CommError MSComm::setPortOpen(bool open) {
    stopWaiting();
    if (!open) {
        const bool wasOpen = PortOpen();
        if (wasOpen) {
            reportUnsent(flushOutput());
        }
        m_readPace.stop();
        m_port.close();
        m_received.clear();
        m_streamEnds.clear();
        if (wasOpen) {
            emit StreamEnded();
        }
        return {};
    }
    if (PortOpen()) {
        return {comPortAlreadyOpen, QStringLiteral("Port already open")};
    }
    return openPort();
}

CommError MSComm::openPort() {
    // Settings this platform cannot do at all are refused before the device is touched.
    if (!qtDataBits(m_settings.dataBits)) {
        return settingNotAvailable(
            QStringLiteral("%1 data bits are not supported; choose 5 to 8 data bits.")
                .arg(m_settings.dataBits));
    }
    if (!qtStopBits(m_settings.stopBits)) {
        return settingNotAvailable(
            QStringLiteral("%1 stop bits are not supported on this system; choose 1 or 2.")
                .arg(serial::stopBitsText(m_settings.stopBits)));
    }

    const QList<serial::PortInfo> present = m_inventory();
    const serial::PortChoice choice = serial::lookUpPort(m_commPort, present, m_numbersFile);
    if (choice.device.isEmpty()) {
        return {comInvalidPortNumber, serial::portSummary(m_commPort, choice)};
    }
    if (const CommError refused = refuseBeforeOpening(choice)) {
        return refused;
    }
    if (const CommError error = openDevice(choice.device)) {
        return error;
    }
    // What it is decides what may be opened for it if it goes away: a variable may name a
    // link, so the inventory is asked what is behind it.
    serial::PortInfo info;
    info.device = serial::canonicalPath(choice.device);
    for (const serial::PortInfo& port : present) {
        if (port.device == info.device) {
            info = port;
        }
    }
    m_opened.identity = serial::identityOf(info, present, choice.device);
    return {};
}

CommError MSComm::refuseBeforeOpening(const serial::PortChoice& choice) const {
    serial::PortChoice known = choice;
    if (!known.info) {
        known.info = serial::builtInUartAt(choice.device);
    }
    if (const auto why = serial::refusalBeforeOpening(m_commPort, known)) {
        return {comPortNotAvailable, *why};
    }
    // A file or a folder would only fail later, with a question about terminal settings.
    const serial::DeviceNode node = serial::inspectNode(choice.device);
    if (node.kind != serial::DeviceNode::Kind::CharacterDevice &&
        node.kind != serial::DeviceNode::Kind::Missing) {
        return {comPortNotAvailable, serial::notSerialDeviceDescription(choice.device, node.kind)};
    }
    return {};
}

CommError MSComm::openDevice(const QString& device) {
    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const CommError error{openErrorNumber(m_port.error()),
                              openFailureDescription(device, m_port.error(), m_port.errorString())};
        m_port.clearError();
        return error;
    }
    if (const CommError error = configureOpenPort(device)) {
        m_port.close();
        m_port.clearError();
        return error;
    }
    m_opened.device = device;
    m_commEvent = 0;
    return {};
}

CommError MSComm::configureOpenPort(const QString& device) {
    if (!m_port.setBaudRate(m_settings.speed)) {
        return settingNotAvailable(QStringLiteral("%1 cannot run at %2 baud: %3")
                                       .arg(device)
                                       .arg(m_settings.speed)
                                       .arg(m_port.errorString()));
    }
    if (!m_port.setDataBits(*qtDataBits(m_settings.dataBits))) {
        return settingNotAvailable(QStringLiteral("%1 cannot use %2 data bits: %3")
                                       .arg(device)
                                       .arg(m_settings.dataBits)
                                       .arg(m_port.errorString()));
    }
    if (!m_port.setParity(qtParity(m_settings.parity))) {
        return settingNotAvailable(
            QStringLiteral("%1 cannot use %2 parity: %3")
                .arg(device, serial::parityName(m_settings.parity), m_port.errorString()));
    }
    if (!m_port.setStopBits(*qtStopBits(m_settings.stopBits))) {
        return settingNotAvailable(
            QStringLiteral("%1 cannot use %2 stop bits: %3")
                .arg(device, serial::stopBitsText(m_settings.stopBits), m_port.errorString()));
    }
    if (!m_port.setFlowControl(QSerialPort::NoFlowControl)) {
        return settingNotAvailable(QStringLiteral("%1 cannot turn flow control off: %2")
                                       .arg(device, m_port.errorString()));
    }
    if (const auto mismatch = serial::lineSettingsMismatch(m_port.handle(), m_settings)) {
        return settingNotAvailable(QStringLiteral("%1: %2").arg(device, *mismatch));
    }
    return {};
}

CommError MSComm::setOutput(const QByteArray& data) {
    if (!PortOpen()) {
        return {comPortNotOpen, QStringLiteral("Operation valid only when the port is open")};
    }
    if (m_port.write(data) != data.size()) {
        return {comWriteFailed, m_port.errorString()};
    }
    return {};
}

qsizetype MSComm::beforeStreamEnd() const {
    return m_streamEnds.empty() ? m_received.size() : m_streamEnds.front().at;
}

QByteArray MSComm::Input() {
    if (PortOpen() && m_streamEnds.empty() && m_received.size() < kPortion) {
        if (const QString lost = drainPort(); !lost.isEmpty()) {
            deviceGone(lost);
        }
    }
    const qsizetype count = std::min(beforeStreamEnd(), kPortion);
    QByteArray portion = m_received.first(count);
    m_received.remove(0, count);
    for (StreamEnd& end : m_streamEnds) {
        end.at -= count;
    }
    return portion;
}

void MSComm::holdEvents() {
    ++m_holdDepth;
}

void MSComm::releaseEvents() {
    if (m_holdDepth > 0 && --m_holdDepth == 0) {
        // Raised once the handler that held them has returned, as if they had just arrived.
        QMetaObject::invokeMethod(this, &MSComm::raiseWaitingEvents, Qt::QueuedConnection);
    }
}

bool MSComm::raiseReceive() {
    const qsizetype waiting = beforeStreamEnd();
    m_commEvent = comEvReceive;
    emit OnComm();
    const qsizetype left = beforeStreamEnd();
    if (left == 0 || left >= waiting) {
        return false;
    }
    QMetaObject::invokeMethod(this, &MSComm::raiseWaitingEvents, Qt::QueuedConnection);
    return true;
}

void MSComm::raiseWaitingEvents() {
    if (m_holdDepth > 0) {
        return;
    }
    if (m_dropped > 0) {
        emit StreamEnded();
        emit InputDropped(std::exchange(m_dropped, 0));
    }
    const bool portHasMore = PortOpen() && m_streamEnds.empty() && m_port.bytesAvailable() > 0;
    if (beforeStreamEnd() > 0 || portHasMore) {
        if (raiseReceive()) {
            return; // a loss waits until everything before it was handed over
        }
    }
    if (m_streamEnds.empty() || m_streamEnds.front().at > 0) {
        return;
    }
    const StreamEnd end = m_streamEnds.front();
    m_streamEnds.pop_front();
    emit StreamEnded();
    if (!end.lostReason.isEmpty()) {
        emit PortLost(end.lostReason);
    }
    if (end.reopened) {
        emit Reconnected();
    }
    if (!m_received.isEmpty() || !m_streamEnds.empty()) {
        // What came after the reopen is a new stream, handed over once the window has had
        // its turn.
        QMetaObject::invokeMethod(this, &MSComm::raiseWaitingEvents, Qt::QueuedConnection);
    }
}

void MSComm::readArrived() {
    const qint64 since = m_sinceRead.isValid() ? m_sinceRead.elapsed() : kReadPaceMs;
    if (since >= kReadPaceMs || m_lastReadWasMuch) {
        takeWaitingBytes();
    } else if (!m_readPace.isActive()) {
        m_readPace.start(int(kReadPaceMs - since));
    }
}

void MSComm::takeWaitingBytes() {
    m_readPace.stop();
    if (!PortOpen()) {
        return;
    }
    m_sinceRead.start();
    const qsizetype before = m_received.size();
    // A backlog still being handed over goes first; meanwhile the driver holds what comes.
    if (m_holdDepth > 0 || before < kPortion) {
        if (const QString lost = drainPort(); !lost.isEmpty()) {
            deviceGone(lost);
        }
    }
    m_lastReadWasMuch = m_received.size() - before >= kMuchWaiting;
    if (m_holdDepth > 0) {
        keepNewestHeld();
        return;
    }
    if (!m_received.isEmpty()) {
        raiseWaitingEvents();
    }
}

void MSComm::keepNewestHeld() {
    if (m_received.size() > kHeldLimit) {
        const qsizetype excess = m_received.size() - kHeldLimit;
        m_received.remove(0, excess);
        m_dropped += excess;
        for (StreamEnd& end : m_streamEnds) {
            end.at = std::max<qsizetype>(end.at - excess, 0);
        }
    }
}

QString MSComm::drainPort() {
    // What Qt holds came first; reading it lets Qt watch the port again once this returns.
    m_received += m_port.readAll();
#ifdef Q_OS_UNIX
    const int handle = static_cast<int>(m_port.handle());
    char chunk[65536];
    // A device that writes as fast as this reads would otherwise keep one drain going.
    for (int chunks = 0; chunks < kMostChunksPerDrain; ++chunks) {
        const ssize_t n = ::read(handle, chunk, sizeof chunk);
        if (n > 0) {
            m_received.append(chunk, n);
            // A device still sending keeps a read busy with crumbs; what comes meanwhile is
            // taken at the next pace, unless this read filled the whole chunk.
            if (n < ssize_t(sizeof chunk)) {
                break;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // 0: nothing more now (the line is set to return at once); EIO and the like: the
        // device hung up or the adapter was unplugged.
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return serial::readFailedText(QString::fromLocal8Bit(std::strerror(errno)));
        }
        break;
    }
#endif
    return {};
}

qint64 MSComm::flushOutput() {
    const qint64 total = OutputPending();
    if (total == 0) {
        return 0;
    }
    const qint64 lineMs = serial::transmitMilliseconds(total, m_settings);
    const QDeadlineTimer deadline(std::min<qint64>(lineMs * 3 / 2 + 250, kLongestFlushMs));
    // Whatever the device sends meanwhile is kept for nobody: the port is closing. No event
    // is raised inside the handler that closes. The event loop runs, so Qt hands its queue to
    // the driver and the window stays alive.
    m_flushing = true;
    m_flushCancelled = false;
    ++m_holdDepth;
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer tick;
    connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start(kFlushTickMs);
    while (PortOpen() && OutputPending() > 0 && !deadline.hasExpired() && !m_flushCancelled) {
        loop.exec();
        emit FlushProgress(OutputPending(), total, elapsed.elapsed());
    }
    --m_holdDepth;
    m_flushing = false;
    const qint64 unsent = OutputPending();
    if (driverOutputQueue(m_port) > 0) {
        // Else closing would wait for the driver to send it, 30 s for a UART by default.
        // (A pseudo-terminal says it holds nothing: what it holds is the device's to read.)
        m_port.clear(QSerialPort::Output);
    }
    return unsent;
}

void MSComm::reportUnsent(qint64 unsent) {
    if (unsent > 0) {
        emit SendFailed(
            QStringLiteral("%1 bytes could not be sent before the port closed.").arg(unsent));
    }
}

void MSComm::portErrorOccurred(QSerialPort::SerialPortError error) {
    if (m_flushing) {
        return;
    }
    if (error == QSerialPort::WriteError) {
        emit SendFailed(m_port.errorString());
    }
    // An unplugged adapter shows as ResourceError; a pseudo-terminal whose other end closed
    // raises ReadError again and again until the port is closed.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError) {
        return;
    }
    if (!PortOpen() || deviceHungUp(m_port)) {
        deviceGone(serial::deviceHungUpText());
        return;
    }
    m_port.clearError(); // nothing was lost: the port goes on
}

void MSComm::deviceGone(const QString& reason) {
    if (!PortOpen() || m_closingLostPort) {
        return;
    }
    // Closing inside Qt's own read notification is not safe; close once, right after it.
    m_closingLostPort = true;
    m_lostReason = reason;
    QMetaObject::invokeMethod(this, &MSComm::closeLostPort, Qt::QueuedConnection);
}

void MSComm::closeLostPort() {
    m_closingLostPort = false;
    if (!PortOpen()) {
        return;
    }
    // What arrived before the device went away is still shown and captured; what was still
    // to be sent can no longer go.
    (void)drainPort();
    reportUnsent(m_port.bytesToWrite());
    m_readPace.stop();
    m_port.close();
    m_port.clearError();
    // Of what the program saw, the node being gone says most.
    QString reason = std::exchange(m_lostReason, {});
    if (!QFileInfo::exists(m_opened.device)) {
        reason = serial::deviceNodeGoneText(m_opened.device);
    }
    m_streamEnds.push_back({m_received.size(), reason, false});
    if (m_opened.identity.kind == serial::DeviceIdentity::Kind::None) {
        // Nothing tells it from the next terminal that gets its number.
        m_streamEnds.back().lostReason = serial::notReopenedText(m_opened.device, reason);
    } else {
        m_waitFor = WaitFor::Device;
        m_waitReason = reason;
        m_notYet.clear();
        m_retry.start(kFirstRetryMs);
    }
    raiseWaitingEvents();
}

void MSComm::setNotYet(const QString& notYet) {
    if (std::exchange(m_notYet, notYet) != notYet) {
        emit WaitingChanged();
    }
}

void MSComm::retryLostDevice() {
    if (m_waitFor == WaitFor::Port) {
        if (const CommError error = openPort()) {
            if (std::exchange(m_waitReason, error.description) != error.description) {
                emit WaitingChanged();
            }
            m_retry.start(kRetryMs);
            return;
        }
    } else {
        // Only the device that went away: whatever its port number maps to meanwhile, or
        // whatever else now has its path, is not asked.
        const serial::Reopening back =
            serial::whereToReopen(m_opened.identity, m_inventory(), serial::canonicalPath);
        setNotYet(back.notYet);
        if (back.device.isEmpty() || openDevice(back.device)) {
            m_retry.start(kRetryMs);
            return;
        }
    }
    m_waitFor = WaitFor::Nothing;
    m_notYet.clear();
    if (!m_streamEnds.empty()) {
        m_streamEnds.back().reopened = true; // told after the loss, once the box is closed
        return;
    }
    emit Reconnected();
}
