#include "shares/GetSharesContext.h"

#include <utility>

#include "http/Http.h"

namespace ostrelcomm {

GetSharesContext::GetSharesContext(const std::string& urlToUse, std::string itemUUID_)
    : CommJobsContext(JobsSteps::share_queryForShares, Http::forJob(urlToUse)), itemUUID(std::move(itemUUID_)) {}

JobNotificationData GetSharesContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::inProgress: return {kNotificationName, shares::kStarted, std::nullopt, {}};
        case JobStatus::completed:
            return {kNotificationName, shares::kReceived, httpError, shares::QueryForSharesPayload(shares)};
        case JobStatus::error:
        case JobStatus::aborted:
            return {kNotificationName, shares::kError, httpError, shares::QueryForSharesPayload(shares)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
