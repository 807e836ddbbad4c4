#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "SrvCommTestSupport.h"
#include "auth/SRPAuthParms.h"
#include "jobs/SrvComm.h"

namespace ostrelcomm {
namespace {

using enginetest::EngineRecorder;
using enginetest::kGuard;
using enginetest::makeHttp;
using enginetest::Posted;
using enginetest::sessionCancelled;
using enginetest::TestContext;
using testing_jobs::NotificationRecorder;
using Steps = std::vector<std::string>;

// An engine with test-only step operations in place of the areas':
//  - request steps record that they "sent" and wait in their "_wait" step
//    for the answer, which the test plays by calling setNextStep as the
//    answer handler would;
//  - auth_logout is local and completes its job at once;
//  - fileSend_abort is an abort step that sends and reports `aborting`.
struct Harness {
    std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
    std::shared_ptr<CommJobs> queue = engine->queue();
    EngineRecorder recorder{engine->notifications(), {enginetest::kJobNotification, "jobA", "login"}};
    Steps sent;

    Harness() {
        const std::pair<JobsSteps, JobsSteps> requestSteps[] = {
            {JobsSteps::user_getProfile, JobsSteps::user_getProfile_wait},
            {JobsSteps::user_getKeys, JobsSteps::user_getKeys_wait},
            {JobsSteps::user_storeKeys, JobsSteps::user_storeKeys_wait},
        };
        for (auto [step, wait] : requestSteps)
            engine->registerStep(step, [this, step = step, wait = wait] {
                auto context = record(step);
                engine->setNextStep(wait, JobStatus::inProgress, false, context);
            });
        engine->registerStep(JobsSteps::auth_logout, [this] {
            auto context = record(JobsSteps::auth_logout);
            engine->setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        });
        engine->registerStep(JobsSteps::fileSend_abort, [this] {
            auto context = record(JobsSteps::fileSend_abort);
            engine->setNextStep(JobsSteps::fileSend_abort_wait, JobStatus::aborting, false, context);
        });
    }

    std::shared_ptr<TestContext> record(JobsSteps step) {
        auto context = engine->runningJobContext<TestContext>();
        EXPECT_NE(context, nullptr) << "step " << name(step) << " ran without a running test job";
        if (!context) return nullptr;
        sent.push_back(*context->getJobID() + ":" + std::string(name(step)));
        return context;
    }

    std::shared_ptr<TestContext> add(JobsSteps first = JobsSteps::user_getProfile,
                                     JobPriority priority = JobPriority::Normal, std::shared_ptr<Http> http = nullptr,
                                     std::optional<JobsSteps> abortStep = std::nullopt) {
        auto context = std::make_shared<TestContext>(first, std::move(http), abortStep);
        queue->addNewJob(JobType::getProfile, 2, priority, context, std::string("queued info"), std::nullopt);
        return context;
    }

    // The answer of the running job's request, as its handler reports it.
    void answer(const std::shared_ptr<TestContext>& context, JobsSteps next, JobStatus status,
                std::optional<std::string> message = std::nullopt, bool holdAllowed = false) {
        engine->setNextStep(next, status, holdAllowed, context, message);
    }

