#include "samplelog.h"

#include "numbertext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

QString SampleLog::besideProgram() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("app.txt"));
}

namespace {

// On Windows what a folder or file says of itself does not tell: Program Files is not
// read-only, yet only administrators may write there. Trying does.
bool canWriteIn(const QString& folder) {
#ifdef Q_OS_WIN
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("zel-XXXXXX.tmp")));
    return probe.open();
#else
    return QFileInfo(folder).isWritable();
#endif
}

// A file another program holds open for now (a spreadsheet showing it) can be written once
// it lets go: its lines wait, beside the program where the user looks for them.
bool canAppendTo(const QString& path) {
    const std::optional<SampleLog::Failure> failure = SampleLog::tryOpening(path);
    return !failure || failure->kind == SampleLog::Failure::Kind::HeldElsewhere;
}

// A piece of the waiting lines goes in at a time: a file's worth at once would fill the
// disk to its last byte, and be cut back to its last whole line, when there is less room.
constexpr qsizetype kPiece = 1 << 20;

// How much of lines is whole lines within most bytes.
qsizetype wholeLinesWithin(QByteArrayView lines, qint64 most) {
    if (most >= lines.size()) {
        return lines.size();
    }
    return most <= 0 ? 0 : lines.first(qsizetype(most)).lastIndexOf('\n') + 1;
}

} // namespace

SampleLog::Location SampleLog::chooseLocation(const QString& programFolder,
                                              const QString& dataFolder) {
    const QString beside = QDir(programFolder).filePath(QStringLiteral("app.txt"));
    const QFileInfo file(beside);
    if (file.exists() ? canAppendTo(beside) : canWriteIn(programFolder)) {
        return {beside, false, {}};
    }
    if (dataFolder.isEmpty() || !QDir().mkpath(dataFolder) || !canWriteIn(dataFolder)) {
        return {beside, false, {}};
    }
    // A read-only log in a folder the user may write is not the folder's fault.
    const QString why = file.exists()
                            ? QStringLiteral("the log beside the program, %1, is read-only")
                                  .arg(QDir::toNativeSeparators(beside))
                            : QStringLiteral("the program's folder %1 cannot be written")
                                  .arg(QDir::toNativeSeparators(programFolder));
    return {QDir(dataFolder).filePath(QStringLiteral("app.txt")), true, why};
}

SampleLog::Location SampleLog::defaultLocation() {
    return chooseLocation(QCoreApplication::applicationDirPath(),
                          QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
}

QByteArray SampleLog::line(qint64 position, const QString& red, const QString& green,
                           const QString& blue) {
    // Built byte by byte: this runs for every sample, up to a thousand times a second.
    const QString first = numbers::numberText(static_cast<double>(position) / 2);
    QByteArray line;
    line.reserve(first.size() + red.size() + green.size() + blue.size() + 16);
    const auto appendLatin1 = [&line](const QString& text) {
        for (const QChar c : text) {
            line.append(c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : '?');
        }
    };
    appendLatin1(first);
    line.append(", R=");
    appendLatin1(red);
    line.append(" G=");
    appendLatin1(green);
    line.append(" B=");
    appendLatin1(blue);
    line.append("\r\n");
    return line;
}

SampleLog::Appended SampleLog::append(QByteArrayView lines) {
    // The user may move the log away or delete it between lines: where the path names another
    // file now, it is claimed anew, so that no file another program claimed meanwhile is
    // written. A few tries: it may be replaced again in between.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (std::optional<Failure> failure = m_claim.claim()) {
            return {0, failure};
        }
        const Appended done = appendToClaimed(lines);
        if (!done.elsewhere && !(done.failure && done.kept == 0 && m_claim.removed())) {
            return done;
        }
        m_claim.release();
    }
    return {0, Failure{Failure::Kind::Other, QStringLiteral("it is replaced again and again")}};
}

std::optional<SampleLog::Failure> SampleLog::log(const QByteArray& lines) {
    const qsizetype count = lines.count('\n');
    if (m_written == m_waiting.size() && count == 1) {
        // The usual case: the line goes in alone, without asking the disk for room.
        const Appended done = append(lines);
        if (!done.failure) {
            return std::nullopt;
        }
        m_waiting = lines;
        m_written = 0;
        m_waitingLines = m_uncounted = 1;
        return stillWaiting(*done.failure);
    }
    // Several at once (the samples of a burst) go as far as the disk has room.
    const qsizetype fits = wholeLinesWithin(lines, kWaitingLimit - (m_waiting.size() - m_written));
    const qsizetype kept = lines.first(fits).count('\n');
    m_dropped += count - kept;
    m_waiting += lines.first(fits);
    m_waitingLines += kept;
    m_uncounted += kept;
    return writeWaiting();
}

std::optional<SampleLog::Failure> SampleLog::writeWaiting() {
    while (m_written < m_waiting.size()) {
        const QByteArrayView rest = QByteArrayView(m_waiting).sliced(m_written);
        qsizetype firstLine = rest.indexOf('\n') + 1;
        firstLine = firstLine > 0 ? firstLine : rest.size();
        // A line longer than a piece goes alone.
        qsizetype end = m_probe ? firstLine : std::max(wholeLinesWithin(rest, kPiece), firstLine);
        if (const std::optional<qint64> room = m_disk.room(path())) {
            end = std::min(end, wholeLinesWithin(rest, *room - kRoomReserve));
        }
        if (end == 0) {
            return stillWaiting(
                {Failure::Kind::DiskFull, QStringLiteral("there is no room left on its disk")});
        }
        const Appended done = append(rest.first(end));
        m_written += done.kept;
        m_waitingLines -= rest.first(done.kept).count('\n');
        if (done.failure) {
            return stillWaiting(*done.failure);
        }
        m_probe = false;
    }
    m_waiting.clear();
    m_written = 0;
    m_waitingLines = m_uncounted = 0;
    return std::nullopt;
}

std::optional<SampleLog::Failure> SampleLog::stillWaiting(const Failure& failure) {
    // Every line that waited is counted once, however many tries it waits for.
    m_waited += std::min(m_uncounted, m_waitingLines);
    m_uncounted = 0;
    m_probe = failure.kind == Failure::Kind::DiskFull;
    if (m_written > m_waiting.size() / 2) { // what went in goes, now and then
        m_waiting.remove(0, std::exchange(m_written, 0));
    }
    return failure;
}
