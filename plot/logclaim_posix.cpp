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

LogClaim::Lock LogClaim::lock(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    int file = -1;
    do {
        // Never written through: the appends open the file themselves. Non-blocking: a
        // FIFO in its place would wait for a reader.
        file = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (file < 0 && errno == EINTR);
    if (file < 0) {
        return {kNoFile, false, systemFailure(errno, path)};
    }
    if (::flock(file, LOCK_EX | LOCK_NB) == 0) {
        return {file, false, {}};
    }
    const int error = errno;
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
