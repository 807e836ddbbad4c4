#pragma once

#include <any>
#include <map>
#include <string>

#include "crypto/SecretBytes.h"
#include "jobs/CommJobsContext.h"

namespace ostrelcomm {

// The context of a profile deletion: the password typed to confirm it, and
// the deleted user's identifier once the server has confirmed.
class UserDeleteContext : public CommJobsContext {
public:
    // The payload of the completion notification: the one entry
    // "notificationData", present even when it holds no value.
    using Payload = std::map<std::string, std::any>;

    // `httpURL` is the server key of the job's new session.
    UserDeleteContext(JobsSteps firstStep, SecretBytes password, const std::string& httpURL,
                      std::string notificationName);

    const SecretBytes actualPassword;
    const std::string notificationName;
    // The deleted user's identifier (text), once confirmed.
    std::any notificationData;
    // The login with actualPassword did not succeed: nothing may be deleted
    // on the strength of it.
    bool renewalFailed = false;

    // Completed: "Deleted" with the payload; error: "Error"; aborted:
    // "Aborted"; nothing otherwise.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
