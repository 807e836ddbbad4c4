#pragma once

#include <string>
#include <vector>

#include "jobs/CommJobsContext.h"
#include "shares/ShareNotifications.h"
#include "shares/SharesData.h"

namespace ostrelcomm {

// The context of listing the shares of one of the user's items.
class GetSharesContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = shares::kQueryForSharesNotification;

    // Starts at share_queryForShares with a new session for `urlToUse`.
    GetSharesContext(const std::string& urlToUse, std::string itemUUID);

    const std::string itemUUID;
    // Empty until an answer arrives.
    std::vector<SharesData> shares;

    // "Started" (no error, no data) while the request is out; "Received"
    // when completed and "Error" on error or abort, each with the list
    // (shares::QueryForSharesPayload); nothing for any other status.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
