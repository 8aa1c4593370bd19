// Appending to the log through POSIX calls: O_APPEND puts a line at the end even when another
// program writes to the file too, and what went in of a line that failed is taken out again.
#include "samplelog.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

SampleLog::Failure failureOf(int error) {
    using Kind = SampleLog::Failure::Kind;
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
    return {kind, QString::fromLocal8Bit(std::strerror(error))};
}

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
    return failureOf(QFileInfo::exists(path) ? EACCES : ENOENT);
}

std::optional<SampleLog::Failure> SampleLog::append(const QByteArray& lines) const {
    const int file = openForAppending(m_path);
    if (file < 0) {
        return failureOf(errno);
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
            failure = failureOf(n < 0 ? errno : ENOSPC);
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
        failure = failureOf(errno);
    }
    return failure;
}
