#pragma once

#include <any>
#include <cstddef>
#include <string>

#include "jobs/CommJobsContext.h"
#include "user/UserNotifications.h"

namespace ostrelcomm {

// The context of the login-history query for the entries from `start` to
// `end`, as the server counts them.
class UserSessionsContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = user::kGetUserSessionsDataNotification;

    // Starts at user_getSessions with a new session for `httpURL`.
    UserSessionsContext(const std::string& httpURL, std::size_t start, std::size_t end);

    const std::size_t start;
    const std::size_t end;
    // The answer's std::vector<UserSessionData>, once answered.
    std::any notificationData;

    // user::kGetUserSessionsDataNotification: "Available" with the list when completed,
    // "Error" on error or abort.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
