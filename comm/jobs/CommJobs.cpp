#include "jobs/CommJobs.h"

#include <vector>

#include "platform/SystemLog.h"
#include "platform/Uuid.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

bool isWaiting(JobStatus status) {
    return status == JobStatus::pending || status == JobStatus::deferred ||
           status == JobStatus::resume;
}

}  // namespace

CommJobs::CommJobs()
    : mutex_(std::make_shared<std::recursive_mutex>()),
      notifications_(std::make_shared<NotificationCenter>()) {}

std::shared_ptr<NotificationCenter> CommJobs::notifications() const {
    Lock lock(*mutex_);
    return notifications_;
}

void CommJobs::setNotifications(std::shared_ptr<NotificationCenter> center) {
    Lock lock(*mutex_);
    notifications_ = std::move(center);
}

CommJobs::Queue CommJobs::queue() const {
    Lock lock(*mutex_);
    return queue_;
}

void CommJobs::setQueue(Queue queue) {
    Lock lock(*mutex_);
    // The replaced jobs (and their contexts) are released after the
    // announcement, outside the map.
    Queue previous = std::exchange(queue_, std::move(queue));
    waiting_.clear();
    for (const auto& [jobID, item] : queue_)
        if (auto key = waitingKey(jobID, item)) waiting_.insert(std::move(*key));
    post(kJobsQueueChangedNotification);
}

std::optional<CommJobs::WaitingKey> CommJobs::waitingKey(const std::string& jobID, const CommJobsItem& item) {
    if (!isWaiting(item.status)) return std::nullopt;
    // Negated so that the set's ascending order puts the higher priority first.
    return WaitingKey{-static_cast<int>(rawValue(item.priority)), item.index, jobID};
}

void CommJobs::setWaitingJobAbortedHandler(WaitingJobAbortedHandler handler) {
    Lock lock(*mutex_);
    waitingJobAborted_ = std::move(handler);
}

// Notifications go out under the lock; observers run with it held.
void CommJobs::post(const std::string& name, UserInfo userInfo) const {
    if (notifications_) notifications_->post(name, std::move(userInfo));
}

void CommJobs::postJobChanged(const std::string& jobID, std::any data) const {
    post(kJobChangedNotification, UserInfo{{"id", jobID}, {"data", std::move(data)}});
}

void CommJobs::keepWaitingIndex(const std::string& jobID, const std::optional<WaitingKey>& wasWaiting,
                                const CommJobsItem& item) {
    std::optional<WaitingKey> waits = waitingKey(jobID, item);
    if (wasWaiting == waits) return;
    if (wasWaiting) waiting_.erase(*wasWaiting);
    if (waits) waiting_.insert(std::move(*waits));
}

void CommJobs::storeJob(const std::string& jobID, CommJobsItem item) {
    std::optional<WaitingKey> wasWaiting;
    if (auto it = queue_.find(jobID); it != queue_.end()) wasWaiting = waitingKey(jobID, it->second);
    const CommJobsItem& stored = queue_.insert_or_assign(jobID, std::move(item)).first->second;
    keepWaitingIndex(jobID, wasWaiting, stored);
    post(kJobsQueueChangedNotification);
}

std::string CommJobs::addNewJob(JobType jobType, std::size_t jobSteps, JobPriority priority,
                                std::shared_ptr<CommJobsContext> context,
                                std::optional<std::string> info,
                                std::optional<std::string> jobDetails) {
    Lock lock(*mutex_);
    std::string jobID = newUuidString();
    if (context) context->setJobID(jobID);
    CommJobsItem item(jobType, jobSteps, std::move(context), priority, jobIndex_);
    item.jobInfo = std::move(info);
    item.jobDetails = std::move(jobDetails);
    storeJob(jobID, item);
    ++jobIndex_;
    post(kNewJobAvailableNotification, UserInfo{{"id", jobID}, {"data", std::move(item)}});
    return jobID;
}

void CommJobs::updateJobData(const std::string& jobID, std::optional<std::size_t> jobSteps,
                             std::optional<JobStatus> status, std::optional<JobPriority> priority,
                             std::shared_ptr<CommJobsContext> context,
                             std::optional<std::string> info,
                             std::optional<std::string> jobDetails) {
    Lock lock(*mutex_);
    auto it = queue_.find(jobID);
    if (it == queue_.end()) return;
    // Changed where it is stored; the announcement carries one copy, taken
    // before the observers run (they may remove the job).
    CommJobsItem& item = it->second;
    const std::optional<WaitingKey> wasWaiting = waitingKey(jobID, item);
    if (jobSteps) item.jobSteps = *jobSteps;
    if (status) item.status = *status;
    if (priority) item.priority = *priority;
    if (context) item.context = std::move(context);
    if (info) item.jobInfo = std::move(info);
    if (jobDetails) item.jobDetails = std::move(jobDetails);
    keepWaitingIndex(jobID, wasWaiting, item);
    std::any data = item;
    post(kJobsQueueChangedNotification);
    postJobChanged(jobID, std::move(data));
}

