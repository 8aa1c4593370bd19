// What the system says of the log's file and disk, through POSIX calls.
#include "samplelog.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/statvfs.h>

LogFailure systemFailure(qint64 error, const QString&) {
    using Kind = LogFailure::Kind;
    Kind kind = Kind::Other;
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        kind = Kind::ReadOnly;
        break;
    case ENOSPC:
    case EDQUOT:
        kind = Kind::DiskFull;
        break;
    default:
        break;
    }
    return {kind, QString::fromLocal8Bit(std::strerror(int(error)))};
}

std::optional<SampleLog::Failure> SampleLog::tryOpening(const QString& path) {
    if (QFileInfo(path).isWritable()) {
        return std::nullopt;
    }
    return systemFailure(QFileInfo::exists(path) ? EACCES : ENOENT, path);
}

std::optional<qint64> SampleLog::systemRoom(const QString& path) {
    struct statvfs disk {};
    // A file system of no size (some FUSE and virtual ones) does not say.
    if (::statvfs(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &disk) != 0 ||
        disk.f_blocks == 0) {
        return std::nullopt;
    }
    return qint64(disk.f_bavail) * qint64(disk.f_frsize); // what a user who is not root has
}
