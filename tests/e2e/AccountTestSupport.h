#pragma once

// The account tests' common ground: the shared stand-in server, a recorder of
// every job notification an engine posts (with its payload), a login helper,
// and the key oracles of tests/support (OpenSSL and libsodium, never the
// client's own key code).

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "auth/AuthNotifications.h"
#include "user/UserNotifications.h"
#include "devserver/AccountEndpoints.h"
#include "devserver/DevServer.h"
#include "auth/SRPAuthMode.h"
#include "jobs/SrvComm.h"
#include "platform/NotificationCenter.h"
#include "support/CryptoOracle.h"
#include "support/EngineRequests.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"

namespace ostrelcomm::accounttest {

inline constexpr auto kGuard = std::chrono::seconds(30);

// The shared stand-in server; call before the program's first Http.
inline devserver::DevServer& server() { return testsupport::sharedDevserver().server(); }

// A user name no other test of the program uses.
inline std::string uniqueUser(const std::string& stem) { return testsupport::uniqueName("acct-" + stem); }

inline std::vector<devserver::RecordedRequest> requestsOf(const std::string& user) {
    return testsupport::requestsOf(server(), user);
}

using testsupport::lastError;
using testsupport::requestLines;

// One notification as posted.
using Posted = testsupport::PostedNotification;

// Records the job notifications of the account jobs, the login and the
// logout, and counts "jobQueueEmpty".
class Recorder : public testsupport::NotificationRecorder {
public:
    explicit Recorder(std::shared_ptr<NotificationCenter> center)
        : NotificationRecorder(std::move(center),
                               {user::kUserCreationTerminatedNotification, user::kUserProfileDataAvailableNotification, user::kPeerShareDataNotification,
                                user::kGetUserSessionsDataNotification, user::kUserModificationNotification, user::kUserProfileDeletedNotification, auth::kSRPAuthenticatedNotification,
                                auth::kUserLogoutNotification}) {}

    // "name:result" of each, in order, the login's "InProgress" left out.
    std::vector<std::string> lines() const { return NotificationRecorder::lines({"InProgress"}); }
};

// Logs the engine in; true on "Authenticated".
inline bool login(SrvComm& engine, Recorder& recorder, const std::string& user, const std::string& password) {
    engine.auth_add(user, SecretBytes::fromText(password), SRPAuthMode::new_);
    if (!recorder.waitIdle()) return false;
    auto end = recorder.last(auth::kSRPAuthenticatedNotification);
    recorder.clear();
    return end && end->result == "Authenticated";
}

// A user made through the creation endpoint's own logic, with keys made on
// OpenSSL as a client would; returns its name.
inline std::string makeAccount(const std::string& stem, const std::string& password) {
    std::string name = uniqueUser(stem);
    devserver::addDemoUser(server().users(), name, password);
    return name;
}

// --- oracles ------------------------------------------------------------------------

using testsupport::oraclePasswordKey;
using testsupport::oraclePrivateKey;
using testsupport::oraclePublicKey;
using testsupport::oracleUnwrap;

}  // namespace ostrelcomm::accounttest
