#include "user/UserSessionsContext.h"

#include <memory>

#include "http/Http.h"
#include "platform/UrlSession.h"
#include "user/UserNotifications.h"

namespace ostrelcomm {

UserSessionsContext::UserSessionsContext(const std::string& httpURL, std::size_t start_, std::size_t end_)
    : CommJobsContext(JobsSteps::user_getSessions,
                      Http::forJob(httpURL)),
      start(start_),
      end(end_) {}

JobNotificationData UserSessionsContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::completed: return {kNotificationName, user::kAvailable, httpError, notificationData};
        case JobStatus::error:
        case JobStatus::aborted: return {kNotificationName, user::kError, httpError, {}};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
