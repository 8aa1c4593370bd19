// Appending to the log through POSIX calls: O_APPEND puts a line at the end even when another
// program writes to the file too, and what went in of a line that failed is taken out again.
#include "samplelog.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

SampleLog::Appended SampleLog::appendToClaimed(const QByteArray& lines) {
    const int file = openForAppending(path());
    if (file < 0) {
        return {systemFailure(errno, path())};
    }
    if (!m_claim.holds(file)) {
        ::close(file);
        return {std::nullopt, true};
    }
    qsizetype written = 0;
    std::optional<Failure> failure;
    while (written < lines.size()) {
        const ssize_t n = ::write(file, lines.constData() + written,
                                  static_cast<std::size_t>(lines.size() - written));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failure = systemFailure(n < 0 ? errno : ENOSPC, path());
            break;
        }
        written += n;
    }
    if (failure && written > 0) {
        // Whole lines or nothing: the next line would be glued to the half.
        const off_t end = ::lseek(file, 0, SEEK_END);
        if (end >= written) {
            while (::ftruncate(file, end - written) != 0 && errno == EINTR) {
            }
        }
    }
    // On Linux the file is closed even when close() is interrupted.
    if (::close(file) != 0 && errno != EINTR && !failure) {
        failure = systemFailure(errno, path());
    }
    return {failure};
}
