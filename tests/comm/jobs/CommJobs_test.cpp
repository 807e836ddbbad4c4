#include <gtest/gtest.h>

#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "JobsTestSupport.h"
#include "jobs/CommJobs.h"

namespace ostrelcomm {
namespace {

using testing_jobs::addJobWithStatus;
using testing_jobs::allStatuses;
using testing_jobs::NotificationRecorder;
using testing_jobs::PlainContext;
using testing_jobs::SystemLogCapture;
using Names = std::vector<std::string>;

JobStatus statusOf(const CommJobs& jobs, const std::string& id) {
    return jobs.getJobData(id).value().status;
}

std::string idIn(const UserInfo& info) {
    const auto* id = userInfoValue<std::string>(info, "id");
    return id ? *id : std::string("<no id>");
}

// ---- choosing the next job ----

struct NextJobCase {
    const char* what;
    std::vector<std::pair<JobPriority, JobStatus>> jobs;  // in the order they are queued
    std::optional<std::size_t> chosen;                    // position in `jobs`
};

TEST(CommJobs, GetNextJobChoosesByPriorityThenAge) {
    using P = JobPriority;
    using S = JobStatus;
    const std::vector<NextJobCase> cases = {
        {"empty queue", {}, std::nullopt},
        {"only finished jobs",
         {{P::Normal, S::completed}, {P::High, S::error}, {P::ImmediateRun, S::aborted}},
         std::nullopt},
        {"only held or running jobs",
         {{P::ImmediateRun, S::suspended},
          {P::High, S::inProgress},
          {P::Normal, S::reqAbort},
          {P::Low, S::aborting}},
         std::nullopt},
        {"same priority: the older first", {{P::Normal, S::pending}, {P::Normal, S::pending}}, 0},
        {"higher priority before an older job", {{P::Low, S::pending}, {P::Normal, S::pending}}, 1},
        {"Deferred before an older High", {{P::High, S::pending}, {P::Deferred, S::deferred}}, 1},
        {"ImmediateRun before Deferred and High",
         {{P::High, S::pending}, {P::Deferred, S::deferred}, {P::ImmediateRun, S::pending}},
         2},
        {"resume is taken like pending", {{P::Normal, S::completed}, {P::Normal, S::resume}}, 1},
        {"deferred status at equal priority keeps its age",
         {{P::Normal, S::pending}, {P::Normal, S::deferred}},
         0},
        {"a suspended job of higher priority is passed over",
         {{P::ImmediateRun, S::suspended}, {P::Low, S::pending}},
         1},
        {"finished jobs of higher priority are passed over",
         {{P::High, S::completed},
          {P::High, S::error},
          {P::High, S::aborted},
          {P::Low, S::pending}},
         3},
        {"the running job is not chosen again",
         {{P::ImmediateRun, S::inProgress}, {P::Normal, S::pending}},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CommJobs jobs;
        std::vector<std::string> ids;
        for (const auto& [priority, status] : c.jobs)
            ids.push_back(addJobWithStatus(jobs, status, priority));
        NotificationRecorder recorder(jobs.notifications());

        auto [id, item] = jobs.getNextJob();
        if (!c.chosen) {
            EXPECT_FALSE(id.has_value());
            EXPECT_FALSE(item.has_value());
        } else {
            ASSERT_TRUE(id.has_value());
            ASSERT_TRUE(item.has_value());
            EXPECT_EQ(*id, ids[*c.chosen]);
            EXPECT_EQ(item->index, *c.chosen);
            EXPECT_EQ(item->status, c.jobs[*c.chosen].second);
        }
        EXPECT_TRUE(recorder.names().empty());  // choosing changes nothing
    }
}

// ---- abort, resume, suspend by identifier ----

TEST(CommJobs, AbortJobFollowsItsTableForEveryStatus) {
    struct Expect {
        bool result;
        JobStatus after;
    };
    const std::map<JobStatus, Expect> table = {
        {JobStatus::pending, {true, JobStatus::aborted}},
        {JobStatus::suspended, {true, JobStatus::aborted}},
        {JobStatus::deferred, {true, JobStatus::aborted}},
        {JobStatus::resume, {true, JobStatus::aborted}},
        {JobStatus::inProgress, {true, JobStatus::reqAbort}},
        {JobStatus::completed, {false, JobStatus::completed}},
        {JobStatus::error, {false, JobStatus::error}},
        {JobStatus::reqAbort, {false, JobStatus::reqAbort}},
        {JobStatus::aborting, {false, JobStatus::aborting}},
        {JobStatus::aborted, {false, JobStatus::aborted}},
    };
    for (JobStatus status : allStatuses()) {
        SCOPED_TRACE(std::string(name(status)));
        ASSERT_EQ(table.count(status), 1u);
        const Expect expect = table.at(status);
        CommJobs jobs;
        const std::string id = addJobWithStatus(jobs, status);
        NotificationRecorder recorder(jobs.notifications());
        SystemLogCapture log;

        EXPECT_EQ(jobs.abortJob(id), expect.result);
        EXPECT_EQ(statusOf(jobs, id), expect.after);
        EXPECT_TRUE(log.lines().empty());
        if (!expect.result) {
            EXPECT_TRUE(recorder.names().empty());
            continue;
        }
        EXPECT_EQ(recorder.names(), (Names{"JobsQueueChanged", "JobChanged"}));
        const UserInfo changed = recorder.all().at(1).userInfo;
        EXPECT_EQ(idIn(changed), id);
        const auto* data = userInfoValue<CommJobsItem>(changed, "data");
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->status, expect.after);
    }

    CommJobs jobs;
    NotificationRecorder recorder(jobs.notifications());
    EXPECT_FALSE(jobs.abortJob("5C1B7C38-0000-4000-8000-000000000000"));
    EXPECT_TRUE(recorder.names().empty());
}

TEST(CommJobs, ResumeJobRefusesAllButFaultyJobsWithItsReason) {
    const std::string notFaulty = "Unable to resume: Only faulty jobs can be resumed";
    for (JobStatus status : allStatuses()) {
        if (status == JobStatus::error) continue;
        SCOPED_TRACE(std::string(name(status)));
        auto context = std::make_shared<PlainContext>();
        context->lastStatus = JobsSteps::fileSend_sendBlock;
        context->resumeStatus = JobsSteps::fileSend_resume;
        CommJobs jobs;
        const std::string id = addJobWithStatus(jobs, status, JobPriority::Normal, context);
        NotificationRecorder recorder(jobs.notifications());
        SystemLogCapture log;

        EXPECT_FALSE(jobs.resumeJob(id));
        EXPECT_EQ(log.lines(), Names{notFaulty});
        EXPECT_EQ(statusOf(jobs, id), status);
        EXPECT_EQ(context->getNextStep(), JobsSteps::user_getProfile);
        EXPECT_TRUE(recorder.names().empty());
    }
}

TEST(CommJobs, ResumeJobChecksTheFaultyJobsContextInOrder) {
    struct Case {
        const char* what;
        bool hasContext;
        std::optional<JobsSteps> lastStatus;
        std::optional<JobsSteps> resumeStatus;
        std::optional<std::string> message;  // none: resumed
    };
    const std::vector<Case> cases = {
        {"no context", false, std::nullopt, std::nullopt,
         "Unable to resume: Last running status has not been defined"},
        {"no last step, though a resume step", true, std::nullopt, JobsSteps::fileSend_resume,
         "Unable to resume: Last running status has not been defined"},
        {"a last step but no resume step", true, JobsSteps::fileSend_sendBlock, std::nullopt,
         "Unable to resume: The resume status is not declared"},
        {"both steps", true, JobsSteps::fileSend_sendBlock, JobsSteps::fileSend_resume,
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::shared_ptr<PlainContext> context;
        if (c.hasContext) {
            context = std::make_shared<PlainContext>(JobsSteps::fileSend_sendBlock_wait);
            context->lastStatus = c.lastStatus;
            context->resumeStatus = c.resumeStatus;
        }
        CommJobs jobs;
        const std::string id =
            addJobWithStatus(jobs, JobStatus::error, JobPriority::Normal, context);
        NotificationRecorder recorder(jobs.notifications());
        // What an idle engine would read when it takes the job from the
        // notification.
        std::optional<JobsSteps> stepSeenByObserver;
        jobs.notifications()->addObserver("JobResumed", [&](const Notification&) {
            stepSeenByObserver = jobs.getJobData(id)->context->getNextStep();
        });
        SystemLogCapture log;

        const bool resumed = jobs.resumeJob(id);
        if (c.message) {
            EXPECT_FALSE(resumed);
            EXPECT_EQ(log.lines(), Names{*c.message});
            EXPECT_EQ(statusOf(jobs, id), JobStatus::error);
            EXPECT_TRUE(recorder.names().empty());
            continue;
        }
        EXPECT_TRUE(resumed);
        EXPECT_TRUE(log.lines().empty());
        EXPECT_EQ(statusOf(jobs, id), JobStatus::resume);
        EXPECT_EQ(context->getNextStep(), JobsSteps::fileSend_resume);
        EXPECT_EQ(stepSeenByObserver, JobsSteps::fileSend_resume);
        EXPECT_EQ(recorder.names(), (Names{"JobsQueueChanged", "JobResumed"}));
        EXPECT_EQ(idIn(recorder.all().at(1).userInfo), id);
        EXPECT_EQ(jobs.getNextJob().first, id);
    }
}

TEST(CommJobs, ResumeJobOfAnUnknownJobSaysSo) {
    CommJobs jobs;
    SystemLogCapture log;
    EXPECT_FALSE(jobs.resumeJob("NOT-A-JOB"));
    EXPECT_EQ(log.lines(), Names{"Unable to resume: This jobID doesn't exist"});
}

TEST(CommJobs, SuspendResumeJobFollowsItsTableForEveryStatus) {
    for (JobStatus status : allStatuses()) {
        SCOPED_TRACE(std::string(name(status)));
        CommJobs jobs;
        const std::string id = addJobWithStatus(jobs, status);
        NotificationRecorder recorder(jobs.notifications());
        SystemLogCapture log;

        const bool result = jobs.suspendResumeJob(id);
        if (status == JobStatus::suspended) {
            EXPECT_TRUE(result);
            EXPECT_EQ(statusOf(jobs, id), JobStatus::pending);
            EXPECT_EQ(recorder.names(), (Names{"JobsQueueChanged", "JobReleased"}));
            EXPECT_EQ(idIn(recorder.all().at(1).userInfo), id);
        } else if (status == JobStatus::pending) {
            EXPECT_TRUE(result);
            EXPECT_EQ(statusOf(jobs, id), JobStatus::suspended);
            EXPECT_EQ(recorder.names(), Names{"JobsQueueChanged"});
        } else {
            EXPECT_FALSE(result);
            EXPECT_EQ(statusOf(jobs, id), status);
            EXPECT_TRUE(recorder.names().empty());
        }
        EXPECT_TRUE(log.lines().empty());
    }
    CommJobs jobs;
    NotificationRecorder recorder(jobs.notifications());
    EXPECT_FALSE(jobs.suspendResumeJob("NOT-A-JOB"));
    EXPECT_TRUE(recorder.names().empty());
}

TEST(CommJobs, SuspendingTwiceReleasesTheJobOnTheSecondCall) {
    CommJobs jobs;
    const std::string id = addJobWithStatus(jobs, JobStatus::pending);
    NotificationRecorder recorder(jobs.notifications());
    ASSERT_TRUE(jobs.suspendResumeJob(id));
    EXPECT_FALSE(jobs.getNextJob().first.has_value());
    ASSERT_TRUE(jobs.suspendResumeJob(id));
    EXPECT_EQ(statusOf(jobs, id), JobStatus::pending);
    EXPECT_EQ(recorder.names(), (Names{"JobsQueueChanged", "JobsQueueChanged", "JobReleased"}));
    EXPECT_EQ(jobs.getNextJob().first, id);
}

// ---- notifications of adding and changing ----

TEST(CommJobs, AddingAJobStoresItBeforeAnnouncingIt) {
    CommJobs jobs;
    NotificationRecorder recorder(jobs.notifications());
    auto context = std::make_shared<PlainContext>();
    std::vector<bool> storedWhenPosted;
    for (const char* name : {"JobsQueueChanged", "NewJobAvailable"}) {
        jobs.notifications()->addObserver(name, [&](const Notification&) {
            storedWhenPosted.push_back(context->getJobID() &&
                                       jobs.getJobData(*context->getJobID()).has_value());
        });
    }

    const std::string id =
        jobs.addNewJob(JobType::fileReceive, 5, JobPriority::High, context, "info", "details");

    EXPECT_EQ(recorder.names(), (Names{"JobsQueueChanged", "NewJobAvailable"}));
    EXPECT_EQ(storedWhenPosted, (std::vector<bool>{true, true}));
    EXPECT_EQ(context->getJobID(), id);
    const UserInfo info = recorder.all().at(1).userInfo;
    EXPECT_EQ(idIn(info), id);
    const auto* data = userInfoValue<CommJobsItem>(info, "data");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->jobType, JobType::fileReceive);
    EXPECT_EQ(data->jobSteps, 5u);
    EXPECT_EQ(data->priority, JobPriority::High);
    EXPECT_EQ(data->status, JobStatus::pending);
    EXPECT_EQ(data->actStep, 0u);
    EXPECT_EQ(data->jobInfo, "info");
    EXPECT_EQ(data->jobDetails, "details");
    EXPECT_EQ(data->context, context);
    EXPECT_EQ(data->index, 0u);
}

TEST(CommJobs, UpdateJobDataChangesOnlyTheFieldsGiven) {
    CommJobs jobs;
    auto first = std::make_shared<PlainContext>();
    const std::string id =
        jobs.addNewJob(JobType::fileSend, 3, JobPriority::Low, first, "info", "details");
    const CommJobsItem before = *jobs.getJobData(id);
    NotificationRecorder recorder(jobs.notifications());

    jobs.updateJobData(id);  // nothing given: stored unchanged, still announced
    EXPECT_EQ(recorder.names(), (Names{"JobsQueueChanged", "JobChanged"}));
    CommJobsItem same = *jobs.getJobData(id);
    EXPECT_EQ(same.status, before.status);
    EXPECT_EQ(same.priority, before.priority);
    EXPECT_EQ(same.jobSteps, before.jobSteps);
    EXPECT_EQ(same.jobInfo, before.jobInfo);
    EXPECT_EQ(same.jobDetails, before.jobDetails);
    EXPECT_EQ(same.context, before.context);

    jobs.updateJobData(id, std::nullopt, JobStatus::deferred, JobPriority::Deferred);
    CommJobsItem deferred = *jobs.getJobData(id);
    EXPECT_EQ(deferred.status, JobStatus::deferred);
    EXPECT_EQ(deferred.priority, JobPriority::Deferred);
    EXPECT_EQ(deferred.jobSteps, 3u);
    EXPECT_EQ(deferred.jobInfo, "info");
    EXPECT_EQ(deferred.jobDetails, "details");
    EXPECT_EQ(deferred.context, first);

    auto second = std::make_shared<PlainContext>();
    jobs.updateJobData(id, 9, JobStatus::error, JobPriority::High, second, "failed", "more");
    const CommJobsItem after = *jobs.getJobData(id);
    EXPECT_EQ(after.jobSteps, 9u);
    EXPECT_EQ(after.status, JobStatus::error);
    EXPECT_EQ(after.priority, JobPriority::High);
    EXPECT_EQ(after.context, second);
    EXPECT_EQ(after.jobInfo, "failed");
    EXPECT_EQ(after.jobDetails, "more");
    EXPECT_EQ(after.index, before.index);
    EXPECT_EQ(after.timestamp, before.timestamp);

    const auto entries = recorder.all();
    ASSERT_EQ(entries.size(), 6u);
    const auto* data = userInfoValue<CommJobsItem>(entries.back().userInfo, "data");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->jobInfo, "failed");

