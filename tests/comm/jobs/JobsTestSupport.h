#pragma once

// Small helpers for the job queue tests: a context with no behaviour of its
// own, a recording observer and a capture of the system log.

#include <algorithm>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "jobs/CommJobs.h"
#include "jobs/CommJobsContext.h"
#include "jobs/JobPriority.h"
#include "jobs/JobStatus.h"
#include "jobs/JobsSteps.h"
#include "platform/NotificationCenter.h"
#include "platform/SystemLog.h"
#include "support/NotificationRecorder.h"

namespace ostrelcomm {

inline void PrintTo(JobStatus status, std::ostream* os) {
    *os << name(status);
}
inline void PrintTo(JobPriority priority, std::ostream* os) {
    *os << name(priority);
}
inline void PrintTo(JobsSteps step, std::ostream* os) {
    *os << name(step);
}

namespace testing_jobs {

class PlainContext : public CommJobsContext {
  public:
    explicit PlainContext(JobsSteps first = JobsSteps::user_getProfile) : CommJobsContext(first) {}
    JobNotificationData getNotificationData(JobStatus) override { return {}; }
};

inline std::vector<JobStatus> allStatuses() {
    std::vector<JobStatus> all;
    for (std::size_t i = 0; i < kJobStatusCount; ++i) all.push_back(static_cast<JobStatus>(i));
    return all;
}

// Records every queue notification, in the order they are posted.
class NotificationRecorder : public testsupport::NotificationRecorder {
  public:
    explicit NotificationRecorder(const std::shared_ptr<NotificationCenter>& center)
        : testsupport::NotificationRecorder(
              center, {kNewJobAvailableNotification, kJobChangedNotification, kJobResumedNotification,
                       kJobReleasedNotification, kJobCleanupNotification, kJobsQueueChangedNotification}) {}
};

// Takes the system log for the life of the object.
class SystemLogCapture {
  public:
    SystemLogCapture() {
        previous_ = setSystemLogSink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~SystemLogCapture() { setSystemLogSink(std::move(previous_)); }
    SystemLogCapture(const SystemLogCapture&) = delete;
    SystemLogCapture& operator=(const SystemLogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    SystemLogSink previous_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Queues a job and brings it to `status` the way the engine would.
inline std::string addJobWithStatus(
    CommJobs& jobs, JobStatus status, JobPriority priority = JobPriority::Normal,
    std::shared_ptr<CommJobsContext> context = std::make_shared<PlainContext>()) {
    std::string id = jobs.addNewJob(JobType::getProfile, 2, priority, std::move(context),
                                    std::nullopt, std::nullopt);
    if (status != JobStatus::pending) jobs.updateJobData(id, std::nullopt, status);
    return id;
}

}  // namespace testing_jobs
}  // namespace ostrelcomm
