#pragma once

#include <map>
#include <optional>
#include <string>

#include "auth/SRPAuthParms.h"
#include "crypto/SecretBytes.h"
#include "jobs/CommJobsContext.h"
#include "platform/Bytes.h"
#include "user/UserVerifier.h"
#include "user/UserNotifications.h"

namespace ostrelcomm {

// The context of one account creation: the new user's name and password and
// the key material the creation step makes for them (UMK and private sharing
// key wrapped under the password key, the public sharing key, the SRP
// verifier). The secrets live here only, and go with the job.
class UserCreationContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = user::kUserCreationTerminatedNotification;

    // The body of the creation request; every member is always sent.
    struct NewUsersData {
        // Wrapped-key JSON texts, carried as JSON strings.
        std::string umk;
        std::string privshkey;
        Bytes pubshkey;
        std::map<std::string, UserVerifier> verifiers;
        // The JSON text of the parameters the verifier was made with.
        std::string authParms;
    };

    // Starts at user_create with a new session for the server key `httpURL`.
    UserCreationContext(const std::string& httpURL, std::string username, SecretBytes password,
                        SRPAuthParms authParms);

    std::string username;
    SecretBytes password;
    NewUsersData newData;
    // The new user's identifier once the server has answered.
    std::optional<std::string> uuid;
    SRPAuthParms authParms;

    // Puts the parameters' text into the body and encodes it: "umk",
    // "privshkey", "pubshkey", "verifiers", "authParms", in this order.
    Bytes getJSON();

    // user::kUserCreationTerminatedNotification: "Created" when completed, "Error" on error
    // or abort, with the identifier (text) when known; nothing otherwise.
    JobNotificationData getNotificationData(JobStatus status) override;
};

void to_json(json::OrderedJson& value, const UserCreationContext::NewUsersData& data);

}  // namespace ostrelcomm
