#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>

#include <sys/stat.h>

/// Makes a directory refuse new files, or a file refuse writing, also to root (whose
/// permissions chmod does not stop: then it is made immutable). False when neither works here.
inline bool makeReadOnly(const QString& path, bool readOnly) {
    const bool folder = QFileInfo(path).isDir();
    ::chmod(QFile::encodeName(path).constData(), readOnly ? 0555 : 0755);
    if (!readOnly) {
        QProcess::execute("chattr", {"-i", path});
        return true;
    }
    QFile probe(folder ? QDir(path).filePath("probe") : path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return true;
    }
    probe.close();
    QFile::remove(QDir(path).filePath("probe"));
    return QProcess::execute("chattr", {"+i", path}) == 0;
}

/// Makes the path writable again when it goes out of scope.
struct WritableAgain {
    QString path;
    ~WritableAgain() { makeReadOnly(path, false); }
};
