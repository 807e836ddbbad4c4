// The engine with a very long queue: a chain of jobs that end without a
// request runs in constant stack, in priority and queue order.

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SrvCommTestSupport.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/SrvComm.h"

namespace ostrelcomm {
namespace {

using enginetest::TestContext;

constexpr std::size_t kJobs = 100000;
// Far below the default 8 MiB: a step loop that recursed once per job would
// overflow it within a few hundred jobs.
constexpr std::size_t kSmallStack = 256 * 1024;

// Runs `work` on a thread of its own with a small stack, and waits for it.
void onSmallStack(std::function<void()> work) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, kSmallStack), 0);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, &work), 0);
    pthread_attr_destroy(&attributes);
    pthread_join(thread, nullptr);
}

// An engine whose first job is parked by a hold, so that everything queued
// afterwards waits until holdResume().
struct HeldEngine {
    std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
    std::shared_ptr<CommJobs> queue = engine->queue();

    HeldEngine() {
        // The held job's step parks it; resumed, it completes.
        engine->registerStep(JobsSteps::user_getProfile, [this] {
            auto context = engine->runningJobContext<TestContext>();
            engine->queue()->incrementJobStep(*context->getJobID());
            engine->setNextStep(JobsSteps::user_getKeys, JobStatus::inProgress, true, context);
        });
        engine->registerStep(JobsSteps::user_getKeys, [this] {
            auto context = engine->runningJobContext<TestContext>();
            engine->setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        });
        // Every other job ends at its first step without sending anything, as
        // every queued job does after a failed re-login: the engine has no
        // session to sign with.
        engine->registerStep(JobsSteps::user_getSessions, [this] {
            auto context = engine->runningJobContext<TestContext>();
            engine->queue()->incrementJobStep(*context->getJobID());
            EXPECT_FALSE(engine->signingSession(context).has_value());
        });
        engine->holdRequest();
        auto held = std::make_shared<TestContext>(JobsSteps::user_getProfile);
        held->notificationName = "held";
        queue->addNewJob(JobType::getProfile, 1, JobPriority::Normal, held, std::nullopt, std::nullopt);
        EXPECT_EQ(engine->hold(), SrvComm::HoldStatus::hold);
    }

    // Job i gets High priority when odd, Normal when even.
    static JobPriority priorityOf(std::size_t i) { return i % 2 ? JobPriority::High : JobPriority::Normal; }
    // The order the queue must run them in: the High ones, then the Normal
    // ones, each in queuing order.
    static std::vector<std::size_t> expectedOrder() {
        std::vector<std::size_t> order;
        for (std::size_t i = 1; i < kJobs; i += 2) order.push_back(i);
        for (std::size_t i = 0; i < kJobs; i += 2) order.push_back(i);
        return order;
    }
};

TEST(SrvCommScale, AHundredThousandJobsEndingLocallyRunInOrderInConstantStack) {
    HeldEngine h;
    std::vector<std::size_t> ended;
    ended.reserve(kJobs);
    auto token = h.engine->notifications()->addObserver(enginetest::kJobNotification, [&](const Notification& n) {
        const auto* result = userInfoValue<std::string>(n.userInfo, "Result");
        const auto* number = userInfoValue<std::size_t>(n.userInfo, "CustomData");
        if (result && *result == "error" && number) ended.push_back(*number);
    });
    for (std::size_t i = 0; i < kJobs; ++i) {
        auto context = std::make_shared<TestContext>(JobsSteps::user_getSessions);
        context->payload = i;
        context->silent = {JobStatus::inProgress};
        h.queue->addNewJob(JobType::getSessionsInformations, 1, HeldEngine::priorityOf(i), context, std::nullopt,
                           std::nullopt);
    }
    ASSERT_TRUE(ended.empty());

    onSmallStack([&] { h.engine->holdResume(); });

    h.engine->notifications()->removeObserver(token);
    EXPECT_EQ(ended, HeldEngine::expectedOrder());
    EXPECT_EQ(h.engine->actualJobStep(), JobsSteps::idle);
    EXPECT_FALSE(h.queue->getNextJob().first.has_value());
}

TEST(SrvCommScale, AHundredThousandNopJobsCompleteInOrderInConstantStack) {
    HeldEngine h;
    std::vector<std::string> ids;
    ids.reserve(kJobs);
    for (std::size_t i = 0; i < kJobs; ++i)
        ids.push_back(h.queue->addNewJob(JobType::nop, 0, HeldEngine::priorityOf(i), nullptr, std::nullopt,
                                         std::nullopt));
    std::vector<std::string> completed;
    completed.reserve(kJobs);
    auto center = h.queue->notifications();
    auto token = center->addObserver(kJobChangedNotification, [&](const Notification& n) {
        const auto* id = userInfoValue<std::string>(n.userInfo, "id");
        const auto* item = userInfoValue<CommJobsItem>(n.userInfo, "data");
        if (id && item && item->jobType == JobType::nop && item->status == JobStatus::completed)
            completed.push_back(*id);
    });

    onSmallStack([&] { h.engine->holdResume(); });

    center->removeObserver(token);
    std::vector<std::string> expected;
    for (std::size_t i : HeldEngine::expectedOrder()) expected.push_back(ids[i]);
    EXPECT_EQ(completed, expected);
    EXPECT_EQ(h.engine->actualJobStep(), JobsSteps::idle);
}

}  // namespace
}  // namespace ostrelcomm
