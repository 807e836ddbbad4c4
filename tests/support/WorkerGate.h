#pragma once

// Holds a worker thread at a hook until the test lets it go, and tells the
// test when one has arrived there: a block caught halfway, without sleeping.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace testsupport {

class WorkerGate {
public:
    static constexpr auto kGuard = std::chrono::seconds(30);

    ~WorkerGate() { open(); }

    // Called by the worker: counts its arrival, then waits until open().
    void arriveAndWait() {
        std::unique_lock lock(mutex_);
        ++arrived_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    // Waits (hang guard only) until `count` workers have arrived.
    bool waitForArrivals(std::size_t count = 1) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return arrived_ >= count; });
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t arrived_ = 0;
    bool open_ = false;
};

}  // namespace testsupport
