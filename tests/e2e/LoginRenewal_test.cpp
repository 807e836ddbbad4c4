// Session renewal end to end: a signed request that meets an expired
// session queues a login ahead of its job, which then repeats the request;
// renewals in a row are limited; and after a failed renewal no step sends
// an unsigned request in place of a signed one.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "LoginTestSupport.h"
#include "devserver/DevServer.h"
#include "auth/SRPAuthMode.h"
#include "jobs/SrvComm.h"
#include "platform/LocalizedString.h"

namespace ostrelcomm {
namespace {

using namespace logintest;
using Lines = std::vector<std::string>;

constexpr char kSigned[] = "GET /logintest/signed/";
constexpr char kInit[] = "GET /authenticate/";
constexpr char kChallenge[] = "POST /authenticate/";

struct LoggedIn {
    std::string user;
    std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
    std::unique_ptr<Recorder> recorder;
    std::size_t loginRequests = 0;

    explicit LoggedIn(const std::string& stem) : user(makeUser(stem, "pw")) {
        registerSignedStep(engine);
        recorder = std::make_unique<Recorder>(engine->notifications());
        engine->auth_add(user, SecretBytes::fromText("pw"), SRPAuthMode::new_);
        EXPECT_TRUE(recorder->waitIdle());
        EXPECT_EQ(engine->authStatus(), UserAuthStatus::authFullAccess);
        recorder->clear();
        loginRequests = requestsOf(user).size();
    }
    // The requests made since the login.
    std::vector<devserver::RecordedRequest> since() const {
        auto all = requestsOf(user);
        return {all.begin() + static_cast<std::ptrdiff_t>(loginRequests), all.end()};
    }
};

TEST(LoginRenewal, AnExpiredSessionIsRenewedAndTheRequestRepeated) {
    server();
    LoggedIn s("renewal");
    const std::string oldSession = *s.engine->sessionID();
    ASSERT_TRUE(server().sessions().expire(oldSession));

    const std::string jobID = queueSignedJob(s.engine);
    ASSERT_TRUE(s.recorder->waitIdle());

    const auto requests = s.since();
    ASSERT_EQ(requestLines(requests), (Lines{kSigned, kInit, kChallenge, kSigned}));
    // The renewing login presents the expired session; the repeated request
    // is signed with the new one.
    EXPECT_EQ(requests[0].values("x-sb-sessionid"), Lines{oldSession});
    EXPECT_EQ(requests[1].values("x-sb-sessionid"), Lines{oldSession});
    EXPECT_FALSE(requests[1].has("x-sb-auth"));
    const auto newSession = s.engine->sessionID();
    ASSERT_TRUE(newSession);
    EXPECT_NE(*newSession, oldSession);
    EXPECT_EQ(requests[3].values("x-sb-sessionid"), Lines{*newSession});
    EXPECT_TRUE(requests[3].has("x-sb-auth"));
    EXPECT_EQ(s.engine->sessionKey()->copyOut(), server().sessions().find(*newSession)->key);
    EXPECT_EQ(s.engine->authStatus(), UserAuthStatus::authFullAccess);

    // The deferred job posts nothing; the login runs between its two tries.
    EXPECT_EQ(s.recorder->lines(),
              (Lines{"SRPAuthenticated:InProgress", "SRPAuthenticated:InProgress", "SRPAuthenticated:InProgress",
                     "SRPAuthenticated:Authenticated", "loginTestDone:Completed", "jobQueueEmpty"}));
    const auto job = s.engine->queue()->getJobData(jobID);
    EXPECT_EQ(job->status, JobStatus::completed);
    EXPECT_EQ(job->actStep, 2u);
    int logins = 0;
    for (const auto& [id, item] : s.engine->queue()->getJobsList()) {
        if (item.jobType != JobType::authenticate || id == jobID) continue;
        if (item.priority == JobPriority::ImmediateRun) ++logins;
    }
    EXPECT_EQ(logins, 1);
}

TEST(LoginRenewal, AServerThatKeepsExpiringEndsTheJobAfterTwoRenewals) {
    server();
    LoggedIn s("expiring");
    server().setFault("GET", kSignedPath, devserver::Fault::sessionExpired());
    queueSignedJob(s.engine);
    ASSERT_TRUE(s.recorder->waitIdle());
    server().clearFault("GET", kSignedPath);

    EXPECT_EQ(requestLines(s.since()), (Lines{kSigned, kInit, kChallenge, kSigned, kInit, kChallenge, kSigned}));
    const auto end = s.recorder->last(kSignedDone);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->result, "Error");
    ASSERT_TRUE(end->httpError);
    EXPECT_EQ(end->httpError->exception, "AccessDeniedException");
    EXPECT_EQ(lastError(*s.engine), "Bad http status code: 403 - Session expired");
    // Both logins themselves succeeded.
    EXPECT_EQ(s.engine->authStatus(), UserAuthStatus::authFullAccess);
}

TEST(LoginRenewal, AfterAFailedRenewalSignedStepsSendNothing) {
    server();
    LoggedIn s("renewal-fails");
    ASSERT_TRUE(server().sessions().expire(*s.engine->sessionID()));
    server().users().remove(s.user);  // the renewing login is refused

    const std::string waiting = queueSignedJob(s.engine);
    ASSERT_TRUE(s.recorder->waitIdle());
    EXPECT_EQ(requestLines(s.since()), (Lines{kSigned, kInit}));
    // The job that waited for the login fails with it, and says so first.
    EXPECT_EQ(s.recorder->lines(), (Lines{"SRPAuthenticated:InProgress", "loginTestDone:Error",
                                          "SRPAuthenticated:Error", "jobQueueEmpty"}));
    EXPECT_EQ(s.engine->queue()->getJobData(waiting)->jobInfo, "Aborted due to linked job error.");

    // The renewing login left the engine counting as authenticated, with no
    // key to sign with.
    EXPECT_EQ(s.engine->authStatus(), UserAuthStatus::renewAuthentication);
    EXPECT_TRUE(s.engine->isAuthenticated());
    EXPECT_FALSE(s.engine->sessionKey());

    s.recorder->clear();
    const std::size_t sent = requestsOf(s.user).size();
    const std::string refused = queueSignedJob(s.engine);
    ASSERT_TRUE(s.recorder->waitIdle());
    EXPECT_EQ(requestsOf(s.user).size(), sent);
    EXPECT_EQ(s.recorder->lines(), (Lines{"loginTestDone:Error", "jobQueueEmpty"}));
    EXPECT_EQ(s.engine->queue()->getJobData(refused)->jobInfo, SrvComm::kNoSigningSession);
    const auto end = s.recorder->last(kSignedDone);
    ASSERT_TRUE(end && end->httpError);
    EXPECT_EQ(end->httpError->error, HTTPErrors::badAuthentication);
}

// Signed answers are checked like the login's: another user or another
// action ends the job with the library's texts.
TEST(LoginRenewal, SignedAnswersForAnotherUserOrActionEndTheJob) {
    server();
    LoggedIn s("signed-checks");
    for (const bool spoilUser : {true, false}) {
        SCOPED_TRACE(spoilUser ? "another user" : "another action");
        devserver::Fault fault;
        if (spoilUser) fault.username = s.user + "x";
        else fault.action = "OTHER_ACTION";
        fault.times = 1;
        server().setFault("GET", kSignedPath, fault);
        s.recorder->clear();
        queueSignedJob(s.engine);
        ASSERT_TRUE(s.recorder->waitIdle());
        const auto end = s.recorder->last(kSignedDone);
        ASSERT_TRUE(end && end->httpError);
        EXPECT_EQ(end->result, "Error");
        const std::string text =
            localizedString("Localizable", spoilUser ? "AnswerWrongUsername" : "AnswerWrongAction");
        EXPECT_EQ(end->httpError->errDescr, text);
        EXPECT_EQ(lastError(*s.engine), text);
    }
}

}  // namespace
}  // namespace ostrelcomm
