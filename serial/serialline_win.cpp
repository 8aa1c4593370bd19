// The serial line through the Win32 communications API: a COM port opened for overlapped I/O,
// served by a thread of its own that keeps a read waiting on it and writes what is queued, and
// hands what it read, and what it saw, to the event loop.
#include "connectionstatus.h"
#include "serialline.h"

#include <QMetaObject>

#include <atomic>
#include <mutex>
#include <thread>
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
    WinSerialLine() : m_wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    ~WinSerialLine() override {
        close();
        ::CloseHandle(m_wake);
    }

    CommError open(const QString& device, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_handle != INVALID_HANDLE_VALUE; }

    QString write(const QByteArray& bytes) override {
        if (!isOpen()) {
            return QStringLiteral("The port is not open.");
        }
        {
            const std::lock_guard lock(m_mutex);
            m_queue += bytes;
        }
        ::SetEvent(m_wake);
        return {};
    }

    qint64 pendingOutput() const override {
        if (!isOpen()) {
            return 0;
        }
        const std::lock_guard lock(m_mutex);
        // While a write is on its way its bytes count as queued here, not in the driver too.
        DWORD errors = 0;
        COMSTAT state{};
        const qint64 driver =
            m_sending == 0 && ::ClearCommError(m_handle, &errors, &state) ? state.cbOutQue : 0;
        return m_queue.size() + m_sending + driver;
    }

    void discardOutput() override {
        if (isOpen()) {
            {
                const std::lock_guard lock(m_mutex);
                m_queue.clear();
            }
            ::PurgeComm(m_handle, PURGE_TXABORT | PURGE_TXCLEAR);
        }
    }

    QString read(QByteArray& into) override {
        const std::lock_guard lock(m_mutex);
        into += std::exchange(m_received, {});
        return {};
    }

    bool hasInput() const override {
        const std::lock_guard lock(m_mutex);
        return !m_received.isEmpty();
    }

private:
    CommError configure(const QString& device, const LineSettings& settings);
    /// The line's own thread: reads, writes, until close() wakes it to stop.
    void serve();
    /// Appends what a read brought; false when the device has gone.
    bool readDone(OVERLAPPED& read, const QByteArray& chunk);
    void tellLost(DWORD error);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_wake; // bytes to write, or the close
    std::thread m_thread;
    std::atomic<bool> m_stopping = false;
    mutable std::mutex m_mutex; // guards what follows
    QByteArray m_received;      // what came, not yet taken
    QByteArray m_queue;         // what is to be written
    qint64 m_sending = 0;       // how much of it is on its way
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
    m_stopping = false;
    ::ResetEvent(m_wake);
    m_thread = std::thread(&WinSerialLine::serve, this);
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
    m_stopping = true;
    ::SetEvent(m_wake);
    m_thread.join();
    ::PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    ::CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    const std::lock_guard lock(m_mutex);
    m_received.clear();
    m_queue.clear();
    m_sending = 0;
}

void WinSerialLine::serve() {
    OVERLAPPED read{};
    OVERLAPPED write{};
    read.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    write.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    QByteArray sending; // left alone while the write is on its way
    bool reading = false;
    bool writing = false;
    bool alive = true;
    const auto startRead = [&] {
        reading = ::ReadFile(m_handle, chunk.data(), kReadChunk, nullptr, &read) ||
                  ::GetLastError() == ERROR_IO_PENDING;
        if (!reading) {
            tellLost(::GetLastError());
            alive = false;
        }
    };
    startRead();
    while (!m_stopping) {
        if (!writing && alive) {
            const std::lock_guard lock(m_mutex);
            if (!m_queue.isEmpty()) {
                sending = std::exchange(m_queue, {});
                m_sending = sending.size();
                writing = ::WriteFile(m_handle, sending.constData(), DWORD(sending.size()), nullptr,
                                      &write) ||
                          ::GetLastError() == ERROR_IO_PENDING;
                if (!writing) {
                    m_sending = 0;
                    const QString why = systemMessage(::GetLastError());
                    QMetaObject::invokeMethod(
                        this, [this, why] { emit writeFailed(why); }, Qt::QueuedConnection);
                }
            }
        }
        // Only what is on its way is waited for: an idle event would wake the loop for nothing.
        HANDLE waitFor[3] = {m_wake};
        DWORD count = 1;
        if (reading) {
            waitFor[count++] = read.hEvent;
        }
        if (writing) {
            waitFor[count++] = write.hEvent;
        }
        ::WaitForMultipleObjects(count, waitFor, FALSE, INFINITE);
        if (reading && ::WaitForSingleObject(read.hEvent, 0) == WAIT_OBJECT_0) {
            reading = false;
            if (readDone(read, chunk)) {
                startRead();
            } else {
                alive = false;
            }
        }
        if (writing && ::WaitForSingleObject(write.hEvent, 0) == WAIT_OBJECT_0) {
            writing = false;
            DWORD written = 0;
            const bool ok = ::GetOverlappedResult(m_handle, &write, &written, FALSE);
            const DWORD error = ok ? DWORD(ERROR_SUCCESS) : ::GetLastError();
            const std::lock_guard lock(m_mutex);
            m_sending = 0;
            if (ok) {
                m_queue.prepend(sending.mid(qsizetype(written)));
            } else if (error != ERROR_OPERATION_ABORTED) {
                const QString why = systemMessage(error);
                QMetaObject::invokeMethod(
                    this, [this, why] { emit writeFailed(why); }, Qt::QueuedConnection);
            }
            sending.clear();
        }
    }
    // The operations of this thread end with it; their buffers live until then.
    ::CancelIo(m_handle);
    DWORD done = 0;
    if (reading) {
        ::GetOverlappedResult(m_handle, &read, &done, TRUE);
    }
    if (writing) {
        ::GetOverlappedResult(m_handle, &write, &done, TRUE);
    }
    ::CloseHandle(read.hEvent);
    ::CloseHandle(write.hEvent);
}

bool WinSerialLine::readDone(OVERLAPPED& read, const QByteArray& chunk) {
    DWORD count = 0;
    // A read that timed out is no failure (Wine says ERROR_TIMEOUT where Windows says
    // nothing); what it read is kept.
    if (!::GetOverlappedResult(m_handle, &read, &count, FALSE) &&
        ::GetLastError() != ERROR_TIMEOUT) {
        if (!m_stopping) {
            tellLost(::GetLastError());
        }
        return false;
    }
    if (count == 0) {
        return true;
    }
    bool first = false;
    {
        const std::lock_guard lock(m_mutex);
        first = m_received.isEmpty();
        m_received.append(chunk.constData(), qsizetype(count));
    }
    if (first) {
        QMetaObject::invokeMethod(
            this, [this] { emit readyRead(); }, Qt::QueuedConnection);
    }
    return true;
}

void WinSerialLine::tellLost(DWORD error) {
    // An unplugged adapter takes its port with it: every read fails from then on.
    const QString reason = readFailedText(systemMessage(error));
    QMetaObject::invokeMethod(
        this, [this, reason] { emit lost(reason); }, Qt::QueuedConnection);
}

} // namespace

std::unique_ptr<SerialLine> makeSerialLine() {
    return std::make_unique<WinSerialLine>();
}

std::optional<CommError> settingsRefused(const LineSettings&) {
    return std::nullopt; // every setting goes to the driver, which says what it cannot do
}

} // namespace serial
