#pragma once

#include <string>

#include "jobs/CommJobsContext.h"
#include "shares/ShareNotifications.h"

namespace ostrelcomm {

// The context of removing one share, by its owner or by its reader.
class RemoveShareContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = shares::kRemoveShareTerminatedNotification;

    // Starts at share_removeShare with a new session for `urlToUse`.
    RemoveShareContext(const std::string& urlToUse, std::string shareUUID);

    const std::string shareUUID;

    // "Removed" when completed, "Error" on error or abort, with the
    // identifier asked for (shares::RemoveSharePayload) every time; nothing
    // for any other status, a running job included.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
