#include "reacheddevice.h"

#include <chrono>
#include <thread>

namespace serial {

BackgroundOpen::BackgroundOpen(const QString& device, Reach reach) {
    // Detached: an open blocked in the driver cannot be interrupted, and the program must be
    // able to end meanwhile. The thread holds its own share of the state.
    std::thread([state = m_state, device, reach = std::move(reach)] {
        ReachedDevice reached = reach(device);
        const std::lock_guard lock(state->mutex);
        if (!state->abandoned) {
            state->result = std::move(reached);
        }
        state->done = true;
        state->ended.notify_all();
    }).detach();
}

BackgroundOpen::~BackgroundOpen() {
    const std::lock_guard lock(m_state->mutex);
    m_state->abandoned = true;
    // Taken out of the state, closed here rather than whenever the last share goes.
    (void)std::exchange(m_state->result, {});
}

bool BackgroundOpen::wait(int ms) {
    std::unique_lock lock(m_state->mutex);
    return m_state->ended.wait_for(lock, std::chrono::milliseconds(ms),
                                   [this] { return m_state->done; });
}

ReachedDevice BackgroundOpen::take() {
    const std::lock_guard lock(m_state->mutex);
    return std::exchange(m_state->result, {});
}

} // namespace serial
