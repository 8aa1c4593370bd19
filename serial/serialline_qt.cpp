// The serial line through Qt Serial Port.
#include "connectionstatus.h"
#include "devicenode.h"
#include "linecheck.h"
#include "serialline.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSerialPort>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace serial {

namespace {

CommError settingNotAvailable(const QString& description) {
    return {CommError::comSetCommStateFailed, description};
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

// As Qt Serial Port takes the errors of opening a device: the same words for the same cause,
// whether the device was opened here or ahead of the line.
QSerialPort::SerialPortError openErrorKind([[maybe_unused]] long error) {
#ifdef Q_OS_UNIX
    switch (error) {
    case ENODEV:
    case ENOENT:
        return QSerialPort::DeviceNotFoundError;
    case EACCES:
    case EBUSY:
        return QSerialPort::PermissionError;
    default:
        break;
    }
#endif
    return QSerialPort::OpenError;
}

int openErrorNumber(QSerialPort::SerialPortError error) {
    return error == QSerialPort::DeviceNotFoundError ? CommError::comInvalidPortNumber
                                                     : CommError::comPortNotAvailable;
}

// Qt also reports a read that found nothing as an error (ReadError, or ResourceError for
// EAGAIN), with whatever errno was left over: after this control's own read took the bytes
// that woke Qt's notifier, for instance. Only the descriptor tells whether the device has
// really gone (hung up, unplugged).

// A terminal device hands over what it holds a piece at a time: a read goes on until it has
// nothing or has taken a terminal's buffer (4 KB), which the control takes for much and
// follows with another read at once; a device still sending leaves crumbs, a few at most.
constexpr qsizetype kMostPerRead = 4 << 10;
constexpr int kMostChunksPerDrain = 16;

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
        return permissionDescription(device, inspectNode(device));
    }
#endif
    return inUseDescription(device, portLock(device));
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

// What can still be in the hardware when the driver's queue is empty: a UART's FIFO, a USB
// adapter's buffer.
constexpr qint64 kHardwareHeld = 4096;

class QtSerialLine : public SerialLine {
public:
    QtSerialLine() {
        connect(&m_port, &QSerialPort::readyRead, this, &SerialLine::readyRead);
        connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialLine::portErrorOccurred);
#ifdef Q_OS_UNIX
        // Qt then takes one byte and leaves the rest in the driver until it is read; the
        // control reads the rest itself, all at once, at its own pace (read()).
        m_port.setReadBufferSize(1);
#endif
    }

    CommError open(const QString& device, const LineSettings& settings,
                   ReachedDevice reached) override {
        if (!reached.reached() && reached.error() != 0) {
            // Opening again would take as long as the first time: a Bluetooth port whose
            // device is off.
            const QSerialPort::SerialPortError kind = openErrorKind(reached.error());
            return {openErrorNumber(kind),
                    openFailureDescription(
                        device, kind, QString::fromLocal8Bit(std::strerror(int(reached.error()))))};
        }
        // While the device is held open ahead of the line, Qt's own open of it is quick.
        m_port.setPortName(device);
        if (!m_port.open(QIODevice::ReadWrite)) {
            const CommError error{
                openErrorNumber(m_port.error()),
                openFailureDescription(device, m_port.error(), m_port.errorString())};
            m_port.clearError();
            return error;
        }
        if (const CommError error = configure(device, settings)) {
            m_port.close();
            m_port.clearError();
            return error;
        }
        m_settings = settings;
        m_wroteSinceDrain = false;
        if (!drained()) {
            m_stuckDrains.push_back(std::move(m_drain));
        }
        m_drain.reset();
        return {};
    }

    void close() override {
        m_port.close();
        m_port.clearError();
    }

    bool isOpen() const override {
        return m_port.isOpen();
    }

    QString write(const QByteArray& bytes) override {
        m_wroteSinceDrain = true;
        return m_port.write(bytes) == bytes.size() ? QString() : m_port.errorString();
    }

    qint64 pendingOutput() const override {
        return m_port.isOpen() ? m_port.bytesToWrite() + driverOutputQueue(m_port) : 0;
    }

    void discardOutput() override {
        // A pseudo-terminal says it holds nothing: what it holds is the device's to read. A
        // drain that has not ended waits for bytes the hardware still holds: they go too.
        if (driverOutputQueue(m_port) > 0 || !drained()) {
            m_port.clear(QSerialPort::Output);
        }
    }

    bool drainDue() const override {
        return m_port.isOpen() && m_wroteSinceDrain;
    }
    qint64 startDrain() override;
    bool drained() const override {
        return !m_drain || m_drain->ended;
    }

    QString read(QByteArray& into) override;

