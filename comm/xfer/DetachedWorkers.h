#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <memory>
#include <utility>

#include "platform/ReusedThreads.h"

namespace ostrelcomm {

// The book-keeping of one kind of detached worker thread: how many still run
// (tests wait until none does, since a worker is never joined) and a hook
// tests may run at a worker's start. One static instance per kind, never
// destroyed: a worker may still be ending while the program exits.
template <class Hook>
class DetachedWorkers {
public:
    // Runs `work` on a detached (kept) thread, counted until `work` and
    // everything it holds are gone. False, with `work` dropped unrun, when
    // no thread can be had.
    template <class Work>
    bool launch(Work work) {
        {
            std::lock_guard lock(mutex_);
            ++live_;
        }
        // Held through a shared pointer: a kept thread takes copyable work only.
        auto held = std::make_shared<Work>(std::move(work));
        if (ReusedThreads::run([this, held]() mutable {
                {
                    Work mine = std::move(*held);
                    held.reset();
                    mine();
                }
                ended();
            })) {
            return true;
        }
        ended();
        return false;
    }

    Hook hook() const {
        std::lock_guard lock(mutex_);
        return hook_;
    }
    Hook replaceHook(Hook hook) {
        std::lock_guard lock(mutex_);
        return std::exchange(hook_, std::move(hook));
    }
    std::size_t live() const {
        std::lock_guard lock(mutex_);
        return live_;
    }
    bool waitForNone(std::chrono::milliseconds guard) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, guard, [this] { return live_ == 0; });
    }

private:
    void ended() {
        {
            std::lock_guard lock(mutex_);
            --live_;
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t live_ = 0;
    Hook hook_;
};

}  // namespace ostrelcomm