    recorder.clear();
    jobs.updateJobData("NOT-A-JOB", 1, JobStatus::completed);
    EXPECT_TRUE(recorder.names().empty());
    EXPECT_EQ(jobs.getJobsList().size(), 1u);
}

TEST(CommJobs, IncrementJobStepCountsAndAnnouncesEvenForAnUnknownJob) {
    CommJobs jobs;
    const std::string id = addJobWithStatus(jobs, JobStatus::inProgress);
    NotificationRecorder recorder(jobs.notifications());

    EXPECT_EQ(jobs.incrementJobStep(id), 1u);
    EXPECT_EQ(jobs.incrementJobStep(id), 2u);
    EXPECT_EQ(jobs.getJobData(id)->actStep, 2u);
    auto entries = recorder.all();
    ASSERT_EQ(recorder.names(),
              (Names{"JobsQueueChanged", "JobChanged", "JobsQueueChanged", "JobChanged"}));
    const auto* data = userInfoValue<CommJobsItem>(entries.at(1).userInfo, "data");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->actStep, 1u);

    recorder.clear();
    EXPECT_FALSE(jobs.incrementJobStep("NOT-A-JOB").has_value());
    ASSERT_EQ(recorder.names(), (Names{"JobsQueueChanged", "JobChanged"}));
    const UserInfo unknown = recorder.all().at(1).userInfo;
    EXPECT_EQ(idIn(unknown), "NOT-A-JOB");
    ASSERT_EQ(unknown.count("data"), 1u);
    EXPECT_TRUE(isNullObject(unknown.at("data")));
    EXPECT_EQ(jobs.getJobsList().size(), 1u);
    EXPECT_EQ(jobs.getJobData(id)->actStep, 2u);
}

