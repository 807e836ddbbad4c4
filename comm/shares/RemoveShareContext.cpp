#include "shares/RemoveShareContext.h"

#include <utility>

#include "http/Http.h"

namespace ostrelcomm {

RemoveShareContext::RemoveShareContext(const std::string& urlToUse, std::string shareUUID_)
    : CommJobsContext(JobsSteps::share_removeShare, Http::forJob(urlToUse)), shareUUID(std::move(shareUUID_)) {}

JobNotificationData RemoveShareContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::completed:
            return {kNotificationName, shares::kRemoved, httpError, shares::RemoveSharePayload(shareUUID)};
        case JobStatus::error:
        case JobStatus::aborted:
            return {kNotificationName, shares::kError, httpError, shares::RemoveSharePayload(shareUUID)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
