#include "user/UserGetShareDataContext.h"

#include <memory>
#include <utility>

#include "http/Http.h"
#include "platform/UrlSession.h"
#include "user/UserNotifications.h"

namespace ostrelcomm {

UserGetShareDataContext::UserGetShareDataContext(const std::string& httpURL, std::string peerUsername_)
    : CommJobsContext(JobsSteps::user_getShareProfile,
                      Http::forJob(httpURL)),
      peerUsername(std::move(peerUsername_)) {}

JobNotificationData UserGetShareDataContext::getNotificationData(JobStatus status) {
    std::any payload;
    if (shareData) payload = *shareData;
    switch (status) {
        case JobStatus::completed: return {kNotificationName, user::kAvailable, httpError, std::move(payload)};
        case JobStatus::error:
        case JobStatus::aborted: return {kNotificationName, user::kError, httpError, std::move(payload)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