// ---- clean-up ----

TEST(CommJobs, JobCleanupRemovesFinishedJobsAndReleasesTheirContexts) {
    CommJobs jobs;
    std::map<JobStatus, std::string> ids;
    std::map<JobStatus, std::weak_ptr<CommJobsContext>> contexts;
    for (JobStatus status : allStatuses()) {
        auto context = std::make_shared<PlainContext>();
        contexts[status] = context;
        ids[status] = addJobWithStatus(jobs, status, JobPriority::Normal, std::move(context));
    }
    NotificationRecorder recorder(jobs.notifications());

    jobs.jobCleanup();

    EXPECT_EQ(recorder.names(),
              (Names{"JobsQueueChanged", "JobsQueueChanged", "JobsQueueChanged", "JobCleanup"}));
    EXPECT_TRUE(recorder.all().back().userInfo.empty());
    const auto remaining = jobs.getJobsList();
    EXPECT_EQ(remaining.size(), kJobStatusCount - 3);
    for (JobStatus status : allStatuses()) {
        SCOPED_TRACE(std::string(name(status)));
        const bool finished = status == JobStatus::completed || status == JobStatus::error ||
                              status == JobStatus::aborted;
        EXPECT_EQ(remaining.count(ids[status]), finished ? 0u : 1u);
        EXPECT_EQ(contexts[status].expired(), finished);
    }
}

