#pragma once

#include <string>
#include <vector>

#include "jobs/CommJobsContext.h"
#include "shares/ShareNotifications.h"
#include "shares/TrustCode.h"

namespace ostrelcomm {

// The context of listing the user's trusted peers.
class ListTrustsContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = shares::kTrustsListNotification;

    // Starts at share_listTrusts with a new session for `urlToUse`.
    explicit ListTrustsContext(const std::string& urlToUse);

    // Empty until an answer arrives.
    std::vector<TrustCode> trusts;

    // "Available" when completed, "Error" on error or abort; the list
    // (shares::TrustsListPayload) as payload every time.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
