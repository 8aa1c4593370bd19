// The serial line through the Win32 communications API: a COM port opened for overlapped
// I/O, a read always waiting on it and a write queue, both completed through the event loop
// (QWinEventNotifier on their events).
#include "connectionstatus.h"
#include "serialline.h"

#include <QWinEventNotifier>

#include <windows.h>

namespace serial {

namespace {

constexpr DWORD kReadChunk = 64 * 1024;
// A read waits for the first byte, then ends at a pause of kReadPauseMs in what comes, or
// after kReadWaitMs in all (a stream without pauses); an empty one is simply asked again.
// (The timeouts that end a read at the first byte, MAXDWORD and MAXDWORD, never end under
// Wine, and a read that lasts until a pause alone would hold a steady stream back.)
constexpr DWORD kReadPauseMs = 20;
constexpr DWORD kReadWaitMs = 200;

QString systemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString message = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                                       : QStringLiteral("error %1").arg(error);
    ::LocalFree(text);
    return message;
}

BYTE parityCode(char parity) {
    switch (parity) {
    case 'E':
        return EVENPARITY;
    case 'M':
        return MARKPARITY;
    case 'O':
        return ODDPARITY;
    case 'S':
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

BYTE stopBitsCode(StopBits stopBits) {
    switch (stopBits) {
    case StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case StopBits::Two:
        return TWOSTOPBITS;
    case StopBits::One:
        break;
    }
    return ONESTOPBIT;
}

class WinSerialLine : public SerialLine {
public:
    WinSerialLine() {
        m_read.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_write.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_readDone.setHandle(m_read.hEvent);
        m_writeDone.setHandle(m_write.hEvent);
        connect(&m_readDone, &QWinEventNotifier::activated, this, &WinSerialLine::readDone);
        connect(&m_writeDone, &QWinEventNotifier::activated, this, &WinSerialLine::writeDone);
        m_chunk.resize(kReadChunk);
    }

    ~WinSerialLine() override {
        close();
        ::CloseHandle(m_read.hEvent);
        ::CloseHandle(m_write.hEvent);
    }

    CommError open(const QString& device, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_handle != INVALID_HANDLE_VALUE; }

    QString write(const QByteArray& bytes) override {
        if (!isOpen()) {
            return QStringLiteral("The port is not open.");
        }
        m_queue += bytes;
        if (!m_writing) {
            startWrite();
        }
        return {};
    }

    qint64 pendingOutput() const override {
        if (!isOpen()) {
            return 0;
        }
        // While a write is on its way its bytes count as queued here, not in the driver too.
        DWORD errors = 0;
        COMSTAT state{};
        const qint64 driver =
            !m_writing && ::ClearCommError(m_handle, &errors, &state) ? state.cbOutQue : 0;
        return m_sending.size() + m_queue.size() + driver;
    }

    void discardOutput() override {
        if (isOpen()) {
            ::PurgeComm(m_handle, PURGE_TXABORT | PURGE_TXCLEAR);
        }
    }

    QString read(QByteArray& into) override {
        into += std::exchange(m_received, {});
        return std::exchange(m_lostReason, {});
    }

    bool hasInput() const override { return !m_received.isEmpty(); }

private:
    CommError configure(const QString& device, const LineSettings& settings);
    void startRead();
    void readDone();
    void startWrite();
    void writeDone();
    void deviceFailed(DWORD error);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    OVERLAPPED m_read{};
    OVERLAPPED m_write{};
    QWinEventNotifier m_readDone;
    QWinEventNotifier m_writeDone;
    QByteArray m_chunk;    // what the waiting read fills
    QByteArray m_received; // what came, not yet taken
    QByteArray m_sending;  // on its way: left alone until the write has ended
    QByteArray m_queue;    // to follow it
    bool m_reading = false;
    bool m_writing = false;
    QString m_lostReason;
};

CommError WinSerialLine::open(const QString& device, const LineSettings& settings) {
    const QString path = QStringLiteral("\\\\.\\") + device;
    m_handle =
        ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                      0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            return {CommError::comPortNotAvailable, inUseDescription(device, std::nullopt)};
        }
        const bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return {absent ? CommError::comInvalidPortNumber : CommError::comPortNotAvailable,
                QStringLiteral("%1: %2").arg(device, systemMessage(error))};
    }
    if (const CommError error = configure(device, settings)) {
        ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return error;
    }
    m_lostReason.clear();
    m_readDone.setEnabled(true);
    m_writeDone.setEnabled(true);
    startRead();
    return {};
}

CommError WinSerialLine::configure(const QString& device, const LineSettings& settings) {
    DCB line{};
    line.DCBlength = sizeof line;
    if (!::GetCommState(m_handle, &line)) {
        return {CommError::comSetCommStateFailed,
                QStringLiteral("%1: %2").arg(device, systemMessage(::GetLastError()))};
    }
    // Raw bytes, no flow control, the modem lines up as a terminal keeps them.
    line.fBinary = TRUE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fDsrSensitivity = FALSE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fAbortOnError = FALSE;
    // One setting at a time, each read back at once: the setting a driver refuses, or takes
    // and quietly runs otherwise, is the one named.
    struct Step {
        QString what;
        void (*set)(DCB&, const LineSettings&);
        bool (*took)(const DCB&, const LineSettings&);
    };
    const Step steps[] = {
        {QStringLiteral("run at %1 baud").arg(settings.speed),
         [](DCB& d, const LineSettings& s) { d.BaudRate = DWORD(s.speed); },
         [](const DCB& d, const LineSettings& s) {
             return d.BaudRate == DWORD(s.speed);
         }},
        {QStringLiteral("use %1 data bits").arg(settings.dataBits),
         [](DCB& d, const LineSettings& s) { d.ByteSize = BYTE(s.dataBits); },
         [](const DCB& d, const LineSettings& s) {
             return d.ByteSize == s.dataBits;
         }},
        {QStringLiteral("use %1 parity").arg(parityName(settings.parity)),
         [](DCB& d, const LineSettings& s) {
             d.Parity = parityCode(s.parity);
             d.fParity = s.parity != 'N';
         },
         [](const DCB& d, const LineSettings& s) {
             return d.Parity == parityCode(s.parity);
         }},
        {QStringLiteral("use %1 stop bits").arg(stopBitsText(settings.stopBits)),
         [](DCB& d, const LineSettings& s) { d.StopBits = stopBitsCode(s.stopBits); },
         [](const DCB& d, const LineSettings& s) {
             return d.StopBits == stopBitsCode(s.stopBits);
         }},
    };
    for (const Step& step : steps) {
        step.set(line, settings);
        if (!::SetCommState(m_handle, &line)) {
            // Some drivers refuse without saying why.
            const DWORD error = ::GetLastError();
            return {CommError::comSetCommStateFailed,
                    QStringLiteral("%1 cannot %2").arg(device, step.what) +
                        (error != ERROR_SUCCESS ? ": " + systemMessage(error) : ".")};
        }
        DCB actual{};
        actual.DCBlength = sizeof actual;
        if (::GetCommState(m_handle, &actual) && !step.took(actual, settings)) {
            const QString driverSpeed =
                actual.BaudRate != line.BaudRate
                    ? QStringLiteral(" (the driver set %1 baud)").arg(actual.BaudRate)
                    : QString();
            return {
                CommError::comSetCommStateFailed,
                QStringLiteral("%1: The port cannot %2%3.").arg(device, step.what, driverSpeed)};
        }
    }
    // A read waits for the first byte, then ends at a pause or after a while in all.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kReadPauseMs;
    timeouts.ReadTotalTimeoutConstant = kReadWaitMs;
    if (!::SetCommTimeouts(m_handle, &timeouts)) {
        return {CommError::comPortNotAvailable,
                QStringLiteral("%1: %2").arg(device, systemMessage(::GetLastError()))};
    }
    return {};
}

void WinSerialLine::close() {
    if (!isOpen()) {
        return;
    }
    m_readDone.setEnabled(false);
    m_writeDone.setEnabled(false);
    ::PurgeComm(m_handle, PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR);
    ::CancelIo(m_handle);
    // The buffers of the operations stay in use until they have ended.
    DWORD done = 0;
    if (m_reading) {
        ::GetOverlappedResult(m_handle, &m_read, &done, TRUE);
    }
    if (m_writing) {
        ::GetOverlappedResult(m_handle, &m_write, &done, TRUE);
    }
    ::CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    m_reading = m_writing = false;
    ::ResetEvent(m_read.hEvent);
    ::ResetEvent(m_write.hEvent);
    m_sending.clear();
    m_queue.clear();
    m_received.clear();
}

void WinSerialLine::startRead() {
    // Whether it ends at once or later, the event says so and readDone() takes the bytes.
    m_reading = true;
    if (!::ReadFile(m_handle, m_chunk.data(), kReadChunk, nullptr, &m_read) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        m_reading = false;
        deviceFailed(::GetLastError());
    }
}

void WinSerialLine::readDone() {
    if (!isOpen() || !m_reading) {
        ::ResetEvent(m_read.hEvent);
        return;
    }
    DWORD count = 0;
    m_reading = false;
    // A read that timed out is no failure (Wine says ERROR_TIMEOUT where Windows says
    // nothing); what it read is kept.
    if (!::GetOverlappedResult(m_handle, &m_read, &count, FALSE) &&
        ::GetLastError() != ERROR_TIMEOUT) {
        deviceFailed(::GetLastError());
        return;
    }
    if (count > 0) {
        m_received.append(m_chunk.constData(), qsizetype(count));
    }
    startRead();
    if (count > 0) {
        emit readyRead();
    }
}

void WinSerialLine::startWrite() {
    m_sending = std::exchange(m_queue, {});
    m_writing = true;
    if (!::WriteFile(m_handle, m_sending.constData(), DWORD(m_sending.size()), nullptr, &m_write) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        const DWORD error = ::GetLastError();
        m_writing = false;
        m_sending.clear();
        emit writeFailed(systemMessage(error));
    }
}

void WinSerialLine::writeDone() {
    if (!isOpen() || !m_writing) {
        ::ResetEvent(m_write.hEvent);
        return;
    }
    DWORD count = 0;
    m_writing = false;
    const bool written = ::GetOverlappedResult(m_handle, &m_write, &count, FALSE);
    const DWORD error = written ? DWORD(ERROR_SUCCESS) : ::GetLastError();
    ::ResetEvent(m_write.hEvent);
    if (!written) {
        m_sending.clear();
        if (error != ERROR_OPERATION_ABORTED) {
            emit writeFailed(systemMessage(error));
        }
        return;
    }
    m_queue.prepend(m_sending.mid(qsizetype(count)));
    m_sending.clear();
    if (!m_queue.isEmpty()) {
        startWrite();
    }
}

void WinSerialLine::deviceFailed(DWORD error) {
    ::ResetEvent(m_read.hEvent);
    if (error == ERROR_OPERATION_ABORTED && !isOpen()) {
        return;
    }
    // An unplugged adapter takes its port with it: every read fails from then on.
    if (m_lostReason.isEmpty()) {
        m_lostReason = readFailedText(systemMessage(error));
        emit lost(m_lostReason);
    }
}

} // namespace

std::unique_ptr<SerialLine> makeSerialLine() {
    return std::make_unique<WinSerialLine>();
}

std::optional<CommError> settingsRefused(const LineSettings&) {
    return std::nullopt; // every setting goes to the driver, which says what it cannot do
}

} // namespace serial
