#include "jobs/CommJobBasicContext.h"

namespace ostrelcomm {

CommJobBasicContext::CommJobBasicContext(JobsSteps firstStep, std::shared_ptr<Http> httpSession,
                                         std::string notificationName)
    : CommJobsContext(firstStep, std::move(httpSession)),
      notificationName(std::move(notificationName)) {}

JobNotificationData CommJobBasicContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::completed:
            return {notificationName, "Completed", httpError,
                    Payload{{"notificationData", notificationData}}};
        case JobStatus::error:
        case JobStatus::aborted:
            return {notificationName, "Error", httpError, {}};
        default:
            return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
