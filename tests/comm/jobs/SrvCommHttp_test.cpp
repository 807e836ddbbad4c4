// The engine driving real Http sessions against the in-process stand-in
// server: answers that outrun their step, many jobs on two engines at once,
// and sessions ended while a request is in flight.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SrvCommTestSupport.h"
#include "devserver/DevServer.h"
#include "http/Server_GenericConfirmation.h"
#include "jobs/SrvComm.h"

namespace ostrelcomm {
namespace {

using enginetest::EngineRecorder;
using enginetest::kGuard;
using enginetest::makeHttp;
using enginetest::TestContext;
using Confirmation = Server_GenericConfirmation;

constexpr char kConfirmPath[] = "/enginetest/confirm/";
constexpr char kStallPath[] = "/enginetest/stall/";

// The shared stand-in server with this file's routes: both confirm the item
// named by "x-sb-item-uuid"; the second is stalled by the tests that use it.
devserver::DevServer& server() {
    static devserver::DevServer& instance = []() -> devserver::DevServer& {
        auto& s = testsupport::sharedDevserver().server();
        auto confirm = [](const devserver::ServerRequest& request) {
            return devserver::Reply::json({{"itemUUID", request.protocolHeader("item-uuid").value_or("none")}});
        };
        s.route("GET", kConfirmPath, {"ENGINE_TEST", devserver::Access::open, confirm});
        s.route("GET", kStallPath, {"ENGINE_TEST", devserver::Access::open, confirm});
        return s;
    }();
    return instance;
}

// A job of two requests: user_getProfile and then user_getKeys, each
// answered through the engine's lock, the job completing after the second.
// Every answer's item identifier must be the job's own.
void registerTwoRequestJob(SrvComm& engine) {
    auto send = [&engine](JobsSteps wait, JobsSteps next, JobStatus end) {
        auto context = engine.runningJobContext<TestContext>();
        ASSERT_NE(context, nullptr);
        const std::string jobID = context->getJobID().value();
        engine.queue()->incrementJobStep(jobID);
        SrvComm* e = &engine;
        context->httpSession->query<Confirmation>(
            kConfirmPath, "GET", {{"item-uuid", jobID}}, std::nullopt, "application/json",
            engine.lockedHandler([e, context, jobID, next, end](std::optional<Confirmation> answer, HttpHeaders,
                                                                 std::optional<HTTPError> error) {
                if (error || !answer || answer->opdata.itemUUID != jobID) {
                    e->setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string("bad answer"));
                    return;
                }
                e->setNextStep(next, end, false, context);
            }));
        engine.setNextStep(wait, JobStatus::inProgress, false, context);
    };
    engine.registerStep(JobsSteps::user_getProfile, [send] {
        send(JobsSteps::user_getProfile_wait, JobsSteps::user_getKeys, JobStatus::inProgress);
    });
    engine.registerStep(JobsSteps::user_getKeys, [send] {
        send(JobsSteps::user_getKeys_wait, JobsSteps::idle, JobStatus::completed);
    });
}

// An answer that reaches its handler before the step that sent the request
// has moved on to its "_wait" step is handled after that move: the handler
// waits for the engine's lock, which the step holds.
TEST(SrvCommHttp, AnAnswerFasterThanItsStepIsHandledAfterTheStep) {
    server();
    auto engine = std::make_shared<SrvComm>();
    EngineRecorder recorder(engine->notifications());

    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false;
    std::vector<std::string> order;  // under the engine's lock

    engine->registerStep(JobsSteps::user_getProfile, [&] {
        auto context = engine->runningJobContext<TestContext>();
        const std::string jobID = context->getJobID().value();
        SrvComm* e = engine.get();
        auto locked = e->lockedHandler([e, context, &order](std::optional<Confirmation> answer, HttpHeaders headers,
                                                            std::optional<HTTPError> error) {
            order.push_back("handler");
            if (error || !answer || headers["x-sb-action"] != "ENGINE_TEST") {
                e->setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string("bad answer"));
                return;
            }
            context->payload = answer->opdata.itemUUID;
            e->setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        });
        context->httpSession->query<Confirmation>(
            kConfirmPath, "GET", {{"item-uuid", jobID}}, std::nullopt, "application/json",
            [&, locked](std::optional<Confirmation> answer, HttpHeaders headers,
                        std::optional<HTTPError> error) mutable {
                {
                    std::lock_guard lock(mutex);
                    arrived = true;
                }
                changed.notify_all();
                locked(std::move(answer), std::move(headers), std::move(error));
            });
        // Hold the step until the answer is already at its handler.
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, kGuard, [&] { return arrived; }));
        }
        order.push_back("step: waiting");
        e->setNextStep(JobsSteps::user_getProfile_wait, JobStatus::inProgress, false, context);
    });

    auto context = std::make_shared<TestContext>(JobsSteps::user_getProfile, makeHttp());
    const std::string jobID =
        engine->queue()->addNewJob(JobType::getProfile, 1, JobPriority::Normal, context, std::nullopt, std::nullopt);
    ASSERT_TRUE(recorder.waitFor("<empty>", 1));

    std::lock_guard lock(engine->mutex());
    EXPECT_EQ(order, (std::vector<std::string>{"step: waiting", "handler"}));
    EXPECT_EQ(engine->queue()->getJobData(jobID)->status, JobStatus::completed);
    EXPECT_EQ(recorder.results(), (std::vector<std::string>{"inProgress", "completed", "<empty>"}));
    const auto posted = recorder.all();
    const auto* payload = std::any_cast<std::string>(&posted[1].customData);
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(*payload, jobID);
}

