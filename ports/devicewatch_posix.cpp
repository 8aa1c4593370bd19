#include "devicewatch.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

namespace serial {

namespace {

// The folders where the awaited device appears, watched with inotify: a node or a link that
// appears (or is replaced) changes its folder. A folder not made yet (/dev/serial/by-id
// before the first USB adapter) is watched for from the nearest folder above it, and itself
// once it is there.
class FolderWatch : public DeviceWatch {
public:
    /// One plug changes /dev and its link folders many times within a few milliseconds:
    /// they are told as one notice, so the port looks once.
    static constexpr int kGatherMs = 10;

    FolderWatch() {
        m_gather.setSingleShot(true);
        m_gather.setInterval(kGatherMs);
        connect(&m_gather, &QTimer::timeout, this, &DeviceWatch::appeared);
        connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
            watchWanted();
            if (!m_gather.isActive()) {
                m_gather.start(); // not pushed back by the next change: a steady stream is told too
            }
        });
    }

    bool watch(const DeviceIdentity& awaited) override {
        stop();
        m_wanted = foldersToWatch(awaited);
        watchWanted();
        return !m_watcher.directories().isEmpty();
    }

    void stop() override {
        m_wanted.clear();
        m_gather.stop();
        if (!m_watcher.directories().isEmpty()) {
            (void)m_watcher.removePaths(m_watcher.directories());
        }
    }

private:
    void watchWanted() {
        const QStringList watched = m_watcher.directories();
        for (const QString& folder : m_wanted) {
            const QString there = nearestExistingFolder(
                folder, [](const QString& path) { return QFileInfo(path).isDir(); });
            if (!there.isEmpty() && !watched.contains(there)) {
                (void)m_watcher.addPath(there);
            }
        }
    }

    QFileSystemWatcher m_watcher;
    QStringList m_wanted;
    QTimer m_gather;
};

} // namespace

std::unique_ptr<DeviceWatch> systemDeviceWatch() {
    return std::make_unique<FolderWatch>();
}

} // namespace serial