// Whether another thread could take the queue's lock while this context
// went: freeing a finished job's results must not hold the engine's lock.
class LockProbingContext : public PlainContext {
public:
    LockProbingContext(std::recursive_mutex& mutex, std::optional<bool>& lockFreeAtEnd)
        : mutex_(mutex), lockFreeAtEnd_(lockFreeAtEnd) {}
    ~LockProbingContext() override {
        std::thread other([&] {
            const bool taken = mutex_.try_lock();
            if (taken) mutex_.unlock();
            lockFreeAtEnd_ = taken;
        });
        other.join();
    }

private:
    std::recursive_mutex& mutex_;
    std::optional<bool>& lockFreeAtEnd_;
};

TEST(CommJobs, JobCleanupFreesFinishedJobsOutsideTheLock) {
    CommJobs jobs;
    std::optional<bool> lockFreeAtEnd;
    addJobWithStatus(jobs, JobStatus::completed, JobPriority::Normal,
                     std::make_shared<LockProbingContext>(jobs.mutex(), lockFreeAtEnd));
    jobs.jobCleanup();
    ASSERT_TRUE(lockFreeAtEnd.has_value());
    EXPECT_TRUE(*lockFreeAtEnd);
}

TEST(CommJobs, JobCleanupWithNothingFinishedOnlyAnnouncesTheCleanup) {
    CommJobs jobs;
    addJobWithStatus(jobs, JobStatus::pending);
    addJobWithStatus(jobs, JobStatus::inProgress);
    NotificationRecorder recorder(jobs.notifications());
    jobs.jobCleanup();
    EXPECT_EQ(recorder.names(), Names{"JobCleanup"});
    EXPECT_EQ(jobs.getJobsList().size(), 2u);
}

