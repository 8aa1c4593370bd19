#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

/// Which file this program logs to. Two programs running at once (one per sensor) must never
/// write one log: the first to log into a folder keeps "app.txt", a second one running at the
/// same time takes "app-2.txt" beside it, a third "app-3.txt", and each keeps its file for its
/// whole run. Who holds a file is known by a lock file beside it ("app.txt.lock") that goes
/// with its program; one left by a program that was killed, or by a machine that lost power,
/// is taken over, since the program it names no longer runs.
class LogClaim {
public:
    /// Claims path, or the first free one after it.
    explicit LogClaim(const QString& path);

    /// The file claimed; path itself where no lock can be kept there (a folder that cannot be
    /// written, where logging fails and says so anyway).
    const QString& path() const { return m_path; }

    /// The file with this number beside path: 1 is path itself, 2 "app-2.txt", ...
    static QString numbered(const QString& path, int number);
    static constexpr int kMostPrograms = 99;

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};