    static std::string id(const std::shared_ptr<TestContext>& context) { return context->getJobID().value_or("?"); }
    std::string sentBy(const std::shared_ptr<TestContext>& context, JobsSteps step) const {
        return id(context) + ":" + std::string(name(step));
    }
    CommJobsItem item(const std::shared_ptr<TestContext>& context) const {
        return queue->getJobData(id(context)).value();
    }
    JobStatus status(const std::shared_ptr<TestContext>& context) const { return item(context).status; }
};

// ---- the engine object ----

TEST(SrvComm, NewEngineStartsIdleAndEmpty) {
    auto engine = std::make_shared<SrvComm>();
    EXPECT_TRUE(engine->comLog().events().empty());
    EXPECT_TRUE(engine->queue()->getJobsList().empty());
    EXPECT_NE(engine->queue()->notifications(), engine->notifications());
    EXPECT_EQ(engine->actualJobStep(), JobsSteps::idle);
    EXPECT_FALSE(engine->runningJob().has_value());
    EXPECT_EQ(engine->authStatus(), UserAuthStatus::notAuthenticated);
    EXPECT_FALSE(engine->isAuthenticated());
    EXPECT_EQ(engine->urlToUse(), "https");
    EXPECT_EQ(engine->hold(), SrvComm::HoldStatus::run);
    EXPECT_FALSE(engine->holdState().has_value());
    EXPECT_FALSE(engine->username().has_value());
    EXPECT_FALSE(engine->password().has_value());
    EXPECT_FALSE(engine->sessionID().has_value());
    EXPECT_FALSE(engine->sessionKey().has_value());
    EXPECT_EQ(engine->encoderVersion, "1.0");
    EXPECT_EQ(engine->encryptionAlgorithm, CipherAlgorithm::aes256);
    EXPECT_EQ(engine->encryptionKeySize, 32u);
    EXPECT_EQ(engine->encryptionBlockSize, blockSize(CipherAlgorithm::aes256));
    EXPECT_TRUE(engine->srpDefaultParams().group == SRP::Group::N2048());
    EXPECT_EQ(engine->srpDefaultParams().digestAlgo, DigestAlgorithm::sha256);

    // The areas fill the table as they land: only action steps, at most one
    // entry each (44 in all).
    const auto table = engine->commFunc();
    EXPECT_LE(table.size(), 44u);
    for (const auto& [step, operation] : table) {
        EXPECT_NE(step, JobsSteps::idle);
        EXPECT_FALSE(isWaitStep(step)) << name(step);
        EXPECT_TRUE(static_cast<bool>(operation)) << name(step);
    }
}

TEST(SrvComm, IsAuthenticatedOnlyWithASession) {
    auto engine = std::make_shared<SrvComm>();
    const std::pair<UserAuthStatus, bool> cases[] = {
        {UserAuthStatus::notAuthenticated, false}, {UserAuthStatus::inProgress, false},
        {UserAuthStatus::renewAuthentication, true}, {UserAuthStatus::authFullAccess, true},
        {UserAuthStatus::authError, false},
    };
    for (auto [status, expected] : cases) {
        engine->setAuthStatus(status);
        EXPECT_EQ(engine->isAuthenticated(), expected) << name(status);
    }
}

TEST(SrvComm, SessionAccessorsReadTheSessionFields) {
    auto engine = std::make_shared<SrvComm>();
    engine->setUsername("alice");
    engine->setSrpSessionID("S-1");
    engine->setSrpSessionKey(SecretBytes(Bytes{1, 2, 3}));
    EXPECT_EQ(engine->getUsername(), "alice");
    EXPECT_EQ(engine->sessionID(), "S-1");
    ASSERT_TRUE(engine->sessionKey().has_value());
    EXPECT_EQ(engine->sessionKey()->copyOut(), (Bytes{1, 2, 3}));
}

TEST(SrvComm, AvailableURLsAreTheServerTableKeysSorted) {
    testsupport::sharedDevserver();
    auto engine = std::make_shared<SrvComm>();
    std::vector<std::string> keys;
    for (const auto& entry : Http::url()) keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(engine->availableURLs(), keys);
    EXPECT_FALSE(keys.empty());
}

// ---- the step loop ----

TEST(SrvComm, JobsRunOneAtATimeAndTheQueueEmptiesOnce) {
    Harness h;
    NotificationRecorder queueCenter(h.queue->notifications());
    queueCenter.clear();

    auto a = h.add();
    // The first step ran inside the queuing call.
    EXPECT_EQ(h.sent, Steps{h.sentBy(a, JobsSteps::user_getProfile)});
    EXPECT_EQ(h.engine->actualJobStep(), JobsSteps::user_getProfile_wait);
    EXPECT_EQ(h.engine->runningJob(), Harness::id(a));
    EXPECT_EQ(h.status(a), JobStatus::inProgress);

    auto b = h.add(JobsSteps::user_getKeys);
    EXPECT_EQ(h.sent.size(), 1u);
    EXPECT_EQ(h.status(b), JobStatus::pending);
    EXPECT_EQ(h.engine->runningJob(), Harness::id(a));

    h.answer(a, JobsSteps::idle, JobStatus::completed);
    EXPECT_EQ(h.status(a), JobStatus::completed);
    EXPECT_EQ(h.sent.back(), h.sentBy(b, JobsSteps::user_getKeys));
    EXPECT_EQ(h.engine->runningJob(), Harness::id(b));

    h.answer(b, JobsSteps::idle, JobStatus::completed);
    EXPECT_FALSE(h.engine->runningJob().has_value());
    EXPECT_EQ(h.engine->actualJobStep(), JobsSteps::idle);
    EXPECT_EQ(h.recorder.results(), (Steps{"inProgress", "completed", "inProgress", "completed", "<empty>"}));
    // "jobQueueEmpty" belongs to the engine's center, not the queue's.
    for (const auto& name : queueCenter.names()) EXPECT_NE(name, kJobQueueEmptyNotification);
}

TEST(SrvComm, LocalStepsChainWithinTheQueuingCall) {
    Harness h;
    h.engine->registerStep(JobsSteps::user_renewAuthenticationForDelete, [&h] {
        auto context = h.record(JobsSteps::user_renewAuthenticationForDelete);
        h.engine->setNextStep(JobsSteps::auth_logout, JobStatus::inProgress, false, context);
    });
    auto a = h.add(JobsSteps::user_renewAuthenticationForDelete);
    EXPECT_EQ(h.sent, (Steps{h.sentBy(a, JobsSteps::user_renewAuthenticationForDelete),
                             h.sentBy(a, JobsSteps::auth_logout)}));
    EXPECT_EQ(h.status(a), JobStatus::completed);
    EXPECT_EQ(h.recorder.results(), (Steps{"inProgress", "completed", "<empty>"}));
}

TEST(SrvComm, AssigningAWaitStepRunsNothing) {
    Harness h;
    EXPECT_FALSE(h.engine->registerStep(JobsSteps::user_getProfile_wait, [] { FAIL() << "a wait step ran"; }));
    EXPECT_FALSE(h.engine->registerStep(JobsSteps::idle, [] { FAIL() << "idle ran"; }));
    h.engine->setActualJobStep(JobsSteps::user_getProfile_wait);
    EXPECT_TRUE(h.sent.empty());
    EXPECT_TRUE(h.recorder.all().empty());
    EXPECT_EQ(h.engine->actualJobStep(), JobsSteps::user_getProfile_wait);
}

TEST(SrvComm, AStepWithoutAnOperationIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto engine = std::make_shared<SrvComm>();
    engine->setCommFunc({});
    EXPECT_DEATH(engine->setActualJobStep(JobsSteps::user_create), "Unimplemented job state: user_create");
}

// An area's static registration reaches every engine made afterwards; a
// wrong registration stops the program. Run in child processes, so that the
// program's own table stays as the areas made it.
TEST(SrvComm, StepRegistrationFillsTheTablesOfNewEngines) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto before = std::make_shared<SrvComm>()->commFunc();
    std::optional<JobsSteps> free;
    for (std::size_t i = 0; i < kJobsStepsCount && !free; ++i) {
        const auto step = static_cast<JobsSteps>(i);
        if (step != JobsSteps::idle && !isWaitStep(step) && !before.count(step)) free = step;
    }
    if (free) {
        const JobsSteps step = *free;
        auto registerAndRun = [&] {
            // holdRequest stands in for an area's step operation.
            SrvComm::StepRegistration registration{{step, &SrvComm::holdRequest}};
            auto engine = std::make_shared<SrvComm>();
            engine->setActualJobStep(step);
            const bool ran = engine->hold() == SrvComm::HoldStatus::holdReq;
            std::exit(ran && engine->commFunc().size() == before.size() + 1 ? 0 : 1);
        };
        EXPECT_EXIT(registerAndRun(), ::testing::ExitedWithCode(0), "");
        auto registerTwice = [&] {
            SrvComm::StepRegistration first{{step, &SrvComm::holdRequest}};
            SrvComm::StepRegistration second{{step, &SrvComm::holdResume}};
        };
        EXPECT_DEATH(registerTwice(), "registered twice");
    }
    auto registerIdle = [] { SrvComm::StepRegistration r{{JobsSteps::idle, &SrvComm::holdRequest}}; };
    EXPECT_DEATH(registerIdle(), "idle");
    auto registerWait = [] { SrvComm::StepRegistration r{{JobsSteps::auth_init_wait, &SrvComm::holdRequest}}; };
    EXPECT_DEATH(registerWait(), "auth_init_wait");
}

// ---- ending a job ----

struct EndCase {
    const char* what;
    JobStatus report;
    std::optional<std::string> message;
    bool withError;    // the context carries an HTTPError
    bool withPayload;  // the context carries a payload
    JobStatus recorded;
    std::string result;
    std::optional<std::string> logged;
};

TEST(SrvComm, EndingAJobRecordsCancelsAnnouncesLogsAndMovesOn) {
    const std::vector<EndCase> cases = {
        {"completed", JobStatus::completed, std::nullopt, false, true, JobStatus::completed, "completed", std::nullopt},
        {"error with message", JobStatus::error, std::string("Bad http status code: 500 - Internal"), true, false,
         JobStatus::error, "error", std::string("Bad http status code: 500 - Internal")},
        {"error without message", JobStatus::error, std::nullopt, false, false, JobStatus::error, "error",
         std::string("No error description?!")},
        {"aborted", JobStatus::aborted, std::nullopt, false, false, JobStatus::aborted, "aborted", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        auto http = makeHttp();
        auto a = h.add(JobsSteps::user_getProfile, JobPriority::Normal, http);
        if (c.withError) a->httpError = HTTPError{std::string("ServerException"), HTTPErrors::badStatusCode, "Internal",
                                                 std::int64_t{500}};
        if (c.withPayload) a->payload = std::string("the payload");
        auto b = h.add(JobsSteps::user_getKeys);
        h.recorder.clear();

        h.answer(a, JobsSteps::idle, c.report, c.message);

        const CommJobsItem item = h.item(a);
        EXPECT_EQ(item.status, c.recorded);
        EXPECT_EQ(item.jobInfo, c.message ? *c.message : "queued info");
        EXPECT_TRUE(sessionCancelled(http));

        const auto posted = h.recorder.all();
        ASSERT_GE(posted.size(), 1u);
        const Posted& p = posted[0];
        EXPECT_EQ(p.result, c.result);
        EXPECT_TRUE(p.hasAllKeys);
        if (c.withError) {
            ASSERT_TRUE(p.httpError);
            EXPECT_EQ(p.httpError->errDescr, "Internal");
        } else {
            EXPECT_TRUE(isNullObject(p.userInfo.at("httpError")));
        }
        if (c.withPayload) {
            const auto* payload = std::any_cast<std::string>(&p.customData);
            ASSERT_NE(payload, nullptr);
            EXPECT_EQ(*payload, "the payload");
        } else {
            EXPECT_TRUE(isNullObject(p.customData));
        }

        const auto events = h.engine->comLog().events();
        if (c.logged) {
            ASSERT_EQ(events.size(), 1u);
            EXPECT_EQ(events[0].type, Logger::EvtType::error);
            EXPECT_EQ(events[0].description, *c.logged);
            const std::regex line(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d - error: )");
            const std::string text = Logger::getTextualEvent(events[0]);
            EXPECT_TRUE(std::regex_search(text, line)) << text;
            EXPECT_EQ(text.substr(text.size() - c.logged->size()), *c.logged);
        } else {
            EXPECT_TRUE(events.empty());
        }

        // The engine moved on to the next job.
        EXPECT_EQ(h.engine->runningJob(), Harness::id(b));
        EXPECT_EQ(h.sent.back(), h.sentBy(b, JobsSteps::user_getKeys));
    }
}

// A job put aside for a re-login keeps its session and repeats its step
// once the login (queued ahead of it) has run.
TEST(SrvComm, DeferredJobRepeatsItsStepAfterTheLogin) {
    Harness h;
    auto http = makeHttp();
    auto a = h.add(JobsSteps::user_getProfile, JobPriority::Normal, http);
    auto later = h.add(JobsSteps::user_storeKeys);
    auto login = h.add(JobsSteps::user_getKeys, JobPriority::ImmediateRun);
    h.recorder.clear();

    h.answer(a, JobsSteps::user_getProfile, JobStatus::deferred);
    EXPECT_EQ(h.status(a), JobStatus::deferred);
    EXPECT_EQ(h.item(a).priority, JobPriority::Deferred);
    EXPECT_EQ(a->getNextStep(), JobsSteps::user_getProfile);
    EXPECT_EQ(h.engine->runningJob(), Harness::id(login));
    EXPECT_EQ(h.recorder.results(), (Steps{"deferred", "inProgress"}));
    EXPECT_FALSE(sessionCancelled(http));

    h.answer(login, JobsSteps::idle, JobStatus::completed);
    EXPECT_EQ(h.engine->runningJob(), Harness::id(a));
    EXPECT_EQ(h.sent.back(), h.sentBy(a, JobsSteps::user_getProfile));
    EXPECT_EQ(h.status(a), JobStatus::inProgress);
    EXPECT_EQ(h.status(later), JobStatus::pending);
}

TEST(SrvComm, AFailedLoginFailsTheJobDeferredBehindIt) {
    Harness h;
    auto a = h.add();
    a->notificationName = "jobA";
    auto login = h.add(JobsSteps::user_getKeys, JobPriority::ImmediateRun);
    login->notificationName = "login";
    h.answer(a, JobsSteps::user_getProfile, JobStatus::deferred);
    ASSERT_EQ(h.engine->runningJob(), Harness::id(login));
    h.recorder.clear();

    h.answer(login, JobsSteps::idle, JobStatus::error, std::string("login failed"));
    EXPECT_EQ(h.status(login), JobStatus::error);
    EXPECT_EQ(h.status(a), JobStatus::error);
    EXPECT_EQ(h.item(a).jobInfo, "Aborted due to linked job error.");
    EXPECT_EQ(h.item(a).priority, JobPriority::Deferred);
    // The waiting job's notice comes before the login's own.
    EXPECT_EQ(h.recorder.results(true), (Steps{"jobA:error", "login:error", "<empty>"}));
    const auto events = h.engine->comLog().events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].description, "login failed");
}