// Two engines, each with many two-request jobs queued from its own thread
// while earlier jobs are answered. Every job completes in queuing order, one
// at a time per engine. When an engine's queue empties, its observer cleans
// the queue up from inside the last answer's handler: the jobs' Http
// sessions (the running one's own included) are destroyed on that session's
// thread, which must never be joined by itself.
TEST(SrvCommHttp, ManyJobsOnTwoEnginesAtOnce) {
    server();
    constexpr int kJobs = 12;

    struct EngineRun {
        std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
        std::unique_ptr<EngineRecorder> recorder = std::make_unique<EngineRecorder>(engine->notifications());
        std::vector<std::string> ids;      // in queuing order
        std::vector<std::string> started;  // under the engine's lock
        std::atomic<int> destroyedOnWorker{0};
        std::atomic<int> destroyed{0};
        NotificationCenter::Token cleanup = 0;
    };
    EngineRun runs[2];
    const std::thread::id testThread = std::this_thread::get_id();

    for (auto& run : runs) {
        registerTwoRequestJob(*run.engine);
        run.engine->queue()->notifications()->addObserver(kJobChangedNotification, [&run](const Notification& n) {
            const auto* item = userInfoValue<CommJobsItem>(n.userInfo, "data");
            const auto* id = userInfoValue<std::string>(n.userInfo, "id");
            if (item && id && item->status == JobStatus::inProgress && item->actStep == 0)
                run.started.push_back(*id);
        });
        SrvComm* engine = run.engine.get();
        run.cleanup = engine->notifications()->addObserver(kJobQueueEmptyNotification, [engine](const Notification&) {
            int finished = 0;
            for (const auto& [id, item] : engine->queue()->getJobsList()) finished += item.status == JobStatus::completed;
            if (finished == kJobs) engine->queue()->jobCleanup();
        });
    }

    std::vector<std::thread> producers;
    for (auto& run : runs)
        producers.emplace_back([&run, testThread] {
            for (int i = 0; i < kJobs; ++i) {
                auto context = std::make_shared<TestContext>(JobsSteps::user_getProfile, makeHttp());
                context->onDestroy = [&run, testThread] {
                    ++run.destroyed;
                    if (std::this_thread::get_id() != testThread) ++run.destroyedOnWorker;
                };
                std::lock_guard lock(run.engine->mutex());
                run.ids.push_back(run.engine->queue()->addNewJob(JobType::getProfile, 2, JobPriority::Normal,
                                                                 std::move(context), std::nullopt, std::nullopt));
            }
        });
    for (auto& producer : producers) producer.join();

    for (auto& run : runs) {
        ASSERT_TRUE(run.recorder->waitFor("completed", kJobs));
        ASSERT_TRUE(run.recorder->waitFor("<empty>", 1));
    }
    // Every session thread ends by itself, its last handler released.
    ASSERT_TRUE(UrlSession::waitForNoLiveWorkers(std::chrono::duration_cast<std::chrono::milliseconds>(kGuard)));
    for (auto& run : runs) {
        std::lock_guard lock(run.engine->mutex());
        EXPECT_EQ(run.started, run.ids);
        EXPECT_EQ(run.recorder->count("error"), 0u);
        EXPECT_TRUE(run.engine->comLog().events().empty());
        EXPECT_TRUE(run.engine->queue()->getJobsList().empty()) << "cleaned up from the last handler";
        EXPECT_EQ(run.destroyed.load(), kJobs);
        EXPECT_EQ(run.destroyedOnWorker.load(), kJobs);
        EXPECT_FALSE(run.engine->runningJob().has_value());
    }
}

// A job that ends while one of its requests is still in flight cancels it;
// the cancelled request's handler still runs, finds the job no longer
// running, and changes nothing.
TEST(SrvCommHttp, EndingAJobCancelsItsRequestInFlight) {
    auto& s = server();
    s.setFault("GET", kStallPath, devserver::Fault::stalled());
    auto engine = std::make_shared<SrvComm>();
    EngineRecorder recorder(engine->notifications());

    std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::optional<HTTPError>> handled;

    engine->registerStep(JobsSteps::user_getProfile, [&] {
        auto context = engine->runningJobContext<TestContext>();
        SrvComm* e = engine.get();
        context->httpSession->query<Confirmation>(
            kStallPath, "GET", {}, std::nullopt, "application/json",
            e->lockedHandler([&, e, context](std::optional<Confirmation>, HttpHeaders, std::optional<HTTPError> error) {
                e->setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string("late failure"));
                {
                    std::lock_guard lock(mutex);
                    handled = error;
                }
                changed.notify_all();
            }));
        e->setNextStep(JobsSteps::user_getProfile_wait, JobStatus::inProgress, false, context);
    });

    auto context = std::make_shared<TestContext>(JobsSteps::user_getProfile, makeHttp());
    const std::string jobID =
        engine->queue()->addNewJob(JobType::getProfile, 1, JobPriority::Normal, context, std::nullopt, std::nullopt);
    ASSERT_TRUE(s.waitForStalledRequests(1, std::chrono::duration_cast<std::chrono::milliseconds>(kGuard)));

    // The job ends some other way (a local step, say) while the request stalls.
    engine->setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, kGuard, [&] { return handled.has_value(); }));
        EXPECT_TRUE(handled->has_value()) << "the cancelled request reports a failure";
    }
    s.releaseStalls();
    s.clearFault("GET", kStallPath);

    std::lock_guard lock(engine->mutex());
    EXPECT_EQ(engine->queue()->getJobData(jobID)->status, JobStatus::completed);
    EXPECT_TRUE(engine->comLog().events().empty());
    EXPECT_EQ(recorder.results(), (std::vector<std::string>{"inProgress", "completed", "<empty>"}));
}

}  // namespace
}  // namespace ostrelcomm
