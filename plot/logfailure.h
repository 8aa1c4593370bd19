#pragma once

#include <QDir>
#include <QString>

/// Why lines could not go into the log.
struct LogFailure {
    enum class Kind { HeldElsewhere, ReadOnly, DiskFull, Other };
    Kind kind = Kind::Other;
    QString reason; ///< the system's words
};

/// What a system error number (errno; on Windows GetLastError()) means for the log at path.
/// Defined with the platform's calls that append to it.
LogFailure systemFailure(qint64 error, const QString& path);

/// A folder, a pipe or a device where the log should be: never written, never waited for.
inline LogFailure notAFile(const QString& path) {
    return {LogFailure::Kind::Other,
            QStringLiteral("%1 is not a file but a folder, a pipe or a device")
                .arg(QDir::toNativeSeparators(path))};
}
