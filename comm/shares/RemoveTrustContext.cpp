#include "shares/RemoveTrustContext.h"

#include <any>
#include <utility>

#include "http/Http.h"

namespace ostrelcomm {

RemoveTrustContext::RemoveTrustContext(const std::string& urlToUse, std::string trustedUserUUID)
    : CommJobsContext(JobsSteps::share_removeTrust, Http::forJob(urlToUse)), uuid(std::move(trustedUserUUID)) {}

JobNotificationData RemoveTrustContext::getNotificationData(JobStatus status) {
    std::any payload;
    if (uuid) payload = shares::TrustRemovePayload(*uuid);
    switch (status) {
        case JobStatus::completed: return {kNotificationName, shares::kRemoved, httpError, std::move(payload)};
        case JobStatus::error:
        case JobStatus::aborted: return {kNotificationName, shares::kError, httpError, std::move(payload)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
