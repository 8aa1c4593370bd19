#include "logclaim.h"

#include <QDir>
#include <QFileInfo>

LogClaim::LogClaim(const QString& path) : m_path(path) {
    for (int number = 1; number <= kMostPrograms; ++number) {
        const QString candidate = numbered(path, number);
        auto lock = std::make_unique<QLockFile>(candidate + QStringLiteral(".lock"));
        // Held for as long as the program runs, however long: only an ended owner frees it.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            m_path = candidate;
            m_lock = std::move(lock);
            return;
        }
        if (lock->error() != QLockFile::LockFailedError) {
            return;
        }
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
