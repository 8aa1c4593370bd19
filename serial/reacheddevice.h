#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace serial {

/// A device opened ahead of its line, or why it could not be: the system's descriptor (a
/// file descriptor, or a Windows handle) and error number. Closes what it holds unless a
/// line took it.
class ReachedDevice {
public:
    ReachedDevice() = default;
    ReachedDevice(qintptr handle, long error) : m_handle(handle), m_error(error) {}
    ReachedDevice(ReachedDevice&& other) noexcept
        : m_handle(std::exchange(other.m_handle, kNone)), m_error(other.m_error) {}
    ReachedDevice& operator=(ReachedDevice&& other) noexcept {
        if (this != &other) {
            release();
            m_handle = std::exchange(other.m_handle, kNone);
            m_error = other.m_error;
        }
        return *this;
    }
    ~ReachedDevice() { release(); }

    static constexpr qintptr kNone = -1;

    bool reached() const { return m_handle != kNone; }
    /// The system's error number when it was not reached; 0 when it was not tried.
    long error() const { return m_error; }
    /// The descriptor, now the caller's to close.
    qintptr take() { return std::exchange(m_handle, kNone); }

private:
    void release();

    qintptr m_handle = kNone;
    long m_error = 0;
};

/// Opens device for reading and writing as this platform's line does, blocking; on any
/// thread. A Bluetooth port whose device is off can take seconds to answer.
ReachedDevice reachDevice(const QString& device);

/// One open of a device under way on a thread of its own, so that the window never waits
/// for it. An open that is no longer wanted when it ends is closed again by that thread.
class BackgroundOpen {
public:
    /// Gives the open up: what it still reaches is closed, unless the next open of the same
    /// device joins it first.
    ~BackgroundOpen();
    BackgroundOpen(const BackgroundOpen&) = delete;
    BackgroundOpen& operator=(const BackgroundOpen&) = delete;

    /// Waits at most ms for the open to end; true when it has.
    bool wait(int ms);
    /// How long the open has been under way, joined ones included.
    qint64 underWayMs() const;
    /// What the open reached, once it has ended.
    ReachedDevice take();

    struct State; ///< shared with the open's thread

private:
    friend class DeviceOpens;
    explicit BackgroundOpen(std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
    int m_claim = 0; // which of the opens that joined this one it is
};

/// The opens under way, at most one per device. A device that does not answer keeps its
/// open's thread in the driver, and a COM port refuses a second open while the first one is
/// pending or holds it: so the next open of the same device (Connect again, a retry while
/// waiting) joins the one under way instead of starting another, and one that is still
/// closing what it reached too late is waited for, on the new open's thread.
class DeviceOpens {
public:
    using Reach = std::function<ReachedDevice(const QString&)>;

    explicit DeviceOpens(Reach reach);

    /// An open of device: the one under way, or a new one.
    std::unique_ptr<BackgroundOpen> open(const QString& device);

private:
    Reach m_reach;
    std::vector<std::shared_ptr<BackgroundOpen::State>> m_underWay;
};

} // namespace serial
