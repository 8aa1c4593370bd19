#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

/// A folder that misbehaves as a network share (NFS, SMB) does: path() is a FUSE mount of
/// backing(), served by zel-faultyfolder, whose commands (see tools/faultyfolder/main.cpp) hold
/// requests, lose written data, refuse truncation, run out of room or refuse locks.
///
///     FaultyFolder folder(ZEL_FAULTYFOLDER);
///     if (!folder.start())
///         QSKIP(FaultyFolder::unavailable);
///     QVERIFY(folder.command("fail-sync"));
class FaultyFolder {
public:
    static constexpr const char* unavailable =
        "no FUSE here: /dev/fuse is missing or cannot be mounted";

    explicit FaultyFolder(const QString& program) : m_program(program) {
        QDir(m_dir.path()).mkpath("backing");
        QDir(m_dir.path()).mkpath("mount");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    FaultyFolder(const FaultyFolder&) = delete;
    FaultyFolder& operator=(const FaultyFolder&) = delete;

    ~FaultyFolder() {
        if (m_process.state() == QProcess::NotRunning) {
            return;
        }
        // Held requests go on first, or the test's own calls could keep the mount busy.
        m_process.write("release\n");
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(1000);
            QProcess::execute("fusermount3", {"-u", "-z", path()});
        }
    }

    /// Mounts the folder; false where FUSE cannot be used.
    bool start() {
        if (m_program.isEmpty() || !m_dir.isValid() || !QFile::exists("/dev/fuse")) {
            return false;
        }
        m_process.start(m_program, {backing(), path()});
        return answer("ready", 5000);
    }

    QString path() const { return m_dir.filePath("mount"); }
    QString backing() const { return m_dir.filePath("backing"); }

    /// Sends one command and waits until it is in force.
    bool command(const QByteArray& line) {
        if (m_process.state() != QProcess::Running) {
            return false;
        }
        m_process.write(line + '\n');
        return answer("ok", 5000);
    }

private:
    bool answer(const QByteArray& expected, int timeoutMs) {
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine()) {
            if (deadline.hasExpired() ||
                !m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                return false;
            }
        }
        return m_process.readLine().trimmed() == expected;
    }

    QString m_program;
    QTemporaryDir m_dir;
    QProcess m_process;
};
