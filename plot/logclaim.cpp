#include "logclaim.h"

#include <QDir>
#include <QFileInfo>

LogClaim& LogClaim::operator=(LogClaim&& other) noexcept {
    release();
    m_wanted = std::move(other.m_wanted);
    m_path = std::move(other.m_path);
    m_file = std::exchange(other.m_file, kNoFile);
    m_unlocked = other.m_unlocked;
    return *this;
}

std::optional<LogFailure> LogClaim::claim() {
    if (held()) {
        return std::nullopt;
    }
    for (int number = 0; number <= kMostPrograms; ++number) {
        // The file claimed before first: a log moved away is made anew under its name.
        const QString candidate = number == 0 ? m_path : numbered(m_wanted, number);
        if (number > 0 && candidate == m_path) {
            continue;
        }
        Lock lock = LogClaim::lock(candidate);
        if (lock.file != kNoFile) {
            m_path = candidate;
            m_file = lock.file;
            m_unlocked = lock.unlocked;
            return std::nullopt;
        }
        if (lock.heldByAnother) {
            continue;
        }
        if (number > 0 && lock.failure.kind != LogFailure::Kind::DiskFull) {
            // Not the fault of the file the notice names: say which one, and why it was tried.
            lock.failure = {LogFailure::Kind::Other,
                            QStringLiteral("another program running at the same time logs to it, "
                                           "and %1 cannot be used: %2")
                                .arg(QFileInfo(candidate).fileName(), lock.failure.reason)};
        }
        return lock.failure;
    }
    return LogFailure{
        LogFailure::Kind::Other,
        QStringLiteral("%1 other programs running at the same time log there").arg(kMostPrograms)};
}

void LogClaim::release() {
    if (held()) {
        unlock(std::exchange(m_file, kNoFile));
    }
}

QString LogClaim::numbered(const QString& path, int number) {
    if (number == 1) {
        return path;
    }
    const QFileInfo file(path);
    const QString suffix = file.suffix().isEmpty() ? QString() : '.' + file.suffix();
    return file.dir().filePath(
        QStringLiteral("%1-%2%3").arg(file.completeBaseName()).arg(number).arg(suffix));
}
