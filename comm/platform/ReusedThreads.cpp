#include "platform/ReusedThreads.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace ostrelcomm {

namespace {

// Long enough to carry a transfer's threads from one block to the next and
// from one request to the next; short enough that an idle client holds none.
constexpr auto kIdleEnd = std::chrono::seconds(10);

struct Pool {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::function<void()>> waiting;
    std::size_t idle = 0;
    std::size_t threads = 0;

    void serve() {
        std::unique_lock lock(mutex);
        for (;;) {
            ++idle;
            const bool got = arrived.wait_for(lock, kIdleEnd, [this] { return !waiting.empty(); });
            --idle;
            if (!got) {
                --threads;
                return;
            }
            std::function<void()> work = std::move(waiting.front());
            waiting.pop_front();
            lock.unlock();
            // What the work holds goes with it, before the thread waits again.
            { std::function<void()> mine = std::move(work); mine(); }
            lock.lock();
        }
    }
};

Pool& pool() {
    static auto* shared = new Pool;
    return *shared;
}

}  // namespace

bool ReusedThreads::run(std::function<void()> work) {
    Pool& p = pool();
    std::unique_lock lock(p.mutex);
    p.waiting.push_back(std::move(work));
    if (p.idle >= p.waiting.size()) {
        lock.unlock();
        p.arrived.notify_one();
        return true;
    }
    try {
        std::thread([&p] { p.serve(); }).detach();
        ++p.threads;
        return true;
    } catch (...) {
        // No thread (or no memory for one): the work must not stay queued
        // to run later, after its starter stopped waiting for it.
        p.waiting.pop_back();
        return false;
    }
}

std::size_t ReusedThreads::threadCount() {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    return p.threads;
}

struct ReusedThreads::Task::State {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

bool ReusedThreads::Task::start(std::function<void()> work) {
    wait();
    auto state = std::make_shared<State>();
    const bool started = run([state, work = std::move(work)]() mutable {
        {
            std::function<void()> mine = std::move(work);
            mine();
        }
        {
            std::lock_guard lock(state->mutex);
            state->done = true;
        }
        state->ended.notify_all();
    });
    if (started) state_ = std::move(state);
    return started;
}

void ReusedThreads::Task::wait() {
    if (!state_) return;
    {
        std::unique_lock lock(state_->mutex);
        state_->ended.wait(lock, [this] { return state_->done; });
    }
    state_.reset();
}

}  // namespace ostrelcomm
