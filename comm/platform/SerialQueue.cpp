#include "platform/SerialQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace ostrelcomm {

struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;

    static void run(const std::shared_ptr<State>& state) {
        std::unique_lock lock(state->mutex);
        while (true) {
            state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
            if (state->tasks.empty()) return;
            auto task = std::move(state->tasks.front());
            state->tasks.pop_front();
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
        }
    }
};

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()), thread_([state = state_] { State::run(state); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_one();
    if (thread_.get_id() == std::this_thread::get_id()) {
        // Destroyed from its own task: the worker still owns the state and ends
        // after the remaining tasks; it cannot join itself.
        thread_.detach();
    } else {
        thread_.join();
    }
}

void SerialQueue::async(std::function<void()> task) {
    // The task may destroy this queue as soon as it is queued: touch only the
    // shared state from then on.
    auto state = state_;
    {
        std::lock_guard lock(state->mutex);
        state->tasks.push_back(std::move(task));
    }
    state->wake.notify_one();
}

bool SerialQueue::isCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }

}  // namespace ostrelcomm
