#pragma once

#include <optional>
#include <string>
#include <vector>

#include "crypto/curve25519/PrivateKey.h"
#include "jobs/CommJobsContext.h"
#include "shares/ShareNotifications.h"
#include "shares/SharedItem.h"

namespace ostrelcomm {

// The context of listing the items shared with the user, all of them or one
// owner's. The user's private sharing key and the opened item keys stay here
// (in secret buffers) until the job is dropped.
class GetSharedItemsContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = shares::kQuerySharedItemsNotification;

    // Starts at share_queryForSharedItems with a new session for `urlToUse`.
    GetSharedItemsContext(const std::string& urlToUse, std::optional<std::string> peerUUID);

    // The owner whose items are asked for; absent: every owner's.
    const std::optional<std::string> peerUUID;
    std::optional<PrivateKey> userPrivateKey;
    // Empty until an answer's keys are opened.
    std::vector<SharedItem> shares;

    // "Started" while the request is out, "Available" when completed, "Error"
    // on error or abort; each with the job's last request error and the list
    // (shares::SharedItemsPayload); nothing for any other status.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
