#pragma once

#include <map>
#include <optional>
#include <string>

#include "auth/SRPAuthParms.h"
#include "crypto/EncryptionKey.h"
#include "crypto/SecretBytes.h"
#include "crypto/curve25519/PrivateKey.h"
#include "jobs/CommJobsContext.h"
#include "platform/Bytes.h"
#include "user/UserVerifier.h"
#include "user/UserNotifications.h"

namespace ostrelcomm {

// The context of one password change: the current and the new password, the
// user's keys once fetched and unwrapped, and the body that stores them again
// under the new password key.
class UserModificationContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = user::kUserModificationNotification;

    // The body of the key storage request; every member is always sent.
    struct NewUserProfileData {
        // Wrapped-key JSON text of the UMK under the new password key.
        std::string umk;
        // "fullaccess" when the session has full access, else empty.
        std::map<std::string, UserVerifier> verifiers;
        // The JSON text of the new verifier's parameters, else empty.
        std::string authParms;
        // Wrapped-key JSON text of the private sharing key.
        std::string privshkey;
    };

    // Starts at user_renewAuthenticationForModification with a new session
    // for the server key `urlToUse`.
    UserModificationContext(const std::string& urlToUse, SecretBytes actualPassword, SecretBytes newPassword);

    const SecretBytes actualPassword;
    const SecretBytes newPassword;
    // The unwrapped user master key, once fetched.
    std::optional<EncryptionKey> UMK;
    // Set only when a new verifier is made.
    std::optional<SRPAuthParms> authParms;
    NewUserProfileData newData;
    // The unwrapped private sharing key, once fetched.
    std::optional<PrivateKey> userPrivateKey;
    // The user's identifier from the server's confirmation.
    std::optional<std::string> uuid;
    // The login with actualPassword did not succeed: nothing may be fetched
    // or stored on the strength of it.
    bool renewalFailed = false;

    // Puts the parameters' text into the body when a verifier was made, and
    // encodes it: "umk", "verifiers", "authParms", "privshkey".
    Bytes getJSON();

    // user::kUserModificationNotification: "Modified" when completed, "Error" on error or
    // abort, with the identifier (text) when known; nothing otherwise.
    JobNotificationData getNotificationData(JobStatus status) override;
};

void to_json(json::OrderedJson& value, const UserModificationContext::NewUserProfileData& data);

}  // namespace ostrelcomm
