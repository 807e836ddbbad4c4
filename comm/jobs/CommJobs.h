#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <functional>
#include <optional>
#include <set>
#include <tuple>
#include <string>
#include <unordered_map>
#include <utility>

#include "jobs/CommJobsContext.h"
#include "jobs/CommJobsItem.h"
#include "jobs/JobPriority.h"
#include "jobs/JobStatus.h"
#include "jobs/JobType.h"
#include "platform/NotificationCenter.h"

namespace ostrelcomm {

// Names of the queue's notifications. "id" is the job identifier (text);
// "data" is the job's CommJobsItem (the null object when JobChanged names an
// unknown job).
inline constexpr char kNewJobAvailableNotification[] = "NewJobAvailable";    // id, data
inline constexpr char kJobChangedNotification[] = "JobChanged";              // id, data
inline constexpr char kJobResumedNotification[] = "JobResumed";              // id
inline constexpr char kJobReleasedNotification[] = "JobReleased";            // id
inline constexpr char kJobCleanupNotification[] = "JobCleanup";              // no userInfo
inline constexpr char kJobsQueueChangedNotification[] = "JobsQueueChanged";  // no userInfo

// The job queue of one engine: every job from queuing until the application
// cleans it away, keyed by job identifier. It picks the job to run next and
// announces every change on its own notification center.
//
// The queue owns its engine's lock. Every operation takes it, and every
// notification is posted while it is held, so observers run under the lock
// and may call back into the queue (the lock is recursive). An observer must
// never wait for another thread that needs the lock.
class CommJobs {
  public:
    using Queue = std::unordered_map<std::string, CommJobsItem>;

    CommJobs();
    CommJobs(const CommJobs&) = delete;
    CommJobs& operator=(const CommJobs&) = delete;

    // The engine's lock, shared with the engine that owns this queue. The
    // shared form lets a late answer handler keep the lock alive.
    std::recursive_mutex& mutex() const { return *mutex_; }
    std::shared_ptr<std::recursive_mutex> sharedMutex() const { return mutex_; }

    std::shared_ptr<NotificationCenter> notifications() const;
    void setNotifications(std::shared_ptr<NotificationCenter> center);

    // A copy of all jobs, finished ones included until jobCleanup().
    Queue queue() const;
    // Library only: replaces every job.
    void setQueue(Queue queue);

    // Library only. Queues a pending job under a fresh identifier, which is
    // also given to the context, and returns the identifier once the
    // observers of "NewJobAvailable" have run.
    std::string addNewJob(JobType jobType, std::size_t jobSteps, JobPriority priority,
                          std::shared_ptr<CommJobsContext> context, std::optional<std::string> info,
                          std::optional<std::string> jobDetails);

    // Library only. Overwrites the fields that are given; an absent argument
    // (a null context) leaves its field as it is. Unknown job: nothing.
    void updateJobData(const std::string& jobID, std::optional<std::size_t> jobSteps = std::nullopt,
                       std::optional<JobStatus> status = std::nullopt,
                       std::optional<JobPriority> priority = std::nullopt,
                       std::shared_ptr<CommJobsContext> context = nullptr,
                       std::optional<std::string> info = std::nullopt,
                       std::optional<std::string> jobDetails = std::nullopt);

    // Library only. Counts one more step of the job and returns the new count;
    // none for an unknown job.
    std::optional<std::size_t> incrementJobStep(const std::string& jobID);

    // Library only. The waiting job (pending, deferred or resume) of highest
    // priority, the oldest among equals; (none, none) when there is none.
    std::pair<std::optional<std::string>, std::optional<CommJobsItem>> getNextJob() const;

    // A copy of all jobs; its order carries no meaning.
    Queue getJobsList() const;

    // Library only: the job's record, if there is one.
    std::optional<CommJobsItem> getJobData(const std::string& jobID) const;

    // A waiting job (pending, suspended, deferred, resume) becomes aborted; the
    // running one (inProgress) becomes reqAbort and is ended by its engine.
    // False, and nothing posted, for any other status or an unknown job.
    bool abortJob(const std::string& jobID);

    // A job that ended in error, whose context knows its last and its resume
    // step, becomes resume and will go on at its resume step. Refusals return
    // false and say why in the system log.
    bool resumeJob(const std::string& jobID);

    // Toggles a job between pending and suspended; false for any other status
    // or an unknown job.
    bool suspendResumeJob(const std::string& jobID);

    // Removes the completed, failed and aborted jobs, releasing their contexts.
    void jobCleanup();

    // Library only: the engine's announcement of a waiting job that
    // abortJob has ended (its context's notification for aborted). Called
    // under the lock, after "JobChanged".
    using WaitingJobAbortedHandler = std::function<void(const std::shared_ptr<CommJobsContext>&)>;
    void setWaitingJobAbortedHandler(WaitingJobAbortedHandler handler);

  private:
    // The waiting jobs in the order they run: higher raw priority first,
    // then the lower index. Kept beside the map so that taking the next job
    // does not walk the finished ones.
    using WaitingKey = std::tuple<int, std::uint64_t, std::string>;
    static std::optional<WaitingKey> waitingKey(const std::string& jobID, const CommJobsItem& item);

    // Moves a job in (or out of) the waiting order after a change of it;
    // `wasWaiting` is its key from before the change.
    void keepWaitingIndex(const std::string& jobID, const std::optional<WaitingKey>& wasWaiting,
                          const CommJobsItem& item);
    void storeJob(const std::string& jobID, CommJobsItem item);
    void post(const std::string& name, UserInfo userInfo = {}) const;
    void postJobChanged(const std::string& jobID, std::any data) const;

    std::shared_ptr<std::recursive_mutex> mutex_;
    std::shared_ptr<NotificationCenter> notifications_;
    Queue queue_;
    std::set<WaitingKey> waiting_;
    std::uint64_t jobIndex_ = 0;
    WaitingJobAbortedHandler waitingJobAborted_;
};

}  // namespace ostrelcomm
