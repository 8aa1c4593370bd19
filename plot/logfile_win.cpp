// The log file through the Win32 file API, shared for reading, writing and deleting: others
// may read, move or delete the log while a line goes in.
#include "logfile.h"

#include <algorithm>
#include <utility>
#include <windows.h>

namespace {

HANDLE handleOf(qintptr file) {
    return reinterpret_cast<HANDLE>(file);
}

const wchar_t* nameOf(const QString& path) {
    return reinterpret_cast<const wchar_t*>(path.utf16());
}

} // namespace

LogFile::LogFile(const QString& path) : m_path(path) {
    const HANDLE file = ::CreateFileW(nameOf(path), GENERIC_WRITE | GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        m_openFailure = systemFailure(::GetLastError(), path);
    } else if (::GetFileType(file) != FILE_TYPE_DISK) { // a device or a pipe by that name
        ::CloseHandle(file);
        m_openFailure = notAFile(path);
    } else {
        m_file = reinterpret_cast<qintptr>(file);
    }
}

LogFile::~LogFile() {
    if (m_file != kNoFile) {
        ::CloseHandle(handleOf(m_file));
    }
}

qint64 LogFile::size() const {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(handleOf(m_file), &size) ? qint64(size.QuadPart) : -1;
}

qint64 LogFile::append(const char* data, qint64 size, LogFailure& why) {
    LARGE_INTEGER end{};
    DWORD n = 0;
    if (!::SetFilePointerEx(handleOf(m_file), LARGE_INTEGER{}, &end, FILE_END) ||
        !::WriteFile(handleOf(m_file), data, DWORD(std::min<qint64>(size, MAXDWORD)), &n,
                     nullptr)) {
        why = systemFailure(::GetLastError(), m_path);
        return -1;
    }
    return n;
}

QByteArray LogFile::read(qint64 offset, qint64 size) const {
    QByteArray bytes(size, Qt::Uninitialized);
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD n = 0;
    if (!::ReadFile(handleOf(m_file), bytes.data(), DWORD(size), &n, &at)) {
        n = 0;
    }
    bytes.truncate(n);
    return bytes;
}

bool LogFile::truncate(qint64 size) {
    LARGE_INTEGER end{};
    end.QuadPart = size;
    return ::SetFilePointerEx(handleOf(m_file), end, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(handleOf(m_file));
}

std::optional<LogFailure> LogFile::closeConfirmed() {
    // A network redirector reports a write it could not make (a quota, a server gone) when
    // the file is flushed or closed: both are asked.
    const HANDLE file = handleOf(std::exchange(m_file, kNoFile));
    const bool flushed = ::FlushFileBuffers(file);
    const DWORD flushError = flushed ? 0 : ::GetLastError();
    if (!::CloseHandle(file) && flushed) {
        return systemFailure(::GetLastError(), m_path);
    }
    if (!flushed) {
        return systemFailure(flushError, m_path);
    }
    return std::nullopt;
}
