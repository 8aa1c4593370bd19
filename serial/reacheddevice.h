#pragma once

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

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
    using Reach = std::function<ReachedDevice(const QString&)>;

    BackgroundOpen(const QString& device, Reach reach);
    /// Gives the open up: what it still reaches is closed.
    ~BackgroundOpen();
    BackgroundOpen(const BackgroundOpen&) = delete;
    BackgroundOpen& operator=(const BackgroundOpen&) = delete;

    /// Waits at most ms for the open to end; true when it has.
    bool wait(int ms);
    /// What the open reached, once it has ended.
    ReachedDevice take();

private:
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        bool abandoned = false;
        ReachedDevice result;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace serial