std::optional<std::size_t> CommJobs::incrementJobStep(const std::string& jobID) {
    Lock lock(*mutex_);
    std::optional<CommJobsItem> item;
    if (auto it = queue_.find(jobID); it != queue_.end()) {
        ++it->second.actStep;
        item = it->second;
    }
    post(kJobsQueueChangedNotification);
    if (!item) {
        postJobChanged(jobID, NullObject{});
        return std::nullopt;
    }
    const std::size_t actStep = item->actStep;
    postJobChanged(jobID, std::move(*item));
    return actStep;
}

std::pair<std::optional<std::string>, std::optional<CommJobsItem>> CommJobs::getNextJob() const {
    Lock lock(*mutex_);
    if (waiting_.empty()) return {std::nullopt, std::nullopt};
    const std::string& jobID = std::get<2>(*waiting_.begin());
    return {jobID, queue_.at(jobID)};
}

CommJobs::Queue CommJobs::getJobsList() const {
    return queue();
}

std::optional<CommJobsItem> CommJobs::getJobData(const std::string& jobID) const {
    Lock lock(*mutex_);
    auto it = queue_.find(jobID);
    if (it == queue_.end()) return std::nullopt;
    return it->second;
}

bool CommJobs::abortJob(const std::string& jobID) {
    Lock lock(*mutex_);
    auto it = queue_.find(jobID);
    if (it == queue_.end()) return false;
    CommJobsItem item = it->second;
    switch (item.status) {
        case JobStatus::pending:
        case JobStatus::suspended:
        case JobStatus::deferred:
        case JobStatus::resume:
            item.status = JobStatus::aborted;
            break;
        case JobStatus::inProgress:
            item.status = JobStatus::reqAbort;
            break;
        case JobStatus::completed:
        case JobStatus::error:
        case JobStatus::reqAbort:
        case JobStatus::aborting:
        case JobStatus::aborted:
            return false;
    }
    const bool endedNow = item.status == JobStatus::aborted;
    std::shared_ptr<CommJobsContext> context = item.context;
    storeJob(jobID, item);
    postJobChanged(jobID, std::move(item));
    // A job that never ran ends here: its end is announced like any other.
    if (endedNow && waitingJobAborted_) {
        WaitingJobAbortedHandler announce = waitingJobAborted_;
        announce(context);
    }
    return true;
}

bool CommJobs::resumeJob(const std::string& jobID) {
    Lock lock(*mutex_);
    auto it = queue_.find(jobID);
    if (it == queue_.end()) {
        systemLog("Unable to resume: This jobID doesn't exist");
        return false;
    }
    CommJobsItem item = it->second;
    if (item.status != JobStatus::error) {
        systemLog("Unable to resume: Only faulty jobs can be resumed");
        return false;
    }
    std::shared_ptr<CommJobsContext> context = item.context;
    if (!context || !context->lastStatus) {
        systemLog("Unable to resume: Last running status has not been defined");
        return false;
    }
    if (!context->resumeStatus) {
        systemLog("Unable to resume: The resume status is not declared");
        return false;
    }
    const JobsSteps resumeStep = *context->resumeStatus;
    item.status = JobStatus::resume;
    storeJob(jobID, std::move(item));
    // An idle engine takes the job from the observer of "JobResumed" and reads
    // its next step at once.
    context->setNextStep(resumeStep);
    post(kJobResumedNotification, UserInfo{{"id", jobID}});
    return true;
}

bool CommJobs::suspendResumeJob(const std::string& jobID) {
    Lock lock(*mutex_);
    auto it = queue_.find(jobID);
    if (it == queue_.end()) return false;
    CommJobsItem item = it->second;
    switch (item.status) {
        case JobStatus::suspended:
            item.status = JobStatus::pending;
            storeJob(jobID, std::move(item));
            post(kJobReleasedNotification, UserInfo{{"id", jobID}});
            return true;
        case JobStatus::pending:
            item.status = JobStatus::suspended;
            storeJob(jobID, std::move(item));
            return true;
        default:
            return false;
    }
}

void CommJobs::jobCleanup() {
    // Declared before the lock, so it goes after the lock is let go: freeing
    // what finished jobs kept (a listing's items, a transfer's buffers) grows
    // with their size and is no work for the engine's lock.
    std::vector<CommJobsItem> removed;
    Lock lock(*mutex_);
    std::vector<std::string> finished;
    for (const auto& [jobID, item] : queue_)
        if (isFinished(item.status)) finished.push_back(jobID);
    // Observers of each removal may change the queue, so every job is looked
    // up again before it goes.
    for (const auto& jobID : finished) {
        auto it = queue_.find(jobID);
        if (it == queue_.end() || !isFinished(it->second.status)) continue;
        removed.push_back(std::move(it->second));
        queue_.erase(it);
        post(kJobsQueueChangedNotification);
    }
    post(kJobCleanupNotification);
}

}  // namespace ostrelcomm
