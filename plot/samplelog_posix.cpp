// Appending to the log through POSIX calls: O_APPEND puts lines at the end even when another
// program writes to the file too, and what went in of a line that failed is taken out again.
#include "samplelog.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

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

namespace {

int openForAppending(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    int file = -1;
    do {
        file = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (file < 0 && errno == EINTR);
    return file;
}

} // namespace

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

SampleLog::Appended SampleLog::appendToClaimed(QByteArrayView lines) {
    const int file = openForAppending(path());
    if (file < 0) {
        return {0, systemFailure(errno, path())};
    }
    if (!m_claim.holds(file)) {
        ::close(file);
        return {0, std::nullopt, true};
    }
    qsizetype written = 0;
    std::optional<Failure> failure;
    while (written < lines.size()) {
        const qint64 most = m_disk.takes(lines.size() - written);
        const ssize_t n = most > 0 ? ::write(file, lines.data() + written, size_t(most)) : 0;
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failure = systemFailure(n < 0 ? errno : ENOSPC, path());
            break;
        }
        written += n;
    }
    // Whole lines: what went in of a line cut short is taken out again, or the next line
    // would be glued to it; the lines before it stay.
    const qsizetype kept = failure ? lines.first(written).lastIndexOf('\n') + 1 : written;
    if (written > kept) {
        const off_t end = ::lseek(file, 0, SEEK_END);
        if (end >= written - kept) {
            while (::ftruncate(file, end - (written - kept)) != 0 && errno == EINTR) {
            }
        }
    }
    // Closed even when close() fails (on Linux); what it would report (a write-back error
    // on NFS) belongs to no line: the lines count as written, and are not written twice.
    ::close(file);
    return {kept, failure};
}
