#include "samplelog.h"

#include "numbertext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

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

bool canAppendTo(const QString& path) {
#ifdef Q_OS_WIN
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append);
#else
    return QFileInfo(path).isWritable();
#endif
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

#ifdef Q_OS_UNIX

QString SampleLog::append(const QByteArray& line) const {
    // Open, append, close: three calls, and O_APPEND puts the line at the end even when
    // another program writes to the file too.
    const QByteArray path = QFile::encodeName(m_path);
    int file = -1;
    do {
        file = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (file < 0 && errno == EINTR);
    if (file < 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    qsizetype written = 0;
    QString reason;
    while (written < line.size()) {
        const ssize_t n = ::write(file, line.constData() + written,
                                  static_cast<std::size_t>(line.size() - written));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            reason = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC));
            break;
        }
        written += n;
    }
    if (!reason.isEmpty() && written > 0) {
        // A line is in the log whole or not at all: what went in of it is taken out again,
        // or the next line would be glued to the half.
        const off_t end = ::lseek(file, 0, SEEK_END);
        if (end >= written) {
            while (::ftruncate(file, end - written) != 0 && errno == EINTR) {
            }
        }
    }
    // On Linux the file is closed even when close() is interrupted.
    if (::close(file) != 0 && errno != EINTR && reason.isEmpty()) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
    }
    return reason;
}

#else

QString SampleLog::append(const QByteArray& line) const {
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return file.errorString();
    }
    // A full disk may only show when the data leaves the buffer. A line is in the log whole
    // or not at all.
    const qint64 before = file.size();
    if (file.write(line) != line.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.resize(before);
        file.close();
        return reason;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        return file.errorString();
    }
    return {};
}

#endif
