#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/ReusedThreads.h"

using ostrelcomm::ReusedThreads;

// Work that waits on other work must never wait for a thread: each piece
// that finds no idle thread gets one of its own. Eight pieces that only end
// once all eight run at the same time would hang on any fixed number of
// threads below eight.
TEST(ReusedThreads, WorkWaitingOnOtherWorkAlwaysGetsAThread) {
    constexpr int kPieces = 8;
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;
    std::vector<ReusedThreads::Task> tasks(kPieces);
    for (auto& task : tasks) {
        ASSERT_TRUE(task.start([&] {
            std::unique_lock lock(mutex);
            ++running;
            changed.notify_all();
            changed.wait(lock, [&] { return running == kPieces; });
        }));
    }
    for (auto& task : tasks) task.wait();
    EXPECT_EQ(running, kPieces);
}

// The point of the pool: work handed over one piece after the other runs on
// a thread kept from the piece before, and a Task's wait sees what its work
// wrote.
TEST(ReusedThreads, WorkOneAfterTheOtherRunsOnAKeptThread) {
    std::set<std::thread::id> seen;
    for (int i = 0; i < 20; ++i) {
        ReusedThreads::Task task;
        std::thread::id id;
        ASSERT_TRUE(task.start([&] { id = std::this_thread::get_id(); }));
        task.wait();
        EXPECT_NE(id, std::this_thread::get_id());
        seen.insert(id);
    }
    // Other tests' threads may be busy or idle too; a thread per piece
    // would give twenty.
    EXPECT_LT(seen.size(), 20u);
}

// A Task's end is the end of everything its work held (a block's buffer, a
// descriptor), as with a joined thread.
TEST(ReusedThreads, WhatTheWorkHoldsIsGoneWhenItsTaskEnds) {
    auto held = std::make_shared<int>(7);
    std::weak_ptr<int> watch = held;
    ReusedThreads::Task task;
    ASSERT_TRUE(task.start([kept = std::move(held)] { EXPECT_EQ(*kept, 7); }));
    task.wait();
    EXPECT_TRUE(watch.expired());
}