TEST(SrvComm, AFailedJobLeavesAPendingNextJobAlone) {
    Harness h;
    auto a = h.add();
    auto b = h.add(JobsSteps::user_getKeys);
    h.answer(a, JobsSteps::idle, JobStatus::error, std::string("failed"));
    EXPECT_EQ(h.status(b), JobStatus::inProgress);
    EXPECT_EQ(h.item(b).jobInfo, "queued info");
    EXPECT_EQ(h.sent.back(), h.sentBy(b, JobsSteps::user_getKeys));
}

TEST(SrvComm, NopJobsCompleteAndTheEngineGoesOn) {
    Harness h;
    // On an idle engine.
    const std::string nop =
        h.queue->addNewJob(JobType::nop, 0, JobPriority::Normal, std::make_shared<TestContext>(JobsSteps::user_getKeys),
                           std::nullopt, std::nullopt);
    EXPECT_EQ(h.queue->getJobData(nop)->status, JobStatus::completed);
    EXPECT_FALSE(h.engine->runningJob().has_value());
    EXPECT_EQ(h.recorder.results(), Steps{"<empty>"});
    EXPECT_TRUE(h.sent.empty());

    // Behind a running job, followed by many more nops and a real job: when
    // the running job ends, the nops complete and the real job starts.
    auto a = h.add();
    std::vector<std::string> nops;
    for (int i = 0; i < 3000; ++i)
        nops.push_back(h.queue->addNewJob(JobType::nop, 0, JobPriority::Normal, nullptr, std::nullopt, std::nullopt));
    auto b = h.add(JobsSteps::user_getKeys);
    h.answer(a, JobsSteps::idle, JobStatus::completed);
    for (const auto& id : nops) ASSERT_EQ(h.queue->getJobData(id)->status, JobStatus::completed);
    EXPECT_EQ(h.engine->runningJob(), Harness::id(b));
    EXPECT_EQ(h.sent.back(), h.sentBy(b, JobsSteps::user_getKeys));
}