TEST(CommJobs, ObserversOfACleanupMayChangeTheQueue) {
    CommJobs jobs;
    const std::string done = addJobWithStatus(jobs, JobStatus::completed);
    const std::string failed = addJobWithStatus(jobs, JobStatus::error);
    int removals = 0;
    std::string added;
    jobs.notifications()->addObserver("JobsQueueChanged", [&](const Notification&) {
        if (++removals != 1) return;
        // On the first removal: queue a new job and reopen whichever
        // finished job is still there, so the clean-up must leave it.
        added = jobs.addNewJob(JobType::nop, 0, JobPriority::Normal, nullptr, std::nullopt,
                               std::nullopt);
        for (const auto& id : {done, failed})
            if (jobs.getJobData(id)) jobs.updateJobData(id, std::nullopt, JobStatus::pending);
    });
    jobs.jobCleanup();
    const auto remaining = jobs.getJobsList();
    EXPECT_EQ(remaining.size(), 2u);
    EXPECT_EQ(remaining.count(added), 1u);
    EXPECT_EQ(remaining.count(done) + remaining.count(failed), 1u);
}

// ---- identifiers and order ----

TEST(CommJobs, IdentifiersAreUniqueUpperCaseUuidsAndIndicesFollowQueuing) {
    constexpr std::size_t kJobs = 100'000;
    CommJobs jobs;
    std::vector<std::string> ids;
    ids.reserve(kJobs);
    for (std::size_t i = 0; i < kJobs; ++i)
        ids.push_back(jobs.addNewJob(JobType::nop, 0, JobPriority::Normal, nullptr, std::nullopt,
                                     std::nullopt));

    std::unordered_set<std::string> distinct(ids.begin(), ids.end());
    EXPECT_EQ(distinct.size(), kJobs);
    std::size_t malformed = 0;
    for (const auto& id : ids) {
        bool ok = id.size() == 36;
        for (std::size_t i = 0; ok && i < id.size(); ++i) {
            const char c = id[i];
            ok = (i == 8 || i == 13 || i == 18 || i == 23)
                     ? c == '-'
                     : ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
        }
        if (!ok && ++malformed <= 3) ADD_FAILURE() << "malformed identifier " << id;
    }
    EXPECT_EQ(malformed, 0u);

    const auto all = jobs.getJobsList();
    ASSERT_EQ(all.size(), kJobs);
    std::size_t misplaced = 0;
    for (std::size_t i = 0; i < kJobs; ++i)
        if (all.at(ids[i]).index != i) ++misplaced;
    EXPECT_EQ(misplaced, 0u);
}

