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

} // namespace

qsizetype SampleLog::wholeLinesWithin(QByteArrayView lines, qint64 most) {
    if (most >= lines.size()) {
        return lines.size();
    }
    return most <= 0 ? 0 : lines.first(qsizetype(most)).lastIndexOf('\n') + 1;
}

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
    const qsizetype fits = wholeLinesWithin(lines, kWaitingLimit - waitingBytes());
    const qsizetype kept = lines.first(fits).count('\n');
    m_dropped += lines.count('\n') - kept;
    if (m_written == m_waiting.size()) {
        m_waiting = lines.first(fits); // the usual case: nothing waits, no copy
        m_written = 0;
    } else {
        m_waiting += lines.first(fits);
    }
    m_waitingLines += kept;
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
        const qsizetype lines = rest.first(done.kept).count('\n');
        m_written += done.kept;
        m_waitingLines -= lines;
        m_writtenLines += lines;
        if (done.failure) {
            return stillWaiting(*done.failure);
        }
        m_probe = false;
    }
    m_waiting.clear();
    m_written = 0;
    m_waitingLines = 0;
    return std::nullopt;
}

std::optional<SampleLog::Failure> SampleLog::stillWaiting(const Failure& failure) {
    m_probe = failure.kind == Failure::Kind::DiskFull;
    if (m_written > m_waiting.size() / 2) { // what went in goes, now and then
        m_waiting.remove(0, std::exchange(m_written, 0));
    }
    return failure;
}

SampleLog::Appended SampleLog::appendToClaimed(QByteArrayView lines) {
    LogFile file(path());
    if (file.openFailure()) {
        return {0, file.openFailure()};
    }
    if (!m_claim.holds(file.handle())) {
        return {0, std::nullopt, true};
    }
    const qint64 before = file.size();
    qsizetype written = 0;
    std::optional<Failure> failure;
    while (written < lines.size() && !failure) {
        const qint64 most = m_disk.takes(lines.size() - written);
        Failure why{Failure::Kind::DiskFull, QStringLiteral("there is no room left on its disk")};
        const qint64 n = most > 0 ? file.append(lines.data() + written, most, why) : 0;
        if (n <= 0) {
            failure = why;
        } else {
            written += n;
        }
    }
    if (!failure) {
        failure = file.closeConfirmed();
    }
    return {failure ? settle(file, before, lines, written) : written, failure};
}

qsizetype SampleLog::settle(LogFile& file, qint64 before, QByteArrayView lines, qsizetype written) {
    // Where the file was closed, it is opened again to see what of the append it kept: a
    // network folder whose write-back failed may have kept some, all or none of it.
    std::optional<LogFile> reopened;
    if (file.handle() == -1) {
        reopened.emplace(path());
        if (reopened->openFailure() || !m_claim.holds(reopened->handle())) {
            return 0; // it cannot tell: all is tried again
        }
    }
    LogFile& now = reopened ? *reopened : file;
    const qint64 size = now.size();
    if (before < 0 || size < before) {
        return 0;
    }
    // Only bytes of this append count, as far as the file has them.
    const QByteArray landed = now.read(before, written);
    qsizetype kept = 0;
    while (kept < landed.size() && landed[kept] == lines[kept]) {
        ++kept;
    }
    const qsizetype whole = lines.first(kept).lastIndexOf('\n') + 1;
    // Whole lines: the rest of a line cut short is taken out again, or the next line would be
    // glued to it. Where the file system refuses that, the piece stays and the line's rest
    // follows it, so that no line is torn.
    if (size > before + whole && !now.truncate(before + whole)) {
        m_pieceKept = kept > whole;
        return kept;
    }
    return whole;
}
