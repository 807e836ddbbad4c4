#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <thread>

using namespace ostrelcomm;

TEST(NotificationCenter, DeliversSynchronouslyInRegistrationOrder) {
    NotificationCenter center;
    std::vector<std::string> seen;
    auto caller = std::this_thread::get_id();
    center.addObserver("ping", [&](const Notification& n) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        seen.push_back("first:" + *userInfoValue<std::string>(n.userInfo, "Result"));
    });
    center.addObserver("other", [&](const Notification&) { seen.push_back("other"); });
    center.addObserver("ping", [&](const Notification&) { seen.push_back("second"); });
    center.post("ping", {{"Result", std::string("ok")}});
    EXPECT_EQ(seen, (std::vector<std::string>{"first:ok", "second"}));
}

TEST(NotificationCenter, ObserversMayRemoveAndAddDuringAPost) {
    NotificationCenter center;
    std::vector<std::string> seen;
    NotificationCenter::Token self = 0, later = 0;
    self = center.addObserver("n", [&](const Notification&) {
        seen.push_back("self");
        center.removeObserver(self);
        center.addObserver("n", [&](const Notification&) { seen.push_back("added"); });
    });
    center.addObserver("n", [&](const Notification&) {
        seen.push_back("remover");
        center.removeObserver(later);
    });
    later = center.addObserver("n", [&](const Notification&) { seen.push_back("removed-before-its-turn"); });
    center.post("n");
    EXPECT_EQ(seen, (std::vector<std::string>{"self", "remover"}));
    seen.clear();
    center.post("n");
    EXPECT_EQ(seen, (std::vector<std::string>{"remover", "added"}));
}

TEST(NotificationCenter, NullObjectIsNotAValue) {
    UserInfo info{{"httpError", NullObject{}}};
    EXPECT_EQ(userInfoValue<std::string>(info, "httpError"), nullptr);
    EXPECT_TRUE(isNullObject(info.at("httpError")));
    EXPECT_EQ(userInfoValue<std::string>(info, "missing"), nullptr);
}

TEST(NotificationCenter, ConcurrentPostsAndRegistrations) {
    NotificationCenter center;
    std::atomic<int> delivered{0};
    auto poster = [&] {
        for (int i = 0; i < 2000; ++i) center.post("n", {{"i", i}});
    };
    auto registrar = [&] {
        for (int i = 0; i < 500; ++i) {
            auto t = center.addObserver("n", [&](const Notification&) { ++delivered; });
            center.removeObserver(t);
        }
    };
    center.addObserver("n", [&](const Notification&) { ++delivered; });
    std::thread a(poster), b(poster), c(registrar), d(registrar);
    a.join();
    b.join();
    c.join();
    d.join();
    EXPECT_GE(delivered.load(), 4000);
}
