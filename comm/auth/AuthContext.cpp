#include "auth/AuthContext.h"

#include <memory>

#include "http/Http.h"
#include "platform/UrlSession.h"

namespace ostrelcomm {

AuthContext::AuthContext(const std::string& urlToUse, SRPAuthMode mode)
    : CommJobsContext(JobsSteps::auth_init,
                      Http::forJob(urlToUse)),
      authMode(mode) {}

JobNotificationData AuthContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::completed: return {kNotificationName, auth::kAuthenticated, httpError, {}};
        case JobStatus::error: return {kNotificationName, auth::kError, httpError, {}};
        case JobStatus::inProgress: return {kNotificationName, auth::kInProgress, std::nullopt, {}};
        case JobStatus::aborted: return {kNotificationName, auth::kAborted, httpError, {}};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
