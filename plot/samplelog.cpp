#include "samplelog.h"

#include "numbertext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

QString SampleLog::besideProgram() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("app.txt"));
}

QByteArray SampleLog::line(qint64 position, const QString& red, const QString& green,
                           const QString& blue) {
    const QString text = numbers::numberText(static_cast<double>(position) / 2) +
                         QStringLiteral(", R=") + red + QStringLiteral(" G=") + green +
                         QStringLiteral(" B=") + blue + QStringLiteral("\r\n");
    return text.toLatin1();
}

QString SampleLog::append(const QByteArray& line) const {
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return file.errorString();
    }
    // A full disk may only show when the data leaves the buffer.
    if (file.write(line) != line.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.close();
        return reason;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        return file.errorString();
    }
    return {};
}
