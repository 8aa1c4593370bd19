#pragma once

#include <QByteArray>
#include <QString>

/// The log file "app.txt": one line per plotted sample, appended with the file opened and
/// closed around every line so that other programs may read, move or delete it any time.
class SampleLog {
public:
    explicit SampleLog(QString path) : m_path(std::move(path)) {}

    /// "app.txt" in the directory that holds the program.
    static QString besideProgram();

    /// Where the log goes: beside the program when its folder (or the file there) can be
    /// written, as for a build or a portable copy; else in the user's data folder, created
    /// as needed (an installed program in /usr/bin); when neither can be written, beside the
    /// program, where the failure will be reported.
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

    const QString& path() const { return m_path; }
    void setPath(QString path) { m_path = std::move(path); }

    /// Appends one line. Empty on success, else why the line could not be written.
    QString append(const QByteArray& line) const;

private:
    QString m_path;
};
