#pragma once

#include <optional>
#include <string>

#include "jobs/CommJobsContext.h"
#include "user/PeerShareData.h"
#include "user/UserNotifications.h"

namespace ostrelcomm {

// The context of the query for another user's public sharing profile.
class UserGetShareDataContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = user::kPeerShareDataNotification;

    // Starts at user_getShareProfile with a new session for `httpURL`.
    UserGetShareDataContext(const std::string& httpURL, std::string peerUsername);

    const std::string peerUsername;
    // The profile, only when the server knows the user (non-empty uuid).
    std::optional<PeerShareData> shareData;

    // user::kPeerShareDataNotification: "Available" when completed, "Error" on error or
    // abort; the profile as payload whenever there is one.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
