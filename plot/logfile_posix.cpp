// The log file through POSIX calls: O_APPEND puts lines at the end even when another program
// writes to the file too.
#include "logfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

LogFile::LogFile(const QString& path) : m_path(path) {
    const QByteArray name = QFile::encodeName(path);
    int file = -1;
    do {
        file =
            ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (file < 0 && errno == EINTR);
    struct stat status {};
    if (file < 0) {
        // A FIFO without a reader says ENXIO: it is no file either.
        m_openFailure = errno == ENXIO ? notAFile(path) : systemFailure(errno, path);
    } else if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(file);
        m_openFailure = notAFile(path);
    } else {
        m_file = file;
    }
}

LogFile::~LogFile() {
    if (m_file != kNoFile) {
        ::close(int(m_file));
    }
}

qint64 LogFile::size() const {
    struct stat status {};
    return ::fstat(int(m_file), &status) == 0 ? qint64(status.st_size) : -1;
}

qint64 LogFile::append(const char* data, qint64 size, LogFailure& why) {
    ssize_t n = -1;
    do {
        n = ::write(int(m_file), data, size_t(size));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        why = systemFailure(errno, m_path);
    }
    return n;
}

QByteArray LogFile::read(qint64 offset, qint64 size) const {
    QByteArray bytes(size, Qt::Uninitialized);
    const int reading =
        ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const ssize_t n = reading < 0 ? 0 : ::pread(reading, bytes.data(), size_t(size), offset);
    if (reading >= 0) {
        ::close(reading);
    }
    bytes.truncate(std::max<ssize_t>(n, 0));
    return bytes;
}

bool LogFile::truncate(qint64 size) {
    int result = -1;
    do {
        result = ::ftruncate(int(m_file), off_t(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

std::optional<LogFailure> LogFile::closeConfirmed() {
    // close() reports what a network folder's client could not write back (NFS, SMB, FUSE
    // flush), and a local disk confirms at write time: no fsync, which would cost every
    // append a wait for the disk.
    const int file = int(std::exchange(m_file, kNoFile));
    if (::close(file) != 0 && errno != EINTR) { // after EINTR Linux has closed it, and kept it
        return systemFailure(errno, m_path);
    }
    return std::nullopt;
}
