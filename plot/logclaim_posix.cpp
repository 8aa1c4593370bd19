// The claim of a log file through POSIX calls: flock() on a descriptor of the log kept open.
// Its lock belongs to that descriptor alone (not to the process, as fcntl's does), so the
// appends, which open and close the file, leave it alone; on NFS the kernel takes it to the
// server, where an exclusive lock needs a descriptor open for writing.
#include "logclaim.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int openWithoutWaiting(const QByteArray& name, int flags) {
    int file = -1;
    do {
        // Non-blocking: a FIFO in the log's place would wait for a reader.
        file = ::open(name.constData(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (file < 0 && errno == EINTR);
    return file;
}

} // namespace

LogClaim::Lock LogClaim::lock(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    // Never written through: the appends open the file themselves.
    const int file = openWithoutWaiting(name, O_WRONLY | O_CREAT);
    if (file < 0) {
        const int error = errno;
        if (error == ENXIO) { // a FIFO without a reader
            return {kNoFile, false, notAFile(path)};
        }
        // A log this user may only read (another user's): its lock tells whether a program
        // of that user holds it now, or it is just read-only.
        const int reading = error == EACCES ? openWithoutWaiting(name, O_RDONLY) : -1;
        const bool held =
            reading >= 0 && ::flock(reading, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (reading >= 0) {
            ::close(reading);
        }
        return {kNoFile, held, systemFailure(error, path)};
    }
    struct stat status {};
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(file);
        return {kNoFile, false, notAFile(path)};
    }
    if (::flock(file, LOCK_EX | LOCK_NB) == 0) {
        return {file, false, {}};
    }
    const int error = errno;
    if (error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS) {
        return {file, false, {}, true};
    }
    ::close(file);
    return {kNoFile, error == EWOULDBLOCK, systemFailure(error, path)};
}

void LogClaim::unlock(qintptr file) {
    ::close(int(file)); // the lock goes with the descriptor
}

bool LogClaim::holds(qintptr file) const {
    struct stat claimed {};
    struct stat other {};
    return held() && ::fstat(int(m_file), &claimed) == 0 && ::fstat(int(file), &other) == 0 &&
           claimed.st_dev == other.st_dev && claimed.st_ino == other.st_ino;
}

bool LogClaim::removed() const {
    struct stat claimed {};
    return held() && ::fstat(int(m_file), &claimed) == 0 && claimed.st_nlink == 0;
}
