// The re-login a password change and a profile deletion begin with, when the
// server refuses the password typed as the current one: the account job ends
// in error without a logout, nothing changes on the server, and the engine
// goes on with the password and the session it had.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AccountTestSupport.h"
#include "jobs/SrvComm.h"

namespace ostrelcomm {
namespace {

using namespace accounttest;
using Lines = std::vector<std::string>;

TEST(AccountRelogin, ARefusedCurrentPasswordLeavesTheEngineWithItsSession) {
    server();
    struct Case {
        const char* what;
        std::function<void(SrvComm&, const std::string& user)> queue;
        std::string notification;
    };
    const Case cases[] = {
        {"password change",
         [](SrvComm& e, const std::string& user) {
             e.user_modify(user, SecretBytes::fromText("not it"), SecretBytes::fromText("new"));
         },
         "userModification:Error"},
        {"deletion", [](SrvComm& e, const std::string&) { e.user_delete(SecretBytes::fromText("not it")); },
         "userProfileDeleted:Error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string user = makeAccount("refused", "the password");
        const auto before = server().users().find(user);
        auto engine = std::make_shared<SrvComm>();
        Recorder recorder(engine->notifications());
        ASSERT_TRUE(login(*engine, recorder, user, "the password"));
        const auto sessionID = engine->sessionID();
        const auto sessionKey = engine->sessionKey();
        server().clearRequests();

        c.queue(*engine, user);
        ASSERT_TRUE(recorder.waitIdle());

        // The account job fails with its login, before the login's own
        // notification; no logout follows.
        EXPECT_EQ(recorder.lines(), (Lines{c.notification, "SRPAuthenticated:Error"}));
        EXPECT_EQ(requestLines(requestsOf(user)), (Lines{"GET /authenticate/", "POST /authenticate/"}));
        const auto after = server().users().find(user);
        ASSERT_TRUE(after);
        EXPECT_EQ(after->verifier, before->verifier);
        EXPECT_EQ(after->umk, before->umk);

        EXPECT_EQ(engine->username(), user);
        EXPECT_EQ(engine->password(), SecretBytes::fromText("the password"));
        EXPECT_EQ(engine->sessionID(), sessionID);
        EXPECT_EQ(engine->sessionKey(), sessionKey);
        EXPECT_EQ(engine->authStatus(), UserAuthStatus::authFullAccess);

        // The old session still signs, and a later renewal presents the
        // password that works.
        recorder.clear();
        server().clearRequests();
        devserver::Fault expired = devserver::Fault::sessionExpired();
        expired.times = 1;
        server().setFault("GET", "/userprofile/getprofile/", expired);
        engine->user_addGetProfile();
        ASSERT_TRUE(recorder.waitIdle());
        server().clearFaults();
        EXPECT_EQ(recorder.lines(), (Lines{"SRPAuthenticated:Authenticated", "userProfileDataAvailable:Completed"}));
        const auto requests = requestsOf(user);
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.front().values("x-sb-sessionid"), Lines{*sessionID});
    }
}

// A job deferred behind a re-login that was aborted goes no further: nothing
// is deleted on the strength of a password the server never checked.
TEST(AccountRelogin, AnAbortedReloginStopsTheDeletion) {
    server();
    const std::string user = makeAccount("hesitant", "pw");
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());
    ASSERT_TRUE(login(*engine, recorder, user, "pw"));
    const auto sessionKey = engine->sessionKey();

    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("GET", "/authenticate/", stall);
    engine->user_delete(SecretBytes::fromText("pw"));
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    ASSERT_TRUE(engine->abortCurrentJob());
    server().releaseStalls();
    ASSERT_TRUE(recorder.waitIdle());
    server().clearFaults();

    // The aborted login announces its end, then the deletion fails.
    EXPECT_EQ(recorder.lines(), (Lines{"SRPAuthenticated:Aborted", "userProfileDeleted:Error"}));
    EXPECT_EQ(lastError(*engine), "The login with the current password did not succeed");
    EXPECT_TRUE(server().users().find(user));
    EXPECT_EQ(engine->sessionKey(), sessionKey);
    EXPECT_EQ(engine->password(), SecretBytes::fromText("pw"));
}

}  // namespace
}  // namespace ostrelcomm
