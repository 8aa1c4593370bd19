#pragma once

#include "logclaim.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

/// The log file "app.txt": one line per plotted sample, appended with the file opened and
/// closed around every line so that other programs may read, move or delete it any time.
/// Lines that cannot go in (another program holds the file, the disk is full) wait, in order,
/// and go in before the next line once the file can be written again. The file is claimed
/// (LogClaim) with the first line: path, or a file of its own beside it while another program
/// running at the same time logs to path; nothing is written to a file not claimed.
class SampleLog {
public:
    explicit SampleLog(QString path) : m_claim(std::move(path)) {}

    /// At most this much waits while the file cannot be written: half an hour of samples at
    /// the full line rate, days at a sensor's usual pace. Samples beyond it are dropped.
    static constexpr qsizetype kWaitingLimit = 64 << 20;

    /// "app.txt" in the directory that holds the program.
    static QString besideProgram();

    /// Where the log goes: beside the program when its folder (or the file there) can be
    /// written, as for a build or a portable copy; else in the user's data folder, created
    /// as needed (an installed program in /usr/bin); when neither can be written, beside the
    /// program, where the failure will be reported. A file another program holds open is
    /// not read-only: the log stays beside the program and its lines wait.
    struct Location {
        QString path;
        bool inDataFolder = false;
        QString whyNotBeside; ///< in the data folder: what beside the program cannot be written
    };
    static Location chooseLocation(const QString& programFolder, const QString& dataFolder);
    /// The same for this program and this user.
    static Location defaultLocation();

    /// The line for the x of the previous plot point and the three reading fields as they
    /// stand: "200, R=3712 G=3590 B=3880" CR LF, one byte per character.
    static QByteArray line(qint64 position, const QString& red, const QString& green,
                           const QString& blue);

    using Failure = LogFailure;

    /// The file claimed; the one wanted until a claim is made.
    const QString& path() const { return m_claim.path(); }
    const QString& wantedPath() const { return m_claim.wanted(); }
    void setPath(QString path) { m_claim = LogClaim(std::move(path)); }

    /// Whether the file could be opened for appending now, without writing to it.
    static std::optional<Failure> tryOpening(const QString& path);

    /// What the disk under the log allows: the system's answers unless a test says otherwise.
    struct Disk {
        /// The bytes this user may still write there; none where the system does not say.
        std::function<std::optional<qint64>(const QString& path)> room = systemRoom;
        /// How much of a write of size bytes goes in (less: a quota no room check sees).
        std::function<qint64(qint64 size)> takes = [](qint64 size) {
            return size;
        };
    };
    void setDisk(Disk disk) { m_disk = std::move(disk); }
    static std::optional<qint64> systemRoom(const QString& path);
    /// Left free on a nearly full disk: for the file system's own records, and for others.
    static constexpr qint64 kRoomReserve = 16 << 10;

    /// Logs whole lines (each ending in LF) with one append: after the lines that wait, or as
    /// the last of them when the file cannot be written (those beyond kWaitingLimit dropped).
    /// Nothing when everything is in the file.
    std::optional<Failure> log(const QByteArray& lines);
    /// Tries the waiting lines again: whole lines, in order, as far as the file takes them
    /// and the disk has room for them.
    std::optional<Failure> writeWaiting();
    /// How many lines wait now; how many have waited, and how many were dropped, since the
    /// counts were last reset.
    qsizetype waitingLines() const { return m_waitingLines; }
    qint64 waitedLines() const { return m_waited; }
    qint64 droppedLines() const { return m_dropped; }
    /// Forgets the waited and dropped counts once they have been told.
    void resetCounts() {
        m_waited = 0;
        m_dropped = 0;
    }

private:
    struct Appended {
        qsizetype kept = 0; ///< the whole lines that went in, from the start
        std::optional<Failure> failure;
        bool elsewhere = false; ///< the path names another file than the one claimed
    };
    /// Appends to the file claimed (claimed first where none is, or again where the path
    /// names another file now).
    Appended append(QByteArrayView lines);
    /// Appends to the path when it still names the file claimed.
    Appended appendToClaimed(QByteArrayView lines);
    std::optional<Failure> stillWaiting(const Failure& failure);

    LogClaim m_claim;
    Disk m_disk;
    QByteArray m_waiting;    // whole lines, oldest first, from m_written on
    qsizetype m_written = 0; // how much of m_waiting is in the file already
    qsizetype m_waitingLines = 0;
    qsizetype m_uncounted = 0; // the newest waiting lines, not yet counted as waited
    qint64 m_waited = 0;
    qint64 m_dropped = 0;
    bool m_probe = false; // the disk was full: one line finds out whether there is room again
};
