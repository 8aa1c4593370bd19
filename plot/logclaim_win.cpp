// The claim of a log file through the Win32 file API: LockFileEx on a handle of the log kept
// open. The handle only reads and shares everything, so others may read, append to, move or
// delete the log; the lock is one byte far beyond the end of any log, so it stops no one
// reading or appending, only another program that claims the same file.
#include "logclaim.h"

#include <windows.h>

namespace {

HANDLE handleOf(qintptr file) {
    return reinterpret_cast<HANDLE>(file);
}

} // namespace

LogClaim::Lock LogClaim::lock(const QString& path) {
    const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE && ::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return {kNoFile, false, notAFile(path)};
    }
    if (file == INVALID_HANDLE_VALUE) {
        // A program that shares the file with no one (ERROR_SHARING_VIOLATION) may be
        // anything: the claim waits for it rather than take the next file.
        return {kNoFile, false, systemFailure(::GetLastError(), path)};
    }
    OVERLAPPED at{};
    at.OffsetHigh = DWORD(1) << 30; // byte 2^62
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        return {reinterpret_cast<qintptr>(file), false, {}};
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) {
        return {reinterpret_cast<qintptr>(file), false, {}, true}; // a share without locks
    }
    ::CloseHandle(file);
    return {kNoFile, error == ERROR_LOCK_VIOLATION, systemFailure(error, path)};
}

void LogClaim::unlock(qintptr file) {
    ::CloseHandle(handleOf(file)); // the lock goes with the handle
}

bool LogClaim::holds(qintptr file) const {
    BY_HANDLE_FILE_INFORMATION claimed{};
    BY_HANDLE_FILE_INFORMATION other{};
    return held() && ::GetFileInformationByHandle(handleOf(m_file), &claimed) &&
           ::GetFileInformationByHandle(handleOf(file), &other) &&
           claimed.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           claimed.nFileIndexHigh == other.nFileIndexHigh &&
           claimed.nFileIndexLow == other.nFileIndexLow;
}

bool LogClaim::removed() const {
    FILE_STANDARD_INFO standard{};
    return held() &&
           ::GetFileInformationByHandleEx(handleOf(m_file), FileStandardInfo, &standard,
                                          sizeof standard) &&
           standard.DeletePending;
}
