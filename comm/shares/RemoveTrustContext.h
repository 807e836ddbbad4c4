#pragma once

#include <optional>
#include <string>

#include "jobs/CommJobsContext.h"
#include "shares/ShareNotifications.h"

namespace ostrelcomm {

// The context of removing a trusted peer.
class RemoveTrustContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = shares::kTrustRemoveNotification;

    // Starts at share_removeTrust with a new session for `urlToUse`.
    RemoveTrustContext(const std::string& urlToUse, std::string trustedUserUUID);

    // The trusted user's identifier (the peer's, not the trust's); always set.
    const std::optional<std::string> uuid;

    // "Removed" when completed, "Error" on error or abort; the identifier as
    // payload every time.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