// ---- reports that change nothing ----

TEST(SrvComm, ReportsForAnotherJobChangeNothing) {
    Harness h;
    auto a = h.add();
    auto b = h.add(JobsSteps::user_getKeys);
    auto stranger = std::make_shared<TestContext>(JobsSteps::user_getKeys);
    auto noID = std::make_shared<TestContext>(JobsSteps::user_getKeys);
    stranger->setJobID("00000000-0000-0000-0000-000000000000");
    NotificationRecorder queueCenter(h.queue->notifications());
    h.recorder.clear();

    for (const auto& context : {b, stranger, noID})
        for (JobStatus report : {JobStatus::inProgress, JobStatus::completed, JobStatus::error, JobStatus::aborted,
                                 JobStatus::deferred, JobStatus::reqAbort})
            h.answer(context, JobsSteps::user_storeKeys, report, std::string("late"));
    h.engine->setNextStep(JobsSteps::idle, JobStatus::completed, false, nullptr);

    EXPECT_EQ(h.status(a), JobStatus::inProgress);
    EXPECT_EQ(h.status(b), JobStatus::pending);
    EXPECT_EQ(h.engine->actualJobStep(), JobsSteps::user_getProfile_wait);
    EXPECT_EQ(h.sent.size(), 1u);
    EXPECT_TRUE(h.recorder.all().empty());
    EXPECT_TRUE(queueCenter.names().empty());
    EXPECT_TRUE(h.engine->comLog().events().empty());

    // Once every job has ended, a late answer finds no running job.
    h.answer(a, JobsSteps::idle, JobStatus::completed);
    h.answer(b, JobsSteps::idle, JobStatus::completed);
    queueCenter.clear();
    h.recorder.clear();
    h.answer(a, JobsSteps::idle, JobStatus::error, std::string("late"));
    EXPECT_EQ(h.status(a), JobStatus::completed);
    EXPECT_TRUE(queueCenter.names().empty());
    EXPECT_TRUE(h.recorder.all().empty());
    EXPECT_TRUE(h.engine->comLog().events().empty());
}

