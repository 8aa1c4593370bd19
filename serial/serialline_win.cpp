// The serial line through the Win32 communications API: a COM port opened for overlapped
// I/O, its reads and writes completed through the event loop (QWinEventNotifier on their
// events). What the line does with them is CommLine's.
#include "commline.h"
#include "connectionstatus.h"
#include "serialline.h"

#include <QWinEventNotifier>

#include <utility>
#include <windows.h>

namespace serial {

namespace {

// A read waits for the first byte, then ends at a pause of kReadPauseMs in what comes, or
// after CommLine::kReadWaitMs in all (a stream without pauses); an empty one is simply asked
// again. (The timeouts that end a read at the first byte, MAXDWORD and MAXDWORD, never end
// under Wine, and a read that lasts until a pause alone would hold a steady stream back.)
constexpr DWORD kReadPauseMs = 20;
// The driver's output queue: the line writes a fraction of a second at a time.
constexpr DWORD kOutputQueue = 4096;

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

constexpr struct {
    char letter;
    BYTE code;
} kParities[] = {
    {'N', NOPARITY}, {'E', EVENPARITY}, {'M', MARKPARITY}, {'O', ODDPARITY}, {'S', SPACEPARITY},
};

constexpr struct {
    StopBits stopBits;
    BYTE code;
} kStopBits[] = {
    {StopBits::One, ONESTOPBIT},
    {StopBits::OneAndHalf, ONE5STOPBITS},
    {StopBits::Two, TWOSTOPBITS},
};

// The operations under way and their buffers: they belong to the driver until it has ended
// them, so a driver that never ends a cancelled one keeps them for good.
struct Operations {
    Operations() {
        read.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        write.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Operations() {
        ::CloseHandle(read.hEvent);
        ::CloseHandle(write.hEvent);
    }
    Operations(const Operations&) = delete;
    Operations& operator=(const Operations&) = delete;

    OVERLAPPED read{};
    OVERLAPPED write{};
    QByteArray readBuffer;
    QByteArray writeBuffer;
    bool reading = false;
    bool writing = false;
};

class Win32CommDriver : public CommDriver {
public:
    explicit Win32CommDriver(HANDLE handle) : m_handle(handle) {
        m_readDone.setHandle(m_io->read.hEvent);
        m_writeDone.setHandle(m_io->write.hEvent);
        connect(&m_readDone, &QWinEventNotifier::activated, this, &Win32CommDriver::readDone);
        connect(&m_writeDone, &QWinEventNotifier::activated, this, &Win32CommDriver::writeDone);
        m_readDone.setEnabled(true);
        m_writeDone.setEnabled(true);
    }

    ~Win32CommDriver() override {
        if (!cancel(0)) {
            (void)m_io.release(); // still the driver's
        }
        closeKeepingRequests();
    }

    std::optional<LineSettings> line(QString& why) override {
        DCB state{};
        state.DCBlength = sizeof state;
        if (!::GetCommState(m_handle, &state)) {
            why = systemMessage(::GetLastError());
            return std::nullopt;
        }
        LineSettings line;
        line.speed = qint32(state.BaudRate);
        line.dataBits = state.ByteSize;
        line.parity = '?';
        for (const auto& parity : kParities) {
            if (parity.code == state.Parity) {
                line.parity = parity.letter;
            }
        }
        for (const auto& stopBits : kStopBits) {
            if (stopBits.code == state.StopBits) {
                line.stopBits = stopBits.stopBits;
            }
        }
        return line;
    }

    std::optional<QString> setLine(const LineSettings& line) override {
        DCB state{};
        state.DCBlength = sizeof state;
        if (!::GetCommState(m_handle, &state)) {
            return systemMessage(::GetLastError());
        }
        // Raw bytes, no flow control, the modem lines up as a terminal keeps them.
        state.fBinary = TRUE;
        state.fOutxCtsFlow = FALSE;
        state.fOutxDsrFlow = FALSE;
        state.fDtrControl = DTR_CONTROL_ENABLE;
        state.fDsrSensitivity = FALSE;
        state.fOutX = FALSE;
        state.fInX = FALSE;
        state.fErrorChar = FALSE;
        state.fNull = FALSE;
        state.fRtsControl = RTS_CONTROL_ENABLE;
        state.fAbortOnError = FALSE;
        state.BaudRate = DWORD(line.speed);
        state.ByteSize = BYTE(line.dataBits);
        state.fParity = line.parity != 'N';
        for (const auto& parity : kParities) {
            if (parity.letter == line.parity) {
                state.Parity = parity.code;
            }
        }
        for (const auto& stopBits : kStopBits) {
            if (stopBits.stopBits == line.stopBits) {
                state.StopBits = stopBits.code;
            }
        }
        ::SetLastError(ERROR_SUCCESS);
        if (::SetCommState(m_handle, &state)) {
            return std::nullopt;
        }
        // Some drivers refuse without saying why.
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? systemMessage(error) : QString();
    }

    QString prepare(qint64 inputQueue) override {
        // Only a wish: a driver that keeps its own sizes still works.
        (void)::SetupComm(m_handle, DWORD(inputQueue), kOutputQueue);
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = kReadPauseMs;
        timeouts.ReadTotalTimeoutConstant = CommLine::kReadWaitMs;
        return ::SetCommTimeouts(m_handle, &timeouts) ? QString() : systemMessage(::GetLastError());
    }

