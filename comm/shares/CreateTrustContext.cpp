#include "shares/CreateTrustContext.h"

#include <any>
#include <utility>

#include "http/Http.h"

namespace ostrelcomm {

CreateTrustContext::CreateTrustContext(const std::string& urlToUse, std::string uuid_, std::string username,
                                       Bytes pubSHKey)
    : CommJobsContext(JobsSteps::share_addTrustedUser, Http::forJob(urlToUse)),
      newTrustData(std::nullopt, std::move(uuid_), std::move(username), std::move(pubSHKey)) {}

JobNotificationData CreateTrustContext::getNotificationData(JobStatus status) {
    std::any payload;
    if (uuid) payload = shares::TrustCreationPayload(*uuid);
    switch (status) {
        case JobStatus::completed: return {kNotificationName, shares::kCreated, httpError, std::move(payload)};
        case JobStatus::error:
        case JobStatus::aborted: return {kNotificationName, shares::kError, httpError, std::move(payload)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
