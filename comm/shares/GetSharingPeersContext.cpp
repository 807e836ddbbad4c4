#include "shares/GetSharingPeersContext.h"

#include "http/Http.h"

namespace ostrelcomm {

GetSharingPeersContext::GetSharingPeersContext(const std::string& urlToUse)
    : CommJobsContext(JobsSteps::share_queryForSharingPeers, Http::forJob(urlToUse)) {}

JobNotificationData GetSharingPeersContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::inProgress: return {kNotificationName, shares::kStarted, std::nullopt, {}};
        case JobStatus::completed:
            return {kNotificationName, shares::kReceived, httpError, shares::SharingPeersPayload(sharingPeers)};
        case JobStatus::error:
        case JobStatus::aborted:
            return {kNotificationName, shares::kError, httpError, shares::SharingPeersPayload(sharingPeers)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
