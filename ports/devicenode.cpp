#include "devicenode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#ifdef Q_OS_UNIX
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#endif

namespace serial {

#ifdef Q_OS_UNIX

namespace {

QString userName(uid_t uid) {
    const passwd* user = ::getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid) {
    const group* owner = ::getgrgid(gid);
    return owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(gid);
}

// The folders Qt Serial Port looks in, in its order: the first that can be read and either
// holds the file or can be written.
const QStringList kLockFolders{QStringLiteral("/var/lock"),
                               QStringLiteral("/etc/locks"),
                               QStringLiteral("/var/spool/locks"),
                               QStringLiteral("/var/spool/uucp"),
                               QStringLiteral("/tmp"),
                               QStringLiteral("/var/tmp"),
                               QStringLiteral("/var/lock/lockdev"),
                               QStringLiteral("/run/lock")};

} // namespace

DeviceNode inspectNode(const QString& path) {
    DeviceNode node;
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        return node;
    }
    node.kind = S_ISCHR(status.st_mode)   ? DeviceNode::Kind::CharacterDevice
                : S_ISREG(status.st_mode) ? DeviceNode::Kind::RegularFile
                : S_ISDIR(status.st_mode) ? DeviceNode::Kind::Directory
                                          : DeviceNode::Kind::Other;
    node.owner = userName(status.st_uid);
    node.group = groupName(status.st_gid);
    node.rootGroup = status.st_gid == 0;
    node.permissions = status.st_mode & 0777;
    return node;
}

std::optional<PortLock> portLock(const QString& device) {
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(u'/', u'_');
    for (const QString& folder : kLockFolders + QStringList{QDir::tempPath()}) {
        QFile file(folder + QStringLiteral("/LCK..") + name);
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        PortLock lock;
        lock.file = QFileInfo(file).canonicalFilePath();
        // Qt writes the number on the first line; UUCP programs right-aligned in ten places.
        lock.pid = file.readLine(64).trimmed().toLongLong();
        struct stat status {};
        if (::stat(QFile::encodeName(lock.file).constData(), &status) == 0) {
            lock.owner = userName(status.st_uid);
        }
        if (lock.pid > 0) {
            lock.running = ::kill(pid_t(lock.pid), 0) == 0 || errno == EPERM;
            QFile comm(QStringLiteral("/proc/%1/comm").arg(lock.pid));
            if (lock.running && comm.open(QIODevice::ReadOnly)) {
                lock.program = QString::fromLocal8Bit(comm.readAll().trimmed());
            }
        }
        return lock;
    }
    return std::nullopt;
}

bool deviceExists(const QString& device) {
    return QFileInfo::exists(device);
}

#else

bool deviceExists(const QString& device) {
#ifdef Q_OS_WIN
    // An unplugged adapter's COM name goes with it.
    wchar_t target[512];
    return ::QueryDosDeviceW(reinterpret_cast<const wchar_t*>(device.utf16()), target, 512) != 0;
#else
    return QFileInfo::exists(device);
#endif
}

DeviceNode inspectNode(const QString&) {
    return {DeviceNode::Kind::CharacterDevice, {}, {}, false, 0};
}

std::optional<PortLock> portLock(const QString&) {
    return std::nullopt;
}

#endif

} // namespace serial
