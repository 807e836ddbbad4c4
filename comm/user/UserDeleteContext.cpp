#include "user/UserDeleteContext.h"

#include <memory>
#include <utility>

#include "http/Http.h"
#include "platform/UrlSession.h"
#include "user/UserNotifications.h"

namespace ostrelcomm {

UserDeleteContext::UserDeleteContext(JobsSteps firstStep, SecretBytes password, const std::string& httpURL,
                                     std::string notificationName_)
    : CommJobsContext(firstStep,
                      Http::forJob(httpURL)),
      actualPassword(std::move(password)),
      notificationName(std::move(notificationName_)) {}

JobNotificationData UserDeleteContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::completed:
            return {notificationName, user::kDeleted, httpError, Payload{{user::kNotificationDataKey, notificationData}}};
        case JobStatus::error: return {notificationName, user::kError, httpError, {}};
        case JobStatus::aborted: return {notificationName, user::kAborted, httpError, {}};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
