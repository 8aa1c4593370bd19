#pragma once

#include "logfailure.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

/// The log file open for one append. Opening never waits (a pipe or a device at the log's
/// path would, for a reader or a carrier) and takes only a regular file. An append counts
/// once closeConfirmed() says the file system has it: network folders report a write that
/// failed (a quota, a server gone) only when the file is flushed or closed.
class LogFile {
public:
    explicit LogFile(const QString& path);
    ~LogFile(); // closes without asking: only after a failure already known
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    /// Why the file could not be opened; nothing when it is open.
    const std::optional<LogFailure>& openFailure() const { return m_openFailure; }
    qintptr handle() const { return m_file; }
    /// The file's size now; -1 where the system does not say.
    qint64 size() const;
    /// Appends at most size bytes: how many went in, or -1 with why.
    qint64 append(const char* data, qint64 size, LogFailure& why);
    /// The bytes at offset, as far as the file has them.
    QByteArray read(qint64 offset, qint64 size) const;
    /// Cuts the file back to size; false where the file system refuses (an append-only file).
    bool truncate(qint64 size);
    /// Closes it: nothing when the file system confirmed what was written.
    std::optional<LogFailure> closeConfirmed();

private:
    static constexpr qintptr kNoFile = -1; // also Windows' INVALID_HANDLE_VALUE
    QString m_path;
    qintptr m_file = kNoFile;
    std::optional<LogFailure> m_openFailure;
};
