#include "shares/ListTrustsContext.h"

#include <any>

#include "http/Http.h"

namespace ostrelcomm {

ListTrustsContext::ListTrustsContext(const std::string& urlToUse)
    : CommJobsContext(JobsSteps::share_listTrusts, Http::forJob(urlToUse)) {}

JobNotificationData ListTrustsContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::completed:
            return {kNotificationName, shares::kAvailable, httpError, shares::TrustsListPayload(trusts)};
        case JobStatus::error:
        case JobStatus::aborted:
            return {kNotificationName, shares::kError, httpError, shares::TrustsListPayload(trusts)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
