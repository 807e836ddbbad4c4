#include <gtest/gtest.h>

#include <future>
#include <set>

#include "platform/AppInfo.h"
#include "platform/IntExtensions.h"
#include "platform/LocalizedString.h"
#include "platform/SerialQueue.h"
#include "platform/Uuid.h"

using namespace ostrelcomm;

TEST(ToHoursMinutesSeconds, Table) {
    using T = std::tuple<std::int64_t, std::int64_t, std::int64_t>;
    EXPECT_EQ(toHoursMinutesSeconds(3725), T(1, 2, 5));
    EXPECT_EQ(toHoursMinutesSeconds(59), T(0, 0, 59));
    EXPECT_EQ(toHoursMinutesSeconds(86400), T(24, 0, 0));
    EXPECT_EQ(toHoursMinutesSeconds(-61), T(0, -1, -1));
    EXPECT_EQ(toHoursMinutesSeconds(0), T(0, 0, 0));
}

TEST(Uuid, UpperCaseAndUnique) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        auto id = newUuidString();
        ASSERT_TRUE(isUuidString(id)) << id;
        for (char c : id) EXPECT_FALSE(c >= 'a' && c <= 'z') << id;
        EXPECT_TRUE(seen.insert(id).second);
    }
    EXPECT_FALSE(isUuidString("not-a-uuid"));
}

TEST(LocalizedString, MissingKeyReturnsTheKey) {
    EXPECT_EQ(localizedString("Localizable", "NoSuchKey"), "NoSuchKey");
    EXPECT_EQ(localizedString("NoSuchTable", "Key"), "Key");
}

TEST(AppInfo, SetAndRead) {
    auto saved = AppInfo::current();
    AppInfo::set({"App", "1.2", "34", "c", "p."});
    EXPECT_EQ(AppInfo::current().shortVersion, "1.2");
    AppInfo::set(saved);
}

TEST(SerialQueue, RunsTasksInOrderOnItsOwnThread) {
    std::vector<int> order;
    std::promise<void> done;
    auto caller = std::this_thread::get_id();
    {
        SerialQueue queue("test");
        for (int i = 0; i < 100; ++i)
            queue.async([&, i] {
                EXPECT_NE(std::this_thread::get_id(), caller);
                EXPECT_TRUE(queue.isCurrent());
                order.push_back(i);
            });
        queue.async([&] { done.set_value(); });
        ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    }
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(SerialQueue, DestructionRunsWhatWasQueued) {
    std::atomic<int> ran{0};
    {
        SerialQueue queue;
        for (int i = 0; i < 50; ++i) queue.async([&] { ++ran; });
    }
    EXPECT_EQ(ran.load(), 50);
}

TEST(SerialQueue, MayBeDestroyedFromItsOwnTask) {
    std::promise<void> done;
    auto* queue = new SerialQueue("self");
    queue->async([&] {
        delete queue;
        done.set_value();
    });
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
}