TEST(SrvComm, ReportsThatAreNoTransitionChangeNothing) {
    Harness h;
    auto a = h.add();
    h.recorder.clear();
    for (JobStatus report : {JobStatus::pending, JobStatus::suspended, JobStatus::resume, JobStatus::aborting}) {
        h.answer(a, JobsSteps::user_getKeys, report);
        EXPECT_EQ(h.status(a), JobStatus::inProgress) << name(report);
    }
    EXPECT_EQ(h.sent.size(), 1u);
    EXPECT_EQ(a->getNextStep(), JobsSteps::user_getProfile_wait);
    EXPECT_TRUE(h.recorder.all().empty());

    // A job that is already aborted ignores every report.
    h.queue->updateJobData(Harness::id(a), std::nullopt, JobStatus::aborted);
    h.answer(a, JobsSteps::idle, JobStatus::completed);
    h.answer(a, JobsSteps::user_getKeys, JobStatus::inProgress);
    EXPECT_EQ(h.status(a), JobStatus::aborted);
    EXPECT_EQ(h.sent.size(), 1u);
    EXPECT_TRUE(h.recorder.all().empty());
}

// ---- hold and resume ----

TEST(SrvComm, AHoldComesIntoForceOnlyWhereTheStepAllowsIt) {
    Harness h;
    auto a = h.add();
    auto b = h.add(JobsSteps::user_getKeys);
    h.engine->holdRequest();
    EXPECT_EQ(h.engine->hold(), SrvComm::HoldStatus::holdReq);

    // Not allowed: the request is ignored and the step runs.
    h.answer(a, JobsSteps::user_storeKeys, JobStatus::inProgress);
    EXPECT_EQ(h.sent.back(), h.sentBy(a, JobsSteps::user_storeKeys));
    EXPECT_EQ(h.engine->hold(), SrvComm::HoldStatus::holdReq);

    // Allowed: the step is parked.
    h.recorder.clear();
    h.answer(a, JobsSteps::user_getKeys, JobStatus::inProgress, std::nullopt, true);
    EXPECT_EQ(h.engine->hold(), SrvComm::HoldStatus::hold);
    EXPECT_EQ(h.engine->holdState(), JobsSteps::user_getKeys);
    EXPECT_EQ(h.status(a), JobStatus::inProgress);
    EXPECT_EQ(h.sent.size(), 2u);
    EXPECT_EQ(h.recorder.results(), Steps{"inProgress"});
    // Queued jobs wait while the engine is held.
    auto c = h.add(JobsSteps::user_getKeys);
    EXPECT_EQ(h.status(c), JobStatus::pending);

    h.engine->holdResume();
    EXPECT_EQ(h.engine->hold(), SrvComm::HoldStatus::run);
    EXPECT_FALSE(h.engine->holdState().has_value());
    EXPECT_EQ(h.sent.back(), h.sentBy(a, JobsSteps::user_getKeys));
    EXPECT_EQ(h.status(b), JobStatus::pending);
}

TEST(SrvComm, ResumingAHoldThatNeverCameIntoForce) {
    Harness h;
    h.engine->holdResume();
    EXPECT_EQ(h.engine->hold(), SrvComm::HoldStatus::run);
    h.engine->holdRequest();
    h.engine->holdRequest();
    h.engine->holdResume();
    EXPECT_EQ(h.engine->hold(), SrvComm::HoldStatus::run);
    EXPECT_TRUE(h.sent.empty());
    EXPECT_TRUE(h.recorder.all().empty());
}

