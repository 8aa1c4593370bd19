#pragma once

#include "logclaim.h"
#include "logfile.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

/// The log file "app.txt": one line per plotted sample. Each append opens the file, writes and
/// closes it (LogFile), so that other programs may read, move or delete it between appends;
/// an append counts once the file system confirmed it at its close. Lines that cannot go in
/// (another program holds the file, the disk is full, a network folder failed the write)
/// wait, in order, and go in before the next line once the file can be written again, each
/// exactly once and whole. The file is claimed (LogClaim) with the first line: path, or a file
/// of its own beside it while another program running at the same time logs to path; nothing
/// is written to a file not claimed. Its calls may wait as long as the file system does: the
/// window hands its lines to a LogWriter, which makes them on a thread of its own.
class SampleLog {
public:
    explicit SampleLog(QString path) : m_claim(std::move(path)) {}

    /// At most this much waits while the file cannot be written: half an hour of samples at
    /// the full line rate, days at a sensor's usual pace. Samples beyond it are dropped.
    static constexpr qsizetype kWaitingLimit = 64 << 20;
    /// How much of lines is whole lines within most bytes.
    static qsizetype wholeLinesWithin(QByteArrayView lines, qint64 most);

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

    /// Logs whole lines (each ending in LF) after the lines that wait, those beyond
    /// kWaitingLimit dropped, and writes what the file takes. Nothing when everything is in.
    std::optional<Failure> log(const QByteArray& lines);
    /// Tries the waiting lines again: whole lines, in order, as far as the file takes them
    /// and the disk has room for them beyond kRoomReserve, one rule for one line and many.
    std::optional<Failure> writeWaiting();
    /// How many lines wait now and how many of them; how many went in and how many were
    /// dropped, in all.
    qsizetype waitingLines() const { return m_waitingLines; }
    qsizetype waitingBytes() const { return m_waiting.size() - m_written; }
    qint64 writtenLines() const { return m_writtenLines; }
    qint64 droppedLines() const { return m_dropped; }
    /// The file system would not cut back a line begun by an append that failed: its first
    /// part stays in the file and its rest is written first. Said once.
    bool pieceKeptSinceAsked() { return std::exchange(m_pieceKept, false); }
    /// Whether the claim holds no lock: the file system has none (NFS without its lock
    /// service), so another program could log to the same file.
    bool unlocked() const { return m_claim.unlocked(); }

private:
    struct Appended {
        qsizetype kept = 0; ///< what went in, from the start: whole lines where it can be
        std::optional<Failure> failure;
        bool elsewhere = false; ///< the path names another file than the one claimed
    };
    /// Appends to the file claimed (claimed first where none is, or again where the path
    /// names another file now).
    Appended append(QByteArrayView lines);
    /// Appends to the path when it still names the file claimed.
    Appended appendToClaimed(QByteArrayView lines);
    /// After an append that failed, what of it the file has: the whole lines that went in.
    /// The rest is cut off again, or kept where the file system refuses that.
    qsizetype settle(LogFile& file, qint64 before, QByteArrayView lines, qsizetype written);
    std::optional<Failure> stillWaiting(const Failure& failure);

    LogClaim m_claim;
    Disk m_disk;
    QByteArray m_waiting;    // whole lines, oldest first, from m_written on
    qsizetype m_written = 0; // how much of m_waiting is in the file already
    qsizetype m_waitingLines = 0;
    qint64 m_writtenLines = 0;
    qint64 m_dropped = 0;
    bool m_pieceKept = false;
    bool m_probe = false; // the disk was full: one line finds out whether there is room again
};
