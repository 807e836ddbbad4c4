#pragma once

#include <string>
#include <vector>

#include "jobs/CommJobsContext.h"
#include "shares/ShareNotifications.h"
#include "shares/SharingPeer.h"

namespace ostrelcomm {

// The context of listing the users who share items with the user.
class GetSharingPeersContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = shares::kQueryForSharingPeersNotification;

    // Starts at share_queryForSharingPeers with a new session for `urlToUse`.
    explicit GetSharingPeersContext(const std::string& urlToUse);

    // Empty until an answer arrives.
    std::vector<SharingPeer> sharingPeers;

    // "Started" (no error, no data) while the request is out; "Received"
    // when completed and "Error" on error or abort, each with the list
    // (shares::SharingPeersPayload); nothing for any other status.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
