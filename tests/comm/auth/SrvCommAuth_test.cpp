// The login area's local behaviour: what auth_add queues, the prepared
// session, auth_setup, and a login without credentials. Nothing here is
// sent; the exchange itself is shown end to end in tests/e2e.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "auth/AuthNotifications.h"
#include "auth/AuthContext.h"
#include "auth/Client_GetChallenge.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "auth/SRPAuthMode.h"
#include "jobs/SrvComm.h"

namespace ostrelcomm {
namespace {

// Records the words of the engine's login notification.
struct Words {
    explicit Words(const std::shared_ptr<SrvComm>& engine) : center(engine->notifications()) {
        token = center->addObserver(auth::kSRPAuthenticatedNotification, [this](const Notification& n) {
            const auto* word = userInfoValue<std::string>(n.userInfo, "Result");
            posted.push_back(word ? *word : "?");
        });
    }
    ~Words() { center->removeObserver(token); }
    std::shared_ptr<NotificationCenter> center;
    NotificationCenter::Token token;
    std::vector<std::string> posted;
};

TEST(SrvCommAuth, AuthAddStoresTheUserAndQueuesALogin) {
    auto engine = std::make_shared<SrvComm>();
    std::shared_ptr<AuthContext> started;
    engine->registerStep(JobsSteps::auth_init, [&] {
        started = engine->runningJobContext<AuthContext>();
        engine->setNextStep(JobsSteps::auth_init_wait, JobStatus::inProgress, false, started);
    });
    const std::string id = engine->auth_add("alice", SecretBytes::fromText("pw"), SRPAuthMode::new_);
    EXPECT_EQ(engine->username(), "alice");
    EXPECT_EQ(engine->password(), SecretBytes::fromText("pw"));
    const auto job = engine->queue()->getJobData(id);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->jobType, JobType::authenticate);
    EXPECT_EQ(job->jobSteps, 2u);
    EXPECT_EQ(job->priority, JobPriority::Normal);
    EXPECT_FALSE(job->jobInfo);
    EXPECT_FALSE(job->jobDetails);
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(started->getJobID(), id);
    EXPECT_EQ(started->authMode, SRPAuthMode::new_);
    // No event is written for queuing a login.
    EXPECT_TRUE(engine->comLog().events().empty());
}

TEST(SrvCommAuth, APreparedSessionIsLocal) {
    auto engine = std::make_shared<SrvComm>();
    Words words(engine);
    engine->setAuthStatus(UserAuthStatus::authError);
    const std::string id = engine->auth_add("alice", SecretBytes::fromText("pw"), SRPAuthMode::prepare);
    EXPECT_EQ(engine->queue()->getJobData(id)->status, JobStatus::completed);
    EXPECT_EQ(words.posted, std::vector<std::string>{"Authenticated"});
    EXPECT_EQ(engine->sessionID(), "preparedSession");
    ASSERT_TRUE(engine->sessionKey());
    EXPECT_EQ(engine->sessionKey()->size(), 32u);
    EXPECT_EQ(engine->authStatus(), UserAuthStatus::authError);

    const auto firstKey = engine->sessionKey();
    engine->auth_add("alice", SecretBytes::fromText("pw"), SRPAuthMode::prepare);
    EXPECT_NE(engine->sessionKey(), firstKey);
}

TEST(SrvCommAuth, AuthSetupIsImmediateAndSilent) {
    auto engine = std::make_shared<SrvComm>();
    Words words(engine);
    const SecretBytes key(Bytes(32, 0x5a));
    engine->auth_setup("bob", SecretBytes::fromText("secret"), "session-9", key);
    EXPECT_EQ(engine->username(), "bob");
    EXPECT_EQ(engine->password(), SecretBytes::fromText("secret"));
    EXPECT_EQ(engine->sessionID(), "session-9");
    EXPECT_EQ(engine->sessionKey(), key);
    EXPECT_EQ(engine->authStatus(), UserAuthStatus::authFullAccess);
    EXPECT_TRUE(engine->isAuthenticated());
    EXPECT_TRUE(engine->queue()->getJobsList().empty());
    EXPECT_TRUE(words.posted.empty());
}

TEST(SrvCommAuth, TheSessionForHandOverIsAllFourFieldsOrNothing) {
    auto engine = std::make_shared<SrvComm>();
    EXPECT_FALSE(engine->sessionForHandOver());
    const SecretBytes key(Bytes(32, 0x5a));
    engine->auth_setup("bob", SecretBytes::fromText("secret"), "session-9", key);
    const auto session = engine->sessionForHandOver();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->username, "bob");
    EXPECT_EQ(session->password, SecretBytes::fromText("secret"));
    EXPECT_EQ(session->sessionID, "session-9");
    EXPECT_EQ(session->sessionKey, key);
    // A failed renewal leaves no key: nothing to hand over.
    engine->setSrpSessionKey(std::nullopt);
    EXPECT_FALSE(engine->sessionForHandOver());
}

// A re-login queued for an engine that holds no credentials (it never
// logged in) fails at once instead of sending a login for nobody.
TEST(SrvCommAuth, ALoginWithoutCredentialsFailsWithoutSending) {
    auto engine = std::make_shared<SrvComm>();
    Words words(engine);
    auto context = std::make_shared<AuthContext>(engine->urlToUse(), SRPAuthMode::renew);
    const std::string id = engine->queue()->addNewJob(JobType::authenticate, 2, JobPriority::ImmediateRun, context,
                                                      std::nullopt, std::nullopt);
    EXPECT_EQ(engine->queue()->getJobData(id)->status, JobStatus::error);
    EXPECT_EQ(words.posted, std::vector<std::string>{"Error"});
    EXPECT_EQ(engine->authStatus(), UserAuthStatus::authError);
    EXPECT_FALSE(context->httpSession->task);
}

TEST(ClientGetChallenge, BodyIsTheTwoValuesAsBase64InOrder) {
    const Client_GetChallenge body{Bytes{0x01, 0x02, 0x03}, Bytes{0xff, 0xfe}};
    EXPECT_EQ(toText(body.encode()), R"({"clientpubkey":"AQID","clientkeyproof":"//4="})");
}

}  // namespace
}  // namespace ostrelcomm