TEST(SrvComm, ResumingAHoldWithoutAParkedStepTakesTheNextJob) {
    Harness h;
    auto a = h.add();
    auto b = h.add(JobsSteps::user_getKeys);
    h.engine->setHold(SrvComm::HoldStatus::hold);
    h.engine->holdResume();
    EXPECT_EQ(h.engine->hold(), SrvComm::HoldStatus::run);
    EXPECT_EQ(h.engine->runningJob(), Harness::id(b));
    EXPECT_EQ(h.sent.back(), h.sentBy(b, JobsSteps::user_getKeys));
}

// ---- aborting ----

TEST(SrvComm, AbortByIdentifier) {
    testing_jobs::SystemLogCapture systemLog;
    Harness h;
    EXPECT_FALSE(h.engine->abortCurrentJob());
    EXPECT_TRUE(h.engine->abortJobs({}).empty());
    EXPECT_TRUE(h.engine->resumeJobs({}).empty());

    auto a = h.add();
    auto b = h.add(JobsSteps::user_getKeys);
    const auto results = h.engine->abortJobs({Harness::id(b), Harness::id(b), "unknown"});
    EXPECT_EQ(results, (std::map<std::string, bool>{{Harness::id(b), false}, {"unknown", false}}));
    EXPECT_EQ(h.status(b), JobStatus::aborted);
    EXPECT_EQ(h.engine->resumeJobs({Harness::id(b)}), (std::map<std::string, bool>{{Harness::id(b), false}}));
    EXPECT_EQ(h.status(a), JobStatus::inProgress);
}

// Without an abort step, the running job's next report ends it as aborted,
// whatever it reports.
TEST(SrvComm, AbortWithoutAnAbortStepEndsAtTheNextReport) {
    for (JobStatus report : {JobStatus::completed, JobStatus::error, JobStatus::inProgress, JobStatus::deferred}) {
        SCOPED_TRACE(name(report));
        Harness h;
        auto http = makeHttp();
        auto a = h.add(JobsSteps::user_getProfile, JobPriority::Normal, http);
        auto b = h.add(JobsSteps::user_getKeys);
        EXPECT_TRUE(h.engine->abortCurrentJob());
        EXPECT_EQ(h.status(a), JobStatus::reqAbort);
        EXPECT_FALSE(h.engine->abortCurrentJob());
        h.recorder.clear();

        h.answer(a, JobsSteps::user_storeKeys, report, std::string("ignored"));
        EXPECT_EQ(h.status(a), JobStatus::aborted);
        EXPECT_EQ(h.item(a).jobInfo, "queued info");
        EXPECT_TRUE(sessionCancelled(http));
        EXPECT_EQ(h.recorder.results().front(), "reqAbort");
        EXPECT_TRUE(h.engine->comLog().events().empty());
        EXPECT_EQ(h.engine->runningJob(), Harness::id(b));
    }
}