    QString startRead(qsizetype most) override {
        m_io->readBuffer.resize(most);
        ::ResetEvent(m_io->read.hEvent);
        // Whether it ends at once or later, the event says so and readDone() tells.
        if (!::ReadFile(m_handle, m_io->readBuffer.data(), DWORD(most), nullptr, &m_io->read) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            return systemMessage(::GetLastError());
        }
        m_io->reading = true;
        return {};
    }

    QString startWrite(const QByteArray& bytes) override {
        m_io->writeBuffer = bytes;
        ::ResetEvent(m_io->write.hEvent);
        if (!::WriteFile(m_handle, m_io->writeBuffer.constData(), DWORD(bytes.size()), nullptr,
                         &m_io->write) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            return systemMessage(::GetLastError());
        }
        m_io->writing = true;
        return {};
    }

    qint64 outputQueue() override {
        DWORD errors = 0;
        COMSTAT state{};
        return ::ClearCommError(m_handle, &errors, &state) ? state.cbOutQue : 0;
    }

    void purgeOutput() override { ::PurgeComm(m_handle, PURGE_TXABORT | PURGE_TXCLEAR); }
    void purgeInput() override { ::PurgeComm(m_handle, PURGE_RXABORT | PURGE_RXCLEAR); }

    bool cancel(int ms) override {
        m_readDone.setEnabled(false);
        m_writeDone.setEnabled(false);
        if (m_io->reading || m_io->writing) {
            ::CancelIoEx(m_handle, nullptr);
        }
        // Never an endless wait: some drivers do not end a cancelled request.
        return ended(DWORD(ms));
    }

    bool requestsEnded() override { return ended(0); }

    void closeKeepingRequests() override {
        if (m_handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(std::exchange(m_handle, INVALID_HANDLE_VALUE));
        }
    }

private:
    // Whether the read and write under way have ended, waiting at most ms for them.
    bool ended(DWORD ms) {
        HANDLE pending[2];
        DWORD count = 0;
        if (m_io->reading) {
            pending[count++] = m_io->read.hEvent;
        }
        if (m_io->writing) {
            pending[count++] = m_io->write.hEvent;
        }
        if (count > 0 && ::WaitForMultipleObjects(count, pending, TRUE, ms) == WAIT_TIMEOUT) {
            return false;
        }
        m_io->reading = m_io->writing = false;
        return true;
    }

    void readDone() {
        if (!m_io->reading) {
            ::ResetEvent(m_io->read.hEvent);
            return;
        }
        m_io->reading = false;
        DWORD count = 0;
        // A read that timed out is no failure (Wine says ERROR_TIMEOUT where Windows says
        // nothing); what it read is kept.
        if (!::GetOverlappedResult(m_handle, &m_io->read, &count, FALSE) &&
            ::GetLastError() != ERROR_TIMEOUT) {
            const DWORD error = ::GetLastError();
            ::ResetEvent(m_io->read.hEvent);
            emit readEnded({}, systemMessage(error));
            return;
        }
        ::ResetEvent(m_io->read.hEvent);
        emit readEnded(m_io->readBuffer.first(qsizetype(count)), {});
    }

    void writeDone() {
        if (!m_io->writing) {
            ::ResetEvent(m_io->write.hEvent);
            return;
        }
        m_io->writing = false;
        DWORD count = 0;
        const bool written = ::GetOverlappedResult(m_handle, &m_io->write, &count, FALSE);
        const DWORD error = written ? DWORD(ERROR_SUCCESS) : ::GetLastError();
        ::ResetEvent(m_io->write.hEvent);
        emit writeEnded(count, written ? QString() : systemMessage(error));
    }

    HANDLE m_handle;
    std::unique_ptr<Operations> m_io = std::make_unique<Operations>();
    QWinEventNotifier m_readDone;
    QWinEventNotifier m_writeDone;
};

std::unique_ptr<CommDriver> openDriver(const QString& device, ReachedDevice reached,
                                       CommError& error) {
    if (reached.reached()) {
        return std::make_unique<Win32CommDriver>(HANDLE(reached.take()));
    }
    const DWORD code = DWORD(reached.error());
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) {
        error = {CommError::comPortNotAvailable, inUseDescription(device, std::nullopt)};
    } else {
        const bool absent = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        error = {absent ? CommError::comInvalidPortNumber : CommError::comPortNotAvailable,
                 QStringLiteral("%1: %2").arg(device, systemMessage(code))};
    }
    return nullptr;
}

} // namespace

std::unique_ptr<SerialLine> makeSerialLine() {
    return std::make_unique<CommLine>(openDriver);
}

std::optional<CommError> settingsRefused(const LineSettings&) {
    return std::nullopt; // every setting goes to the driver, which says what it cannot do
}

ReachedDevice reachDevice(const QString& device) {
    const QString path = QStringLiteral("\\\\.\\") + device;
    const HANDLE handle =
        ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                      0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return {ReachedDevice::kNone, long(::GetLastError())};
    }
    return {qintptr(handle), 0};
}

void ReachedDevice::release() {
    if (m_handle != kNone) {
        ::CloseHandle(HANDLE(m_handle));
    }
    m_handle = kNone;
}

} // namespace serial
