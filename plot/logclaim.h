#pragma once

#include "logfailure.h"

#include <QString>

#include <optional>

/// Which file this program logs to. Two programs running at once (one per sensor) must never
/// write one log: the first to log into a folder keeps "app.txt", a second one running at the
/// same time takes "app-2.txt" beside it, a third "app-3.txt", and each keeps its file for its
/// whole run. A program holds its file with the system's own lock on the file itself, kept on
/// a handle open for the whole run: it needs no other file, works wherever the log can be
/// opened, and goes with its program however that ends (killed, or the machine lost power).
/// Where the file system has no locks (NFS without its lock service), the file is claimed
/// without one: logging goes on, and unlocked() says that another program is not kept out.
class LogClaim {
public:
    explicit LogClaim(QString wanted = {}) : m_wanted(wanted), m_path(std::move(wanted)) {}
    ~LogClaim() { release(); }
    LogClaim(LogClaim&& other) noexcept { *this = std::move(other); }
    LogClaim& operator=(LogClaim&& other) noexcept;

    /// Claims a file unless one is held: the one claimed before (made anew where the user
    /// moved or deleted it), else the wanted one or the first after it that no other program
    /// holds. Where a file cannot be claimed for another reason (it cannot be made: a full
    /// disk, a folder that cannot be written; a program holds it that shares it with no one),
    /// no other is taken: why, and nothing is claimed until a later try.
    std::optional<LogFailure> claim();
    bool held() const { return m_file != kNoFile; }
    bool unlocked() const { return m_unlocked; }
    void release();

    /// The file claimed; the wanted one until a claim is made.
    const QString& path() const { return m_path; }
    const QString& wanted() const { return m_wanted; }
    /// Whether an open file is the one claimed: the path may name another file by now.
    bool holds(qintptr file) const;
    /// Whether the file claimed has been deleted (Windows keeps the name of a deleted file
    /// taken for as long as a program has it open).
    bool removed() const;

    /// The file with this number beside path: 1 is path itself, 2 "app-2.txt", ...
    static QString numbered(const QString& path, int number);
    static constexpr int kMostPrograms = 99;

private:
    static constexpr qintptr kNoFile = -1; // also Windows' INVALID_HANDLE_VALUE
    struct Lock {
        qintptr file = kNoFile;
        bool heldByAnother = false;
        LogFailure failure;
        bool unlocked = false; ///< the file system has no locks: claimed without one
    };
    /// Opens path (making it where it is missing) and locks it, without waiting.
    static Lock lock(const QString& path);
    static void unlock(qintptr file);

    QString m_wanted;
    QString m_path;
    qintptr m_file = kNoFile;
    bool m_unlocked = false;
};
