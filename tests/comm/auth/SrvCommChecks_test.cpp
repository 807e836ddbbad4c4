// The answer checks on a real engine whose running job waits for its answer:
// the outcome is played to afterCommChecks as a request step's handler
// would, and the job's fate is read from the queue, the log and the
// notifications. The login job that renewal queues is held at its first
// step, so nothing here goes to the network.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "auth/AuthContext.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "auth/SRPAuthMode.h"
#include "jobs/SrvComm.h"
#include "platform/LocalizedString.h"
#include "support/EngineRequests.h"

namespace ostrelcomm {
namespace {

constexpr char kAction[] = "TEST_ACTION";
constexpr char kDone[] = "testJobDone";

HTTPError statusError(std::optional<std::string> exception, std::string description, std::int64_t status = 403) {
    return HTTPError{std::move(exception), HTTPErrors::badStatusCode, std::move(description), status};
}

HttpHeaders answerHeaders(const std::string& user = "alice", const std::string& action = kAction) {
    return {{"x-sb-username", user}, {"x-sb-action", action}, {"Content-Type", "application/json"}};
}

struct Harness {
    std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
    std::shared_ptr<CommJobBasicContext> context =
        std::make_shared<CommJobBasicContext>(JobsSteps::user_getProfile, nullptr, kDone);
    std::string jobID;
    int requestsSent = 0;
    std::vector<std::string> loginsStarted;
    std::vector<std::string> posted;
    NotificationCenter::Token token = 0;

    Harness() {
        engine->setUsername("alice");
        // The job's request step: it "sends" and waits for its answer.
        engine->registerStep(JobsSteps::user_getProfile, [this] {
            auto running = engine->runningJobContext<CommJobBasicContext>();
            ++requestsSent;
            engine->setNextStep(JobsSteps::user_getProfile_wait, JobStatus::inProgress, false, running);
        });
        // A queued re-login stops at its first step.
        engine->registerStep(JobsSteps::auth_init, [this] {
            auto login = engine->runningJobContext<AuthContext>();
            ASSERT_NE(login, nullptr);
            loginsStarted.push_back(*login->getJobID());
            engine->setNextStep(JobsSteps::auth_init_wait, JobStatus::inProgress, false, login);
        });
        token = engine->notifications()->addObserver(kDone, [this](const Notification& n) {
            const auto* result = userInfoValue<std::string>(n.userInfo, "Result");
            posted.push_back(result ? *result : "?");
        });
        jobID = engine->queue()->addNewJob(JobType::getProfile, 1, JobPriority::Normal, context, std::nullopt,
                                           std::nullopt);
    }
    ~Harness() { engine->notifications()->removeObserver(token); }

    bool check(const std::optional<HTTPError>& error, const HttpHeaders& headers = {}, bool renew = true) {
        std::lock_guard lock(engine->mutex());
        return engine->afterCommChecks(error, JobsSteps::user_getProfile, context, kAction, headers, renew);
    }

    CommJobsItem job() const { return *engine->queue()->getJobData(jobID); }

    std::vector<CommJobsItem> logins() const {
        std::vector<CommJobsItem> out;
        for (const auto& [id, item] : engine->queue()->getJobsList())
            if (item.jobType == JobType::authenticate) out.push_back(item);
        return out;
    }

    std::optional<std::string> lastError() const { return testsupport::lastError(*engine); }
};

// The same harness as a fixture, for tests of one job.
struct ChecksFixture : ::testing::Test, Harness {};

TEST_F(ChecksFixture, AnExpiredSessionQueuesAnImmediateLoginAheadOfTheDeferredJob) {
    ASSERT_EQ(requestsSent, 1);
    EXPECT_FALSE(check(statusError("AccessDeniedException", "Session expired")));

    const auto queued = logins();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].jobSteps, 2u);
    EXPECT_EQ(queued[0].priority, JobPriority::ImmediateRun);
    auto login = std::dynamic_pointer_cast<AuthContext>(queued[0].context);
    ASSERT_NE(login, nullptr);
    EXPECT_EQ(login->authMode, SRPAuthMode::renew);
    // The engine went idle and took the login before the deferred job.
    EXPECT_EQ(loginsStarted.size(), 1u);
    EXPECT_EQ(engine->runningJob(), loginsStarted.front());

    EXPECT_EQ(job().status, JobStatus::deferred);
    EXPECT_EQ(job().priority, JobPriority::Deferred);
    EXPECT_EQ(context->getNextStep(), JobsSteps::user_getProfile);
    EXPECT_FALSE(context->httpError);
    EXPECT_FALSE(lastError());
    EXPECT_TRUE(posted.empty());
}

