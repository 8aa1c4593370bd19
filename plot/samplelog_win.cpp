// Appending to the log through the Win32 file API, which tells a file that another program
// holds open (a spreadsheet showing it) from one that is read-only or a disk that is full.
#include "samplelog.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <windows.h>

LogFailure systemFailure(qint64 systemError, const QString& path) {
    using Kind = LogFailure::Kind;
    const auto error = DWORD(systemError);
    Kind kind = Kind::Other;
    const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.utf16()));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return {kind, QStringLiteral("it is a folder")}; // not read-only: no file is there
    }
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        kind = Kind::HeldElsewhere;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        kind = Kind::ReadOnly;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        kind = Kind::DiskFull;
        break;
    default:
        break;
    }
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString reason = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                                : QStringLiteral("error %1").arg(error);
    ::LocalFree(text);
    return {kind, reason};
}

namespace {

// Shared for reading, writing and deleting: others may read, move or delete the log while a
// line goes in.
HANDLE openForAppending(const QString& path, DWORD disposition) {
    return ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

std::optional<SampleLog::Failure> SampleLog::tryOpening(const QString& path) {
    const HANDLE file = openForAppending(path, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        return systemFailure(::GetLastError(), path);
    }
    ::CloseHandle(file);
    return std::nullopt;
}

std::optional<qint64> SampleLog::systemRoom(const QString& path) {
    QString folder = QDir::toNativeSeparators(QFileInfo(path).absolutePath());
    if (!folder.endsWith('\\')) {
        folder += '\\'; // a network folder is named so
    }
    ULARGE_INTEGER room{};
    if (!::GetDiskFreeSpaceExW(reinterpret_cast<const wchar_t*>(folder.utf16()), &room, nullptr,
                               nullptr)) {
        return std::nullopt;
    }
    return qint64(std::min<ULONGLONG>(room.QuadPart, ULONGLONG(LLONG_MAX))); // this user's
}

SampleLog::Appended SampleLog::appendToClaimed(QByteArrayView lines) {
    const HANDLE file = openForAppending(path(), OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        return {0, systemFailure(::GetLastError(), path())};
    }
    if (!m_claim.holds(reinterpret_cast<qintptr>(file))) {
        ::CloseHandle(file);
        return {0, std::nullopt, true};
    }
    std::optional<Failure> failure;
    LARGE_INTEGER before{};
    qsizetype written = 0;
    if (!::SetFilePointerEx(file, LARGE_INTEGER{}, &before, FILE_END)) {
        failure = systemFailure(::GetLastError(), path());
    }
    while (!failure && written < lines.size()) {
        const qint64 most = m_disk.takes(lines.size() - written);
        DWORD n = 0;
        const bool wrote =
            most > 0 && ::WriteFile(file, lines.data() + written, DWORD(most), &n, nullptr);
        if (!wrote || n == 0) {
            const DWORD error = wrote || most <= 0 ? DWORD(ERROR_DISK_FULL) : ::GetLastError();
            failure = systemFailure(error, path());
        }
        written += n;
    }
    // Whole lines: what went in of a line cut short is taken out again, or the next line
    // would be glued to it; the lines before it stay.
    const qsizetype kept = failure ? lines.first(written).lastIndexOf('\n') + 1 : written;
    if (written > kept) {
        LARGE_INTEGER end = before;
        end.QuadPart += kept;
        if (::SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) {
            ::SetEndOfFile(file);
        }
    }
    ::CloseHandle(file);
    return {kept, failure};
}