TEST(CommJobs, IndicesKeepGrowingWhenJobsLeaveTheQueue) {
    CommJobs jobs;
    for (int i = 0; i < 3; ++i) addJobWithStatus(jobs, JobStatus::completed);
    jobs.jobCleanup();
    ASSERT_TRUE(jobs.getJobsList().empty());
    const std::string next = addJobWithStatus(jobs, JobStatus::pending);
    EXPECT_EQ(jobs.getJobData(next)->index, 3u);
}

// ---- the engine lock and re-entry ----

TEST(CommJobs, AnObserverMayQueueAndTakeJobsFromInsideNewJobAvailable) {
    CommJobs jobs;
    NotificationRecorder recorder(jobs.notifications());
    std::optional<std::string> followUp;
    std::vector<std::string> announced;
    jobs.notifications()->addObserver("NewJobAvailable", [&](const Notification& n) {
        const std::string id = idIn(n.userInfo);
        announced.push_back(id);
        // Like an idle engine: take the job at once.
        if (jobs.getNextJob().first == id)
            jobs.updateJobData(id, std::nullopt, JobStatus::inProgress);
        if (!followUp) {
            followUp = "";  // queue only one follow-up
            followUp = jobs.addNewJob(JobType::logout, 1, JobPriority::ImmediateRun,
                                      std::make_shared<PlainContext>(JobsSteps::auth_logout),
                                      std::nullopt, std::nullopt);
        }
    });

    const std::string first =
        jobs.addNewJob(JobType::getProfile, 2, JobPriority::Normal,
                       std::make_shared<PlainContext>(), std::nullopt, std::nullopt);

    ASSERT_TRUE(followUp.has_value());
    EXPECT_EQ(announced, (Names{first, *followUp}));
    EXPECT_EQ(statusOf(jobs, first), JobStatus::inProgress);
    EXPECT_EQ(statusOf(jobs, *followUp), JobStatus::inProgress);
    EXPECT_EQ(jobs.getJobData(first)->index, 0u);
    EXPECT_EQ(jobs.getJobData(*followUp)->index, 1u);
    EXPECT_EQ(recorder.names().front(), "JobsQueueChanged");
    EXPECT_EQ(jobs.getJobsList().size(), 2u);
}

