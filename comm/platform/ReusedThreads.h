#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace ostrelcomm {

// Runs short pieces of work on threads kept from earlier work. Starting a
// thread costs little, but a new thread may wait milliseconds for its first
// turn on a processor while the thread that made it keeps busy (as a thread
// sending a block does), which is longer than the work a transfer hands
// off per block; a thread that already exists and waits is woken far sooner.
//
// An idle thread takes the work at once; a new thread is started only when
// none is idle, so work never waits for other work to end and work that
// waits on other work cannot deadlock. A thread idle for a while ends.
// Never destroyed: a thread may still be ending while the program exits.
class ReusedThreads {
public:
    // Runs `work` on a kept or new thread. False, with `work` dropped unrun,
    // when there is no idle thread and none can be started.
    static bool run(std::function<void()> work);

    // Threads kept now, busy or idle; for tests.
    static std::size_t threadCount();

    // Work on a kept thread that its starter waits for, as it would join a
    // thread of its own. Waited for at the latest when it is destroyed.
    class Task {
    public:
        Task() = default;
        ~Task() { wait(); }
        Task(const Task&) = delete;
        Task& operator=(const Task&) = delete;

        // False, with `work` dropped unrun, when no thread can be had.
        bool start(std::function<void()> work);
        // Returns once the work started last has ended (at once if none).
        void wait();

    private:
        struct State;
        std::shared_ptr<State> state_;
    };
};

}  // namespace ostrelcomm
