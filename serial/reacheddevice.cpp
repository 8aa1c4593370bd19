#include "reacheddevice.h"

#include <QElapsedTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace serial {

struct BackgroundOpen::State {
    QString device;
    std::mutex mutex;
    std::condition_variable ended;
    QElapsedTimer since;
    bool done = false;
    bool abandoned = false;
    bool closing = false; // given up when it ended: its thread closes what it reached
    int claims = 0;
    ReachedDevice result;
};

namespace {

constexpr auto kPatience = std::chrono::milliseconds(50);

// Until the open before it has closed what it reached, or this one is given up too.
void waitBehind(BackgroundOpen::State& before, BackgroundOpen::State& open) {
    for (;;) {
        {
            std::unique_lock lock(before.mutex);
            if (before.ended.wait_for(lock, kPatience, [&before] { return before.done; })) {
                return;
            }
        }
        const std::lock_guard lock(open.mutex);
        if (open.abandoned) {
            return;
        }
    }
}

} // namespace

BackgroundOpen::BackgroundOpen(std::shared_ptr<State> state) : m_state(std::move(state)) {
    const std::lock_guard lock(m_state->mutex);
    m_claim = ++m_state->claims;
    m_state->abandoned = false;
}

BackgroundOpen::~BackgroundOpen() {
    const std::lock_guard lock(m_state->mutex);
    if (m_state->claims != m_claim) {
        return; // a later open of the device has joined it
    }
    m_state->abandoned = true;
    // Taken out of the state, closed here rather than whenever the last share goes.
    (void)std::exchange(m_state->result, {});
}

bool BackgroundOpen::wait(int ms) {
    std::unique_lock lock(m_state->mutex);
    return m_state->ended.wait_for(lock, std::chrono::milliseconds(ms),
                                   [this] { return m_state->done; });
}

qint64 BackgroundOpen::underWayMs() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->since.elapsed();
}

ReachedDevice BackgroundOpen::take() {
    const std::lock_guard lock(m_state->mutex);
    return std::exchange(m_state->result, {});
}

DeviceOpens::DeviceOpens(Reach reach) : m_reach(std::move(reach)) {}

std::unique_ptr<BackgroundOpen> DeviceOpens::open(const QString& device) {
    std::shared_ptr<BackgroundOpen::State> before;
    for (auto it = m_underWay.begin(); it != m_underWay.end();) {
        auto& state = **it;
        std::unique_lock lock(state.mutex);
        if (state.done) {
            lock.unlock();
            it = m_underWay.erase(it);
            continue;
        }
        if (state.device == device) {
            if (!state.closing) {
                lock.unlock();
                return std::unique_ptr<BackgroundOpen>(new BackgroundOpen(*it));
            }
            before = *it;
        }
        ++it;
    }
    auto state = std::make_shared<BackgroundOpen::State>();
    state->device = device;
    state->since.start();
    m_underWay.push_back(state);
    // Detached: an open blocked in the driver cannot be interrupted, and the program must be
    // able to end meanwhile. The thread holds its own share of the state.
    std::thread([state, before, reach = m_reach] {
        if (before) {
            waitBehind(*before, *state);
        }
        std::unique_lock lock(state->mutex);
        if (!state->abandoned) {
            lock.unlock();
            ReachedDevice reached = reach(state->device);
            lock.lock();
            if (!state->abandoned) {
                state->result = std::move(reached);
            } else {
                // Closed before the open counts as ended: the next open of the device waits
                // for it instead of being refused by it.
                state->closing = true;
                lock.unlock();
                reached = {};
                lock.lock();
            }
        }
        state->done = true;
        state->ended.notify_all();
    }).detach();
    return std::unique_ptr<BackgroundOpen>(new BackgroundOpen(state));
}

} // namespace serial
