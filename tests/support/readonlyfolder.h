#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

#include <sys/stat.h>

/// Makes a directory refuse new files, also to root (whose permissions chmod does not stop:
/// then the directory is made immutable). False when neither works here.
inline bool makeReadOnly(const QString& path, bool readOnly) {
    ::chmod(QFile::encodeName(path).constData(), readOnly ? 0555 : 0755);
    if (!readOnly) {
        QProcess::execute("chattr", {"-i", path});
        return true;
    }
    QFile probe(QDir(path).filePath("probe"));
    if (!probe.open(QIODevice::WriteOnly)) {
        return true;
    }
    probe.close();
    probe.remove();
    return QProcess::execute("chattr", {"+i", path}) == 0;
}
