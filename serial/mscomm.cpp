#include "mscomm.h"

#include "connectionstatus.h"
#include "linecheck.h"
#include "portmapping.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
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
#ifdef Q_OS_UNIX
    if (error == QSerialPort::PermissionError) {
        // Qt says the same for a device the user may not open and one another program holds.
        const QByteArray path = QFile::encodeName(device);
        if (::access(path.constData(), R_OK | W_OK) != 0 && errno == EACCES) {
            QString groupName;
            struct stat node {};
            if (::stat(path.constData(), &node) == 0) {
                if (const struct group* owner = ::getgrgid(node.st_gid)) {
                    groupName = QString::fromLocal8Bit(owner->gr_name);
                }
            }
            return serial::permissionDescription(device, groupName);
        }
        return serial::inUseDescription(device);
    }
#else
    if (error == QSerialPort::PermissionError) {
        return serial::inUseDescription(device);
    }
#endif
    return QStringLiteral("%1: %2").arg(device, qtText);
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
    stopWaiting();
    m_commPort = port;
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
    stopWaiting();
    m_settings = *parsed;
    return {};
}

serial::PortChoice MSComm::portChoice(int port) const {
    return serial::choosePort(port, serial::processEnvironment, m_inventory);
}

void MSComm::setPortInventory(serial::PortInventory inventory) {
    m_inventory = std::move(inventory);
}

void MSComm::stopWaiting() {
    m_retry.stop();
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

    const serial::PortChoice choice = portChoice(m_commPort);
    if (const CommError refused = refuseBeforeOpening(choice)) {
        return refused;
    }
    return openDevice(choice.device, choice.info ? choice.info->serialNumber : QString());
}

CommError MSComm::refuseBeforeOpening(const serial::PortChoice& choice) const {
    serial::PortChoice known = choice;
    if (!known.info) {
        known.info = serial::builtInUartAt(choice.device);
    }
    if (const auto why = serial::refusalBeforeOpening(m_commPort, known)) {
        return {comPortNotAvailable, *why};
    }
    return {};
}

CommError MSComm::openDevice(const QString& device, const QString& serialNumber) {
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
    m_opened = {device, serialNumber};
    m_received.clear();
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

QByteArray MSComm::Input() {
    if (PortOpen() && m_received.size() < kPortion) {
        if (const QString lost = drainPort(); !lost.isEmpty()) {
            deviceGone(lost);
        }
    }
    if (m_received.size() <= kPortion) {
        return std::exchange(m_received, {});
    }
    QByteArray portion = m_received.first(kPortion);
    m_received.remove(0, kPortion);
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
    const qsizetype waiting = m_received.size();
    m_commEvent = comEvReceive;
    emit OnComm();
    if (m_received.isEmpty() || m_received.size() >= waiting) {
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
    if (!m_received.isEmpty() || (PortOpen() && m_port.bytesAvailable() > 0)) {
        if (raiseReceive()) {
            return; // a loss waits until everything before it was handed over
        }
    }
    if (!m_lostReason.isEmpty()) {
        emit StreamEnded();
        emit PortLost(std::exchange(m_lostReason, {}));
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
        (void)raiseReceive();
    }
}

void MSComm::keepNewestHeld() {
    if (m_received.size() > kHeldLimit) {
        const qsizetype excess = m_received.size() - kHeldLimit;
        m_received.remove(0, excess);
        m_dropped += excess;
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
            return QString::fromLocal8Bit(std::strerror(errno));
        }
        break;
    }
#endif
    return {};
}

qint64 MSComm::flushOutput() {
    if (m_port.bytesToWrite() == 0) {
        return 0;
    }
    const qint64 lineMs = serial::transmitMilliseconds(m_port.bytesToWrite(), m_settings);
    const QDeadlineTimer deadline(std::min<qint64>(lineMs * 3 / 2 + 250, kLongestFlushMs));
    // Whatever the device sends meanwhile is kept for nobody: the port is closing. No event
    // is raised inside the handler that closes.
    m_flushing = true;
    ++m_holdDepth;
    while (m_port.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!m_port.waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 1)))) {
            // Qt also gives up when its one-byte read buffer is full: empty it and go on.
            const auto error = m_port.error();
            if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError) {
                break;
            }
            m_port.clearError();
            (void)m_port.readAll();
        }
    }
    --m_holdDepth;
    m_flushing = false;
    return m_port.bytesToWrite();
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
        deviceGone(m_port.errorString());
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
        m_lostReason.clear();
        return;
    }
    // What arrived before the device went away is still shown and captured; what was still
    // to be sent can no longer go.
    (void)drainPort();
    reportUnsent(m_port.bytesToWrite());
    m_readPace.stop();
    m_port.close();
    m_port.clearError();
    if (m_lostReason.isEmpty()) {
        m_lostReason = QStringLiteral("The device is no longer available.");
    }
    m_retry.start(kFirstRetryMs);
    raiseWaitingEvents();
}

void MSComm::retryLostDevice() {
    // Not while a box holds the events, nor before the loss itself has been told.
    if (m_holdDepth > 0 || !m_lostReason.isEmpty()) {
        m_retry.start(kRetryMs);
        return;
    }
    // An adapter with a serial number may come back under another name; one without is
    // looked for where it was. Whatever the port number maps to meanwhile is not asked.
    QString device = m_opened.device;
    if (!m_opened.serialNumber.isEmpty()) {
        device.clear();
        for (const serial::PortInfo& port : m_inventory()) {
            if (port.serialNumber == m_opened.serialNumber) {
                device = port.device;
            }
        }
    }
    if (!device.isEmpty() && QFileInfo::exists(device) &&
        !openDevice(device, m_opened.serialNumber)) {
        m_retry.stop();
        emit Reconnected();
        return;
    }
    m_retry.start(kRetryMs);
}
