#pragma once

#include <any>
#include <map>
#include <memory>
#include <string>

#include "jobs/CommJobsContext.h"

namespace ostrelcomm {

// The context of a job that keeps no state of its own beyond an optional
// result value (reading the profile, logging out).
class CommJobBasicContext : public CommJobsContext {
  public:
    // The payload of the completion notification: the one entry
    // "notificationData", present even when it holds no value.
    using Payload = std::map<std::string, std::any>;

    // `httpSession` is the job's own session, made by the caller for its
    // server key; null for a job that sends nothing.
    CommJobBasicContext(JobsSteps firstStep, std::shared_ptr<Http> httpSession,
                        std::string notificationName);

    const std::string notificationName;
    std::any notificationData;

    // Completed: the name, "Completed", the last error and the payload.
    // Error or aborted: the name, "Error" and the last error. Otherwise no
    // notification.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