TEST(AfterCommChecks, FailedRequestsEndTheJobWithTheirLogText) {
    const struct {
        const char* what;
        HTTPError error;
        bool renew;
        std::string message;
        bool keptInContext;
    } cases[] = {
        {"expired session without renewal", statusError("AccessDeniedException", "Session expired"), false,
         "Bad http status code: 403 - Session expired", true},
        {"access denied for another reason", statusError("AccessDeniedException", "Unknown session"), true,
         "Bad http status code: 403 - Unknown session", true},
        {"exception name in another case", statusError("accessdeniedexception", "Session expired"), true,
         "Bad http status code: 403 - Session expired", true},
        {"description in another case", statusError("AccessDeniedException", "session expired"), true,
         "Bad http status code: 403 - session expired", true},
        {"server failure", statusError("InternalServerError", "It broke", 500), true,
         "Bad http status code: 500 - It broke", true},
        {"answer of another type",
         HTTPError{std::nullopt, HTTPErrors::badAnswerMimeType, "Bad answer mime type",
                   std::string("Received: text/html, expected: application/json")},
         true, "Bad answer mime typeReceived: text/html, expected: application/json", false},
        {"transport failure", HTTPError{std::nullopt, HTTPErrors::dataTaskError, "Could not connect", {}}, true,
         "Could not connect", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness f;
        const HTTPError earlier{std::string("Earlier"), HTTPErrors::badAuthentication, "earlier failure", {}};
        f.context->httpError = earlier;
        EXPECT_FALSE(f.check(c.error, {}, c.renew));
        EXPECT_TRUE(f.logins().empty());
        EXPECT_EQ(f.job().status, JobStatus::error);
        EXPECT_EQ(f.job().jobInfo, c.message);
        EXPECT_EQ(f.lastError(), c.message);
        EXPECT_EQ(f.posted, std::vector<std::string>{"Error"});
        ASSERT_TRUE(f.context->httpError);
        // Only an error with an exception name replaces the last one.
        EXPECT_EQ(f.context->httpError->errDescr, c.keptInContext ? c.error.errDescr : earlier.errDescr);
    }
}

TEST(AfterCommChecks, AnswersMustNameTheUserAndTheAction) {
    const std::string wrongUser = localizedString("Localizable", "AnswerWrongUsername");
    const std::string wrongAction = localizedString("Localizable", "AnswerWrongAction");
    ASSERT_NE(wrongUser, "AnswerWrongUsername");
    ASSERT_NE(wrongAction, "AnswerWrongAction");

    HttpHeaders noUser = answerHeaders();
    noUser.erase("x-sb-username");
    HttpHeaders noAction = answerHeaders();
    noAction.erase("x-sb-action");
    HttpHeaders upperCaseName = answerHeaders();
    upperCaseName.erase("x-sb-action");
    upperCaseName["X-Sb-Action"] = kAction;

    const struct {
        const char* what;
        HttpHeaders headers;
        std::optional<std::string> engineUser;
        std::optional<std::string> message;
    } cases[] = {
        {"both right", answerHeaders(), "alice", std::nullopt},
        {"no user header", noUser, "alice", wrongUser},
        {"user differs in letter case", answerHeaders("Alice"), "alice", wrongUser},
        {"engine has no user", answerHeaders(), std::nullopt, wrongUser},
        {"user and action wrong: the user is reported", answerHeaders("bob", "OTHER"), "alice", wrongUser},
        {"no action header", noAction, "alice", wrongAction},
        {"action looked up by its exact name", upperCaseName, "alice", wrongAction},
        {"another action", answerHeaders("alice", "OTHER_ACTION"), "alice", wrongAction},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness f;
        f.engine->setUsername(c.engineUser);
        const bool passed = f.check(std::nullopt, c.headers);
        if (!c.message) {
            EXPECT_TRUE(passed);
            EXPECT_EQ(f.job().status, JobStatus::inProgress);
            EXPECT_FALSE(f.context->httpError);
            EXPECT_TRUE(f.posted.empty());
            continue;
        }
        EXPECT_FALSE(passed);
        EXPECT_EQ(f.job().status, JobStatus::error);
        EXPECT_EQ(f.job().jobInfo, *c.message);
        EXPECT_EQ(f.lastError(), *c.message);
        ASSERT_TRUE(f.context->httpError);
        EXPECT_FALSE(f.context->httpError->exception);
        EXPECT_EQ(f.context->httpError->error, HTTPErrors::badStatusCode);
        EXPECT_EQ(f.context->httpError->errDescr, *c.message);
        EXPECT_EQ(f.posted, std::vector<std::string>{"Error"});
    }
}

// A handler that arrives after its job ended must not queue a login for it.
TEST_F(ChecksFixture, AnOutcomeForAJobThatIsNotRunningChangesNothing) {
    engine->setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
    ASSERT_EQ(job().status, JobStatus::completed);
    posted.clear();
    EXPECT_FALSE(check(statusError("AccessDeniedException", "Session expired")));
    EXPECT_FALSE(check(std::nullopt, answerHeaders()));
    EXPECT_TRUE(logins().empty());
    EXPECT_EQ(job().status, JobStatus::completed);
    EXPECT_TRUE(posted.empty());
}

// Two renewals in a row are allowed; the third "Session expired" in a row
// ends the job with the server's text. An accepted answer starts the count
// again.
TEST_F(ChecksFixture, RenewalsInARowAreLimited) {
    const HTTPError expired = statusError("AccessDeniedException", "Session expired");
    auto renewOnce = [&] {
        EXPECT_FALSE(check(expired));
        // The login succeeds: its job completes and the deferred job retries.
        auto login = engine->runningJobContext<AuthContext>();
        ASSERT_NE(login, nullptr);
        engine->setNextStep(JobsSteps::idle, JobStatus::completed, false, login);
        ASSERT_EQ(engine->runningJob(), jobID);
        ASSERT_EQ(job().status, JobStatus::inProgress);
    };
    renewOnce();
    renewOnce();
    EXPECT_EQ(requestsSent, 3);
    EXPECT_TRUE(check(std::nullopt, answerHeaders()));  // the count starts again
    engine->setNextStep(JobsSteps::user_getProfile, JobStatus::inProgress, false, context);
    renewOnce();
    renewOnce();
    EXPECT_EQ(logins().size(), 4u);

    EXPECT_FALSE(check(expired));
    EXPECT_EQ(logins().size(), 4u);
    EXPECT_EQ(job().status, JobStatus::error);
    EXPECT_EQ(job().jobInfo, "Bad http status code: 403 - Session expired");
    ASSERT_TRUE(context->httpError);
    EXPECT_EQ(context->httpError->exception, "AccessDeniedException");
}

TEST(PrepareLogMsg, TextByKind) {
    const struct {
        HTTPError error;
        std::string text;
    } cases[] = {
        {HTTPError{std::string("X"), HTTPErrors::badStatusCode, "Not found", std::int64_t{404}},
         "Bad http status code: 404 - Not found"},
        {HTTPError{std::nullopt, HTTPErrors::badStatusCode, "No status", {}}, "Bad http status code: unknown - No status"},
        {HTTPError{std::nullopt, HTTPErrors::badAnswerMimeType, "Bad answer mime type", std::string(" [x]")},
         "Bad answer mime type [x]"},
        {HTTPError{std::nullopt, HTTPErrors::dataTaskError, "timed out", std::int64_t{7}}, "timed out"},
        {HTTPError{std::nullopt, HTTPErrors::unableToDecodeURLResponse, "no response", {}}, "no response"},
        {HTTPError{std::nullopt, HTTPErrors::unableToDecodeAnswer, "Unable to decode server answer", {}},
         "Unable to decode server answer"},
        {HTTPError{std::string("NoExceptionName"), HTTPErrors::badAuthentication, "Message HMACs doesn't match",
                   std::int64_t{200}},
         "Message HMACs doesn't match"},
    };
    for (const auto& c : cases) EXPECT_EQ(SrvComm::prepareLogMsg(c.error), c.text);
}

// A step that must sign reads the session in one piece, and without a key
// it ends its job instead of sending.
TEST(SigningSession, NeedsUserSessionAndKey) {
    struct Case {
        const char* what;
        bool user, id, key;
    };
    for (const Case c : {Case{"all there", true, true, true}, Case{"no key", true, true, false},
                         Case{"no session", true, false, true}, Case{"no user", false, true, true}}) {
        SCOPED_TRACE(c.what);
        Harness f;
        f.engine->setUsername(c.user ? std::optional<std::string>("alice") : std::nullopt);
        f.engine->setSrpSessionID(c.id ? std::optional<std::string>("s-1") : std::nullopt);
        f.engine->setSrpSessionKey(c.key ? std::optional<SecretBytes>(SecretBytes(Bytes(32, 7))) : std::nullopt);
        // A failed renewal leaves the engine counting as authenticated.
        f.engine->setAuthStatus(UserAuthStatus::renewAuthentication);
        const auto session = f.engine->signingSession(f.context);
        if (c.user && c.id && c.key) {
            ASSERT_TRUE(session);
            EXPECT_EQ(session->headers(), (std::map<std::string, std::string>{{"sessionid", "s-1"}, {"username", "alice"}}));
            EXPECT_EQ(session->sessionKey, SecretBytes(Bytes(32, 7)));
            EXPECT_EQ(f.job().status, JobStatus::inProgress);
            continue;
        }
        EXPECT_FALSE(session);
        EXPECT_EQ(f.job().status, JobStatus::error);
        EXPECT_EQ(f.job().jobInfo, SrvComm::kNoSigningSession);
        ASSERT_TRUE(f.context->httpError);
        EXPECT_EQ(f.context->httpError->error, HTTPErrors::badAuthentication);
        EXPECT_EQ(f.posted, std::vector<std::string>{"Error"});
    }
}

}  // namespace
}  // namespace ostrelcomm
