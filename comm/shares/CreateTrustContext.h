#pragma once

#include <optional>
#include <string>

#include "jobs/CommJobsContext.h"
#include "platform/Bytes.h"
#include "shares/ShareNotifications.h"
#include "shares/TrustCode.h"

namespace ostrelcomm {

// The context of adding a trusted peer from the peer's trust code.
class CreateTrustContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = shares::kTrustCreationTerminatedNotification;

    // Starts at share_addTrustedUser with a new session for `urlToUse`; the
    // request body is the peer's trust code without a trust identifier.
    CreateTrustContext(const std::string& urlToUse, std::string uuid, std::string username, Bytes pubSHKey);

    const TrustCode newTrustData;
    // The new trust's identifier, when the server's answer names one.
    std::optional<std::string> uuid;

    // "Created" when completed, "Error" on error or abort; the identifier as
    // payload whenever there is one.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
