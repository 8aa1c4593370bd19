#include "devicewatch.h"

#include <QFileSystemWatcher>

namespace serial {

namespace {

// The folders where the awaited device appears, watched with inotify: a node or a link that
// appears (or is replaced) changes its folder.
class FolderWatch : public DeviceWatch {
public:
    FolderWatch() {
        connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &DeviceWatch::appeared);
    }

    bool watch(const DeviceIdentity& awaited) override {
        stop();
        for (const QString& folder : foldersToWatch(awaited)) {
            (void)m_watcher.addPath(folder); // one that is not there yet is not watched
        }
        return !m_watcher.directories().isEmpty();
    }

    void stop() override {
        if (!m_watcher.directories().isEmpty()) {
            (void)m_watcher.removePaths(m_watcher.directories());
        }
    }

private:
    QFileSystemWatcher m_watcher;
};

} // namespace

std::unique_ptr<DeviceWatch> systemDeviceWatch() {
    return std::make_unique<FolderWatch>();
}

} // namespace serial