TEST(CommJobs, NotificationsArePostedUnderTheEngineLock) {
    CommJobs jobs;
    EXPECT_EQ(jobs.sharedMutex().get(), &jobs.mutex());
    std::vector<bool> otherThreadGotLock;
    jobs.notifications()->addObserver("NewJobAvailable", [&](const Notification&) {
        otherThreadGotLock.push_back(std::async(std::launch::async, [&] {
                                         const bool got = jobs.mutex().try_lock();
                                         if (got) jobs.mutex().unlock();
                                         return got;
                                     }).get());
    });
    addJobWithStatus(jobs, JobStatus::pending);
    EXPECT_EQ(otherThreadGotLock, std::vector<bool>{false});
    // And the lock is free again once the call returned.
    EXPECT_TRUE(std::async(std::launch::async, [&] {
                    const bool got = jobs.mutex().try_lock();
                    if (got) jobs.mutex().unlock();
                    return got;
                }).get());
}

TEST(CommJobs, TwoThreadsAddAbortAndListAtOnce) {
    constexpr int kPerThread = 400;
    CommJobs jobs;
    NotificationRecorder recorder(jobs.notifications());
    // An observer that re-enters the queue on every change, as the
    // application's list would.
    std::size_t largestList = 0;
    jobs.notifications()->addObserver("JobChanged", [&](const Notification&) {
        largestList = std::max(largestList, jobs.getJobsList().size());
    });

    auto worker = [&](bool suspendFirst, bool cleanUp) {
        int refused = 0;
        for (int i = 0; i < kPerThread; ++i) {
            const std::string id =
                jobs.addNewJob(JobType::fileSend, 1, JobPriority::Normal,
                               std::make_shared<PlainContext>(), std::nullopt, std::nullopt);
            // Listed while it waits; once aborted the other thread may clean it away.
            if (jobs.getJobsList().count(id) != 1) ++refused;
            if (suspendFirst && !jobs.suspendResumeJob(id)) ++refused;
            if (!jobs.abortJob(id)) ++refused;
            if (jobs.abortJob(id)) ++refused;  // a second abort finds it ended
            (void)jobs.getNextJob();
            if (cleanUp && i % 50 == 0) jobs.jobCleanup();
        }
        return refused;
    };
    auto a = std::async(std::launch::async, worker, false, false);
    auto b = std::async(std::launch::async, worker, true, true);
    EXPECT_EQ(a.get(), 0);
    EXPECT_EQ(b.get(), 0);

    for (const auto& [id, item] : jobs.getJobsList())
        EXPECT_EQ(item.status, JobStatus::aborted) << id;
    EXPECT_GT(largestList, 0u);
    std::set<std::uint64_t> indices;
    std::set<std::string> ids;
    for (const auto& e : recorder.all()) {
        if (e.name != "NewJobAvailable") continue;
        ids.insert(idIn(e.userInfo));
        indices.insert(userInfoValue<CommJobsItem>(e.userInfo, "data")->index);
    }
    EXPECT_EQ(ids.size(), 2u * kPerThread);
    ASSERT_EQ(indices.size(), 2u * kPerThread);
    EXPECT_EQ(*indices.rbegin(), 2u * kPerThread - 1);
    jobs.jobCleanup();
    EXPECT_TRUE(jobs.getJobsList().empty());
}

// ---- the queue's own fields ----

TEST(CommJobs, UsesItsOwnCenterUntilAnotherIsSet) {
    CommJobs jobs;
    ASSERT_NE(jobs.notifications(), nullptr);
    EXPECT_NE(jobs.notifications().get(), &NotificationCenter::defaultCenter());
    auto replacement = std::make_shared<NotificationCenter>();
    NotificationRecorder oldCenter(jobs.notifications());
    NotificationRecorder newCenter(replacement);
    jobs.setNotifications(replacement);
    addJobWithStatus(jobs, JobStatus::pending);
    EXPECT_TRUE(oldCenter.names().empty());
    EXPECT_EQ(newCenter.names(), (Names{"JobsQueueChanged", "NewJobAvailable"}));
}

TEST(CommJobs, SetQueueReplacesEveryJobAndAnnouncesIt) {
    CommJobs jobs;
    const std::string kept = addJobWithStatus(jobs, JobStatus::pending);
    addJobWithStatus(jobs, JobStatus::completed);
    CommJobs::Queue replacement;
    replacement.emplace(kept, *jobs.getJobData(kept));
    NotificationRecorder recorder(jobs.notifications());
    jobs.setQueue(replacement);
    EXPECT_EQ(recorder.names(), Names{"JobsQueueChanged"});
    EXPECT_EQ(jobs.queue().size(), 1u);
    EXPECT_EQ(jobs.queue().count(kept), 1u);
}

}  // namespace
}  // namespace ostrelcomm
