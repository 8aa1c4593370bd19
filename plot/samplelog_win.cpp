// What the system says of the log's file and disk, through the Win32 API, which tells a file
// that another program holds open (a spreadsheet showing it) from one that is read-only or a
// disk that is full.
#include "samplelog.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <windows.h>

namespace {

constexpr DWORD kDiskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, which MinGW lacks

} // namespace

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
    case kDiskQuotaExceeded:
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

std::optional<SampleLog::Failure> SampleLog::tryOpening(const QString& path) {
    const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
