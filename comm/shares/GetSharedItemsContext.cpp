#include "shares/GetSharedItemsContext.h"

#include <utility>

#include "http/Http.h"

namespace ostrelcomm {

GetSharedItemsContext::GetSharedItemsContext(const std::string& urlToUse, std::optional<std::string> peerUUID_)
    : CommJobsContext(JobsSteps::share_queryForSharedItems, Http::forJob(urlToUse)), peerUUID(std::move(peerUUID_)) {}

JobNotificationData GetSharedItemsContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::inProgress:
            return {kNotificationName, shares::kStarted, httpError, shares::SharedItemsPayload(shares)};
        case JobStatus::completed:
            return {kNotificationName, shares::kAvailable, httpError, shares::SharedItemsPayload(shares)};
        case JobStatus::error:
        case JobStatus::aborted:
            return {kNotificationName, shares::kError, httpError, shares::SharedItemsPayload(shares)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