// Every way a job can be aborted ends it with its context's "aborted"
// notification, exactly once, and the engine goes on with the next job.
TEST(SrvComm, EveryAbortedJobAnnouncesItsEndOnce) {
    struct Case {
        const char* what;
        // Queues the job to abort behind or as the running job, aborts it and
        // plays whatever answer ends it; returns the aborted job.
        std::function<std::shared_ptr<TestContext>(Harness&)> abort;
    };
    const std::vector<Case> cases = {
        {"waiting behind a running job",
         [](Harness& h) {
             auto running = h.add();
             auto waiting = h.add(JobsSteps::user_getKeys);
             EXPECT_EQ(h.engine->abortJobs({Harness::id(waiting)}).at(Harness::id(waiting)), true);
             h.answer(running, JobsSteps::idle, JobStatus::completed);
             return waiting;
         }},
        {"running, no abort step",
         [](Harness& h) {
             auto running = h.add();
             EXPECT_TRUE(h.engine->abortCurrentJob());
             h.answer(running, JobsSteps::idle, JobStatus::completed);
             return running;
         }},
        {"running, with an abort step",
         [](Harness& h) {
             auto running = h.add(JobsSteps::user_getProfile, JobPriority::Normal, nullptr, JobsSteps::fileSend_abort);
             EXPECT_TRUE(h.engine->abortCurrentJob());
             h.answer(running, JobsSteps::idle, JobStatus::completed);  // the request's answer: the abort step runs
             h.answer(running, JobsSteps::idle, JobStatus::completed);  // the abort step's answer
             return running;
         }},
        {"parked by a hold",
         [](Harness& h) {
             auto running = h.add();
             h.engine->holdRequest();
             h.answer(running, JobsSteps::user_getKeys, JobStatus::inProgress, std::nullopt, true);
             EXPECT_EQ(h.engine->hold(), SrvComm::HoldStatus::hold);
             EXPECT_TRUE(h.engine->abortCurrentJob());
             EXPECT_EQ(h.engine->hold(), SrvComm::HoldStatus::run);
             return running;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        auto aborted = c.abort(h);
        auto next = h.add(JobsSteps::auth_logout);
        EXPECT_EQ(h.status(aborted), JobStatus::aborted);
        std::size_t announced = 0;
        for (const auto& p : h.recorder.all()) announced += p.result == "aborted";
        EXPECT_EQ(announced, 1u);
        EXPECT_EQ(h.status(next), JobStatus::completed);
        EXPECT_EQ(h.engine->actualJobStep(), JobsSteps::idle);
        EXPECT_FALSE(h.engine->hold() == SrvComm::HoldStatus::hold);
    }
}

struct AbortStepCase {
    const char* what;
    JobStatus report;  // what the abort step's answer reports
    JobStatus recorded;
    std::string result;  // the notification, if any
    bool ends;
};

TEST(SrvComm, AnAbortStepEndsTheJobWhateverItsAnswerReports) {
    const std::vector<AbortStepCase> cases = {
        {"aborted", JobStatus::aborted, JobStatus::aborted, "aborted", true},
        // A failing abort step must not hold the engine for ever.
        {"error", JobStatus::error, JobStatus::error, "error", true},
        {"completed", JobStatus::completed, JobStatus::aborted, "aborted", true},
        {"aborting", JobStatus::aborting, JobStatus::aborting, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        auto http = makeHttp();
        auto a = h.add(JobsSteps::user_getProfile, JobPriority::Normal, http, JobsSteps::fileSend_abort);
        auto b = h.add(JobsSteps::user_getKeys);
        ASSERT_TRUE(h.engine->abortCurrentJob());
        h.recorder.clear();

        // Any report of the running job starts its abort step.
        h.answer(a, JobsSteps::user_storeKeys, JobStatus::completed);
        EXPECT_EQ(h.status(a), JobStatus::aborting);
        EXPECT_EQ(h.sent.back(), h.sentBy(a, JobsSteps::fileSend_abort));
        EXPECT_EQ(h.recorder.results(), Steps{"reqAbort"});
        EXPECT_FALSE(sessionCancelled(http));
        h.recorder.clear();

        h.answer(a, JobsSteps::idle, c.report, std::string("abort request failed"));
        EXPECT_EQ(h.status(a), c.recorded);
        if (c.ends) {
            EXPECT_EQ(h.recorder.results().front(), c.result);
            EXPECT_TRUE(sessionCancelled(http));
            EXPECT_EQ(h.engine->runningJob(), Harness::id(b));
            EXPECT_EQ(h.sent.back(), h.sentBy(b, JobsSteps::user_getKeys));
        } else {
            EXPECT_TRUE(h.recorder.all().empty());
            EXPECT_EQ(h.engine->runningJob(), Harness::id(a));
            EXPECT_EQ(h.status(b), JobStatus::pending);
        }
        if (c.report == JobStatus::error) {
            EXPECT_EQ(h.item(a).jobInfo, "abort request failed");
            ASSERT_EQ(h.engine->comLog().events().size(), 1u);
            EXPECT_EQ(h.engine->comLog().events()[0].description, "abort request failed");
        } else {
            EXPECT_TRUE(h.engine->comLog().events().empty());
        }
    }
}

TEST(SrvComm, AnAbortStepThatMeetsAnExpiredSessionRunsAgainAfterTheLogin) {
    Harness h;
    auto a = h.add(JobsSteps::user_getProfile, JobPriority::Normal, nullptr, JobsSteps::fileSend_abort);
    ASSERT_TRUE(h.engine->abortCurrentJob());
    h.answer(a, JobsSteps::idle, JobStatus::completed);
    ASSERT_EQ(h.status(a), JobStatus::aborting);
    auto login = h.add(JobsSteps::user_getKeys, JobPriority::ImmediateRun);

    h.answer(a, JobsSteps::fileSend_abort, JobStatus::deferred);
    EXPECT_EQ(h.status(a), JobStatus::deferred);
    EXPECT_EQ(h.engine->runningJob(), Harness::id(login));
    h.answer(login, JobsSteps::idle, JobStatus::completed);
    EXPECT_EQ(h.sent.back(), h.sentBy(a, JobsSteps::fileSend_abort));
    h.answer(a, JobsSteps::idle, JobStatus::aborted);
    EXPECT_EQ(h.status(a), JobStatus::aborted);
}

// ---- the queue's notifications ----

TEST(SrvComm, AnIdleEngineTakesReleasedAndResumedJobs) {
    Harness h;
    auto a = h.add();
    auto b = h.add(JobsSteps::user_getKeys);
    ASSERT_TRUE(h.queue->suspendResumeJob(Harness::id(b)));
    b->lastStatus = JobsSteps::user_getProfile;
    b->resumeStatus = JobsSteps::user_storeKeys;
    h.answer(a, JobsSteps::idle, JobStatus::error, std::string("failed"));
    EXPECT_FALSE(h.engine->runningJob().has_value());

    // A released job is taken at once by the idle engine.
    ASSERT_TRUE(h.queue->suspendResumeJob(Harness::id(b)));
    EXPECT_EQ(h.sent.back(), h.sentBy(b, JobsSteps::user_getKeys));
    h.answer(b, JobsSteps::idle, JobStatus::error, std::string("failed too"));

    // So is a resumed one, at its resume step.
    EXPECT_EQ(h.engine->resumeJobs({Harness::id(b)}), (std::map<std::string, bool>{{Harness::id(b), true}}));
    EXPECT_EQ(h.sent.back(), h.sentBy(b, JobsSteps::user_storeKeys));
    EXPECT_EQ(h.status(b), JobStatus::inProgress);
}

// An observer of the queue may queue a job while the engine is starting
// one; the new job waits its turn instead of starting inside the first.
TEST(SrvComm, AJobQueuedWhileAnotherStartsWaitsItsTurn) {
    Harness h;
    std::shared_ptr<TestContext> queuedByObserver;
    bool queued = false;
    auto token = h.queue->notifications()->addObserver(kJobChangedNotification, [&](const Notification& n) {
        const auto* item = userInfoValue<CommJobsItem>(n.userInfo, "data");
        if (queued || !item || item->status != JobStatus::inProgress) return;
        queued = true;
        queuedByObserver = h.add(JobsSteps::user_getKeys);
    });
    auto a = h.add();
    h.queue->notifications()->removeObserver(token);
    ASSERT_NE(queuedByObserver, nullptr);
    EXPECT_EQ(h.sent, Steps{h.sentBy(a, JobsSteps::user_getProfile)});
    EXPECT_EQ(h.status(queuedByObserver), JobStatus::pending);
    EXPECT_EQ(h.engine->runningJob(), Harness::id(a));

    h.answer(a, JobsSteps::idle, JobStatus::completed);
    EXPECT_EQ(h.sent.back(), h.sentBy(queuedByObserver, JobsSteps::user_getKeys));
}

// ---- the engine's lock ----

// An answer handler that arrives while its step is still running waits for
// the step to finish: it cannot overtake the step's own move to "_wait".
TEST(SrvComm, AnAnswerHandlerWaitsForTheStepThatSentTheRequest) {
    Harness h;
    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false;
    std::vector<std::string> order;
    std::thread transport;

    h.engine->registerStep(JobsSteps::user_create, [&] {
        auto context = h.engine->runningJobContext<TestContext>();
        auto handler = h.engine->lockedHandler([&, context](const std::string& answer) {
            order.push_back("handler: " + answer);
            h.engine->setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        });
        transport = std::thread([&, handler]() mutable {
            {
                std::lock_guard lock(mutex);
                arrived = true;
            }
            changed.notify_all();
            handler(std::string("fast answer"));
        });
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, kGuard, [&] { return arrived; }));
        order.push_back("step: waiting");
        h.engine->setNextStep(JobsSteps::user_create_wait, JobStatus::inProgress, false, context);
    });
    auto a = h.add(JobsSteps::user_create);
    transport.join();
    EXPECT_EQ(order, (Steps{"step: waiting", "handler: fast answer"}));
    EXPECT_EQ(h.status(a), JobStatus::completed);
    EXPECT_FALSE(h.engine->runningJob().has_value());
}

TEST(SrvComm, AHandlerForAnEngineThatIsGoneDoesNothing) {
    auto engine = std::make_shared<SrvComm>();
    bool ran = false;
    auto handler = engine->lockedHandler([&ran] { ran = true; });
    engine.reset();
    std::thread([&handler] { handler(); }).join();
    EXPECT_FALSE(ran);
}

// The application may keep the queue longer than its engine.
TEST(SrvComm, AQueueThatOutlivesItsEngineNoLongerReachesIt) {
    std::shared_ptr<CommJobs> queue;
    {
        Harness h;
        queue = h.queue;
    }
    const std::string id = queue->addNewJob(JobType::getProfile, 1, JobPriority::Normal,
                                            std::make_shared<TestContext>(JobsSteps::user_getProfile), std::nullopt,
                                            std::nullopt);
    EXPECT_EQ(queue->getJobData(id)->status, JobStatus::pending);
}

TEST(SrvComm, AnswerHandlersNeedAnEngineOwnedBySharedPointer) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto wrapOnUnownedEngine = [] {
        SrvComm engine;
        (void)engine.lockedHandler([] {});
    };
    EXPECT_DEATH(wrapOnUnownedEngine(), "owned by a std::shared_ptr");
}

// The session fields do not need the engine's lock: another engine can set
// them while this one is busy inside a step.
TEST(SrvComm, SessionFieldsAreReachableWhileTheEngineIsBusy) {
    Harness h;
    bool reached = false;
    h.engine->registerStep(JobsSteps::user_create, [&] {
        auto done = std::async(std::launch::async, [&] {
            h.engine->setUsername("bob");
            h.engine->setSrpSessionID("S-2");
            h.engine->setSrpSessionKey(SecretBytes(Bytes(32, 7)));
            h.engine->setAuthStatus(UserAuthStatus::authFullAccess);
            return h.engine->isAuthenticated();
        });
        reached = done.wait_for(kGuard) == std::future_status::ready && done.get();
        auto context = h.engine->runningJobContext<TestContext>();
        h.engine->setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
    });
    h.add(JobsSteps::user_create);
    EXPECT_TRUE(reached);
    EXPECT_EQ(h.engine->getUsername(), "bob");
}

}  // namespace
}  // namespace ostrelcomm
