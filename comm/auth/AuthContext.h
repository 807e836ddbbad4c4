#pragma once

#include <optional>
#include <string>

#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "auth/SRPAuthParms.h"
#include "jobs/CommJobsContext.h"
#include "jobs/Session.h"
#include "platform/Bytes.h"
#include "srp/Client.h"

namespace ostrelcomm {

// The context of one login job: its mode, its own HTTPS session, and what the
// two steps of the exchange learn and compute (the server's salt and value,
// the account's SRP parameters, the SRP client with its A and proof M).
// Owned by its queued job; read and written under the engine's lock.
class AuthContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = auth::kSRPAuthenticatedNotification;

    // Starts at auth_init with a new session for the server key `urlToUse`,
    // no abort step and nothing learnt yet.
    AuthContext(const std::string& urlToUse, SRPAuthMode mode);

    std::optional<SRP::Client> srpClient;
    // A, as startAuthentication returned it.
    Bytes srpClientPublicKey;
    std::optional<Bytes> srpUserSalt;
    std::optional<Bytes> srpServerPublicKey;
    // M, as processChallenge returned it.
    Bytes srpClientKeyProof;
    SRPAuthMode authMode;
    std::optional<SRPAuthParms> masterAuthParms;
    // The session the exchange completes once the server's proof checks:
    // user, password and identifier as the second request presented them.
    std::optional<Session::Whole> exchange;

    // "SRPAuthenticated" with "Authenticated", "Error", "Aborted" (and the
    // last error) at the job's end, "InProgress" while it runs; nothing for
    // any other status.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
