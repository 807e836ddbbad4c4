// Handing a session from one engine to another, and logging out.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "LoginTestSupport.h"
#include "devserver/DevServer.h"
#include "auth/SRPAuthMode.h"
#include "jobs/SrvComm.h"

namespace ostrelcomm {
namespace {

using namespace logintest;
using Lines = std::vector<std::string>;

// As the application does: on "Authenticated" the observer copies the
// session into the other engine.
NotificationCenter::Token handOver(const std::shared_ptr<SrvComm>& from, const std::shared_ptr<SrvComm>& to) {
    SrvComm* source = from.get();
    std::weak_ptr<SrvComm> target = to;
    return from->notifications()->addObserver(kLogin, [source, target](const Notification& n) {
        const auto* word = userInfoValue<std::string>(n.userInfo, "Result");
        auto other = target.lock();
        if (!word || *word != "Authenticated" || !other) return;
        // In one piece: the other engine may be handing its own session to
        // this one at the same moment.
        const auto session = source->sessionForHandOver();
        if (session) other->auth_setup(session->username, session->password, session->sessionID, session->sessionKey);
    });
}

TEST(LoginSession, ASecondEngineWorksWithTheFirstEnginesSession) {
    server();
    const std::string user = makeUser("two-engines", "pw");
    auto first = std::make_shared<SrvComm>();
    auto second = std::make_shared<SrvComm>();
    registerSignedStep(second);
    Recorder firstRecorder(first->notifications());
    Recorder secondRecorder(second->notifications());
    const auto token = handOver(first, second);

    first->auth_add(user, SecretBytes::fromText("pw"), SRPAuthMode::new_);
    ASSERT_TRUE(firstRecorder.waitIdle());
    first->notifications()->removeObserver(token);

    // Set at once: no job, no notification.
    EXPECT_TRUE(second->queue()->getJobsList().empty());
    EXPECT_TRUE(secondRecorder.lines().empty());
    EXPECT_EQ(second->authStatus(), UserAuthStatus::authFullAccess);
    EXPECT_EQ(second->username(), user);
    EXPECT_EQ(second->sessionID(), first->sessionID());
    EXPECT_EQ(second->sessionKey(), first->sessionKey());

    const std::size_t loginRequests = requestsOf(user).size();
    queueSignedJob(second);
    ASSERT_TRUE(secondRecorder.waitIdle());
    EXPECT_EQ(secondRecorder.lines(), (Lines{"loginTestDone:Completed", "jobQueueEmpty"}));
    const auto requests = requestsOf(user);
    ASSERT_EQ(requests.size(), loginRequests + 1);
    EXPECT_EQ(requests.back().values("x-sb-sessionid"), Lines{*first->sessionID()});

    // Logging the second engine out forgets its session locally only.
    secondRecorder.clear();
    second->auth_logout();
    ASSERT_TRUE(secondRecorder.waitIdle());
    EXPECT_EQ(secondRecorder.lines(), (Lines{"userLogout:Completed", "jobQueueEmpty"}));
    EXPECT_EQ(requestsOf(user).size(), loginRequests + 1);
    EXPECT_EQ(second->authStatus(), UserAuthStatus::notAuthenticated);
    EXPECT_FALSE(second->username());
    EXPECT_FALSE(second->password());
    EXPECT_FALSE(second->sessionID());
    EXPECT_FALSE(second->sessionKey());
    EXPECT_EQ(first->authStatus(), UserAuthStatus::authFullAccess);
    EXPECT_TRUE(server().sessions().find(*first->sessionID()));
}

// The other engine hands over a session of the same user while this
// engine's own login (a renewal, say) waits for one of its answers. Whatever
// the login then does, the engine keeps one whole session: never the
// handed-over identifier beside the login's key, nor the login's identifier
// beside the handed-over key, either of which would sign every later request
// for a session the key does not belong to.
TEST(LoginSession, AHandOverDuringALoginLeavesOneWholeSession) {
    server();
    struct Case {
        const char* what;
        const char* held;  // the method of the exchange held while the hand-over comes
        std::optional<devserver::Fault> secondExchange;
        const char* result;
        bool keepsHandedOver;
    };
    const Case cases[] = {
        {"during the second exchange", "POST", std::nullopt, "Authenticated", false},
        {"during the first exchange, the login failing", "GET",
         devserver::Fault::exception(500, "InternalServerError", "Not now"), "Error", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string user = makeUser("handed-over", "pw");
        auto first = std::make_shared<SrvComm>();
        auto second = std::make_shared<SrvComm>();
        registerSignedStep(second);
        Recorder firstRecorder(first->notifications());
        Recorder secondRecorder(second->notifications());
        first->auth_add(user, SecretBytes::fromText("pw"), SRPAuthMode::new_);
        ASSERT_TRUE(firstRecorder.waitIdle());

        devserver::Fault stall = devserver::Fault::stalled();
        stall.times = 1;
        server().setFault(c.held, "/authenticate/", stall);
        if (c.secondExchange) server().setFault("POST", "/authenticate/", *c.secondExchange);
        second->auth_add(user, SecretBytes::fromText("pw"), SRPAuthMode::new_);
        ASSERT_TRUE(
            server().waitForStalledRequests(1, std::chrono::duration_cast<std::chrono::milliseconds>(kGuard)));
        second->auth_setup(user, SecretBytes::fromText("pw"), *first->sessionID(), *first->sessionKey());
        server().releaseStalls();
        ASSERT_TRUE(secondRecorder.waitIdle());
        server().clearFaults();
        EXPECT_EQ(secondRecorder.last(kLogin)->result, c.result);

        EXPECT_EQ(second->sessionID() == first->sessionID(), c.keepsHandedOver);
        const auto session = server().sessions().find(*second->sessionID());
        ASSERT_TRUE(session);
        EXPECT_EQ(session->key, second->sessionKey()->copyOut());
        // And the server accepts what it signs.
        secondRecorder.clear();
        queueSignedJob(second);
        ASSERT_TRUE(secondRecorder.waitIdle());
        EXPECT_EQ(secondRecorder.lines(), (Lines{"loginTestDone:Completed", "jobQueueEmpty"}));
    }
}

// Each engine's observer runs under its own engine's lock and hands the
// session to the other at the same moment; auth_setup takes only the
// receiving engine's session mutex, so neither waits for the other's lock.
TEST(LoginSession, TwoEnginesHandTheirSessionsToEachOtherAtOnce) {
    server();
    for (int round = 0; round < 8; ++round) {
        const std::string userA = makeUser("swap-a", "pw");
        const std::string userB = makeUser("swap-b", "pw");
        auto a = std::make_shared<SrvComm>();
        auto b = std::make_shared<SrvComm>();
        Recorder recordA(a->notifications());
        Recorder recordB(b->notifications());
        const auto tokenA = handOver(a, b);
        const auto tokenB = handOver(b, a);
        std::thread startA([&] { a->auth_add(userA, SecretBytes::fromText("pw"), SRPAuthMode::new_); });
        std::thread startB([&] { b->auth_add(userB, SecretBytes::fromText("pw"), SRPAuthMode::new_); });
        startA.join();
        startB.join();
        ASSERT_TRUE(recordA.waitIdle());
        ASSERT_TRUE(recordB.waitIdle());
        a->notifications()->removeObserver(tokenA);
        b->notifications()->removeObserver(tokenB);
        // Whichever handed over last wins; both end with one consistent
        // session of one user.
        for (const auto& engine : {a, b}) {
            const auto user = engine->username();
            ASSERT_TRUE(user);
            const auto session = server().sessions().find(*engine->sessionID());
            ASSERT_TRUE(session);
            EXPECT_EQ(session->userName, *user);
            EXPECT_EQ(session->key, engine->sessionKey()->copyOut());
        }
    }
}

// Many rounds of both engines logging in at once (each handing its session
// to the other), both signing a request, then both logging out at once: every
// round ends with one consistent session the server accepts on each engine,
// and each logout leaves nothing of it.
TEST(LoginSession, TwoEnginesLogInHandOverAndLogOutAtOnceForManyRounds) {
    server();
    auto a = std::make_shared<SrvComm>();
    auto b = std::make_shared<SrvComm>();
    registerSignedStep(a);
    registerSignedStep(b);
    Recorder recordA(a->notifications());
    Recorder recordB(b->notifications());
    const auto tokenA = handOver(a, b);
    const auto tokenB = handOver(b, a);
    auto atOnce = [&](const std::function<void(SrvComm&)>& action) {
        std::thread onA([&] { action(*a); });
        std::thread onB([&] { action(*b); });
        onA.join();
        onB.join();
        ASSERT_TRUE(recordA.waitIdle());
        ASSERT_TRUE(recordB.waitIdle());
    };
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const std::string userA = makeUser("rounds-a", "pw");
        const std::string userB = makeUser("rounds-b", "pw");
        std::thread loginA([&] { a->auth_add(userA, SecretBytes::fromText("pw"), SRPAuthMode::new_); });
        std::thread loginB([&] { b->auth_add(userB, SecretBytes::fromText("pw"), SRPAuthMode::new_); });
        loginA.join();
        loginB.join();
        ASSERT_TRUE(recordA.waitIdle());
        ASSERT_TRUE(recordB.waitIdle());
        for (const auto& engine : {a, b}) {
            const auto session = server().sessions().find(engine->sessionID().value_or(""));
            ASSERT_TRUE(session);
            EXPECT_EQ(session->userName, engine->username());
            EXPECT_EQ(session->key, engine->sessionKey()->copyOut());
        }
        recordA.clear();
        recordB.clear();
        atOnce([](SrvComm& engine) { queueSignedJob(engine.shared_from_this()); });
        EXPECT_EQ(recordA.lines(), (Lines{"loginTestDone:Completed", "jobQueueEmpty"}));
        EXPECT_EQ(recordB.lines(), (Lines{"loginTestDone:Completed", "jobQueueEmpty"}));
        atOnce([](SrvComm& engine) { engine.auth_logout(); });
        for (const auto& engine : {a, b}) {
            EXPECT_FALSE(engine->sessionForHandOver().has_value());
            EXPECT_EQ(engine->authStatus(), UserAuthStatus::notAuthenticated);
        }
        recordA.clear();
        recordB.clear();
    }
    a->notifications()->removeObserver(tokenA);
    b->notifications()->removeObserver(tokenB);
}

TEST(LoginSession, LogoutOfAnEngineThatNeverLoggedInCompletes) {
    server();
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());
    const std::size_t sent = server().requestCount();
    const std::string id = engine->auth_logout();
    ASSERT_TRUE(recorder.waitIdle());
    EXPECT_EQ(recorder.lines(), (Lines{"userLogout:Completed", "jobQueueEmpty"}));
    const auto job = engine->queue()->getJobData(id);
    EXPECT_EQ(job->jobType, JobType::logout);
    EXPECT_EQ(job->jobSteps, 1u);
    EXPECT_EQ(job->priority, JobPriority::Normal);
    EXPECT_EQ(job->status, JobStatus::completed);
    EXPECT_EQ(server().requestCount(), sent);
    EXPECT_EQ(engine->authStatus(), UserAuthStatus::notAuthenticated);
    EXPECT_TRUE(engine->comLog().events().empty());
}

}  // namespace
}  // namespace ostrelcomm