    bool hasInput() const override {
        return m_port.isOpen() && m_port.bytesAvailable() > 0;
    }

private:
    CommError configure(const QString& device, const LineSettings& settings);
    void portErrorOccurred(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    LineSettings m_settings;
    bool m_wroteSinceDrain = false;
    // The drain of this open's close. Its thread waits in the driver on a descriptor of its
    // own, so that the port can close while a driver that never ends the wait keeps it.
    struct Drain {
        std::atomic<bool> ended = false;
        dev_t device = 0;
        QDeadlineTimer bound; // when the bytes it waits for should have gone, at the line's speed
    };
    std::shared_ptr<Drain> m_drain;
    std::vector<std::shared_ptr<Drain>> m_stuckDrains; // of earlier opens, not ended yet
};

qint64 QtSerialLine::startDrain() {
#ifdef Q_OS_UNIX
    if (!drainDue()) {
        return 0;
    }
    m_wroteSinceDrain = false;
    const int handle = static_cast<int>(m_port.handle());
    struct stat node {};
    if (::fstat(handle, &node) != 0) {
        return 0;
    }
    // One drain the driver never ended is enough for a device: another would wait for the
    // same queue, one more thread each time. One still within its bound may only be slow (a
    // low speed, a close the user cancelled): the bytes written since are drained as well.
    std::erase_if(m_stuckDrains, [](const auto& drain) { return drain->ended.load(); });
    for (const auto& stuck : m_stuckDrains) {
        if (stuck->device == node.st_rdev && stuck->bound.hasExpired()) {
            return 0;
        }
    }
    const int copy = ::fcntl(handle, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        return 0;
    }
    const qint64 boundMs =
        transmitMilliseconds(driverOutputQueue(m_port) + kHardwareHeld, m_settings) + 100;
    m_drain = std::make_shared<Drain>();
    m_drain->device = node.st_rdev;
    m_drain->bound.setRemainingTime(boundMs);
    // Detached: tcflush does not end a drain in drivers without a flush hook (the USB serial
    // core's among them), and the program must be able to close the port and end meanwhile.
    std::thread([drain = m_drain, copy] {
        while (::tcdrain(copy) != 0 && errno == EINTR) {
        }
        ::close(copy);
        drain->ended = true;
    }).detach();
    return boundMs;
#else
    return 0;
#endif
}

CommError QtSerialLine::configure(const QString& device, const LineSettings& settings) {
    if (!m_port.setBaudRate(settings.speed)) {
        return settingNotAvailable(QStringLiteral("%1 cannot run at %2 baud: %3")
                                       .arg(device)
                                       .arg(settings.speed)
                                       .arg(m_port.errorString()));
    }
    if (!m_port.setDataBits(*qtDataBits(settings.dataBits))) {
        return settingNotAvailable(QStringLiteral("%1 cannot use %2 data bits: %3")
                                       .arg(device)
                                       .arg(settings.dataBits)
                                       .arg(m_port.errorString()));
    }
    if (!m_port.setParity(qtParity(settings.parity))) {
        return settingNotAvailable(
            QStringLiteral("%1 cannot use %2 parity: %3")
                .arg(device, parityName(settings.parity), m_port.errorString()));
    }
    if (!m_port.setStopBits(*qtStopBits(settings.stopBits))) {
        return settingNotAvailable(
            QStringLiteral("%1 cannot use %2 stop bits: %3")
                .arg(device, stopBitsText(settings.stopBits), m_port.errorString()));
    }
    if (!m_port.setFlowControl(QSerialPort::NoFlowControl)) {
        return settingNotAvailable(QStringLiteral("%1 cannot turn flow control off: %2")
                                       .arg(device, m_port.errorString()));
    }
    if (const auto mismatch = lineSettingsMismatch(m_port.handle(), settings)) {
        return settingNotAvailable(QStringLiteral("%1: %2").arg(device, *mismatch));
    }
    return {};
}

QString QtSerialLine::read(QByteArray& into) {
    // What Qt holds came first; reading it lets Qt watch the port again once this returns.
    into += m_port.readAll();
#ifdef Q_OS_UNIX
    const int handle = static_cast<int>(m_port.handle());
    char chunk[65536];
    // A device that writes as fast as this reads would otherwise keep one drain going.
    for (qsizetype taken = 0, chunks = 0; chunks < kMostChunksPerDrain && taken < kMostPerRead;
         ++chunks) {
        const ssize_t n = ::read(handle, chunk, sizeof chunk);
        if (n > 0) {
            into.append(chunk, n);
            taken += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // 0: nothing more now (the line is set to return at once); EIO and the like: the
        // device hung up or the adapter was unplugged.
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return readFailedText(QString::fromLocal8Bit(std::strerror(errno)));
        }
        break;
    }
#endif
    return {};
}

void QtSerialLine::portErrorOccurred(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::WriteError) {
        emit writeFailed(m_port.errorString());
    }
    // An unplugged adapter shows as ResourceError; a pseudo-terminal whose other end closed
    // raises ReadError again and again until the port is closed.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError) {
        return;
    }
    if (!m_port.isOpen() || deviceHungUp(m_port)) {
        emit lost(deviceHungUpText());
        return;
    }
    // Nothing was lost: the port goes on. Qt stops watching the port after such an error;
    // a read of its empty buffer makes it watch again, else the port would go deaf.
    m_port.clearError();
    if (m_port.bytesAvailable() == 0) {
        (void)m_port.readAll();
    }
}

} // namespace

std::unique_ptr<SerialLine> makeSerialLine() {
    return std::make_unique<QtSerialLine>();
}

ReachedDevice reachDevice([[maybe_unused]] const QString& device) {
#ifdef Q_OS_UNIX
    int handle = -1;
    do {
        handle = ::open(QFile::encodeName(device).constData(),
                        O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (handle < 0 && errno == EINTR);
    return {handle, handle < 0 ? errno : 0};
#else
    return {};
#endif
}

void ReachedDevice::release() {
#ifdef Q_OS_UNIX
    if (m_handle != kNone) {
        ::close(int(m_handle));
    }
#endif
    m_handle = kNone;
}

std::optional<CommError> settingsRefused(const LineSettings& settings) {
    if (!qtDataBits(settings.dataBits)) {
        return settingNotAvailable(
            QStringLiteral("%1 data bits are not supported; choose 5 to 8 data bits.")
                .arg(settings.dataBits));
    }
    if (!qtStopBits(settings.stopBits)) {
        return settingNotAvailable(
            QStringLiteral("%1 stop bits are not supported on this system; choose 1 or 2.")
                .arg(stopBitsText(settings.stopBits)));
    }
    return std::nullopt;
}

} // namespace serial
