// Account creation by a real engine against the in-process stand-in server:
// the key hierarchy and verifier it sends (checked with OpenSSL and
// libsodium), the unsigned request, the user name it borrows, the login and
// profile of the new user, and each way a creation fails.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "user/UserNotifications.h"
#include "AccountTestSupport.h"
#include "devserver/Base64.h"
#include "jobs/CommJobBasicContext.h"
#include "auth/SRPAuthMode.h"
#include "jobs/SrvComm.h"
#include "platform/LocalizedString.h"
#include "user/UserProfile.h"

namespace ostrelcomm {
namespace {

using namespace accounttest;
using Lines = std::vector<std::string>;
using OrderedJson = nlohmann::ordered_json;

Bytes base64(const OrderedJson& value) {
    auto bytes = devserver::base64Decode(value.get<std::string>());
    return bytes ? *bytes : Bytes{};
}

std::vector<std::string> keysOf(const OrderedJson& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.push_back(key);
    return keys;
}

TEST(AccountCreation, SendsTheKeyHierarchyUnsignedAndTheNewUserLogsIn) {
    server();
    const std::string user = uniqueUser("new");
    // Longer than 32 bytes: the password key is its SHA-256.
    const std::string password = "correct horse battery staple, twice over";
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());

    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("PUT", "/user/create/", stall);
    engine->user_addCreation(user, SecretBytes::fromText(password));
    // While the request is out the engine answers for the new user.
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    EXPECT_EQ(engine->username(), user);
    server().releaseStalls();
    ASSERT_TRUE(recorder.waitIdle());
    server().clearFaults();

    EXPECT_EQ(recorder.lines(), Lines{"userCreationTerminated:Created"});
    EXPECT_FALSE(engine->username());
    const auto stored = server().users().find(user);
    ASSERT_TRUE(stored);
    const auto created = recorder.last(user::kUserCreationTerminatedNotification);
    ASSERT_TRUE(created && created->data<std::string>());
    EXPECT_EQ(*created->data<std::string>(), stored->uuid);
    EXPECT_EQ(engine->comLog().events().back().description, "Creating user \"" + user + "\"");

    // One unsigned request: the user's name, no session, no signature.
    const auto requests = requestsOf(user);
    ASSERT_EQ(requestLines(requests), Lines{"PUT /user/create/"});
    const auto& put = requests.front();
    EXPECT_FALSE(put.has("x-sb-sessionid"));
    EXPECT_FALSE(put.has("x-sb-auth"));
    EXPECT_FALSE(put.has("x-sb-auth-headers"));
    EXPECT_TRUE(put.has("x-sb-payload-sha256"));
    EXPECT_EQ(put.values("Content-Type"), Lines{"application/json"});

    const auto body = OrderedJson::parse(put.body);
    EXPECT_EQ(keysOf(body), (Lines{"umk", "privshkey", "pubshkey", "verifiers", "authParms"}));
    ASSERT_EQ(keysOf(body["verifiers"]), Lines{"fullaccess"});
    EXPECT_EQ(keysOf(body["verifiers"]["fullaccess"]), (Lines{"salt", "verificationKey"}));
    EXPECT_EQ(base64(body["verifiers"]["fullaccess"]["salt"]).size(), 16u);
    EXPECT_EQ(base64(body["verifiers"]["fullaccess"]["salt"]), stored->salt);
    EXPECT_EQ(base64(body["verifiers"]["fullaccess"]["verificationKey"]), stored->verifier);
    const auto parms = nlohmann::json::parse(body["authParms"].get<std::string>());
    EXPECT_EQ(parms, (nlohmann::json{{"group", "N2048"}, {"digestAlgo", "sha256"}}));

    // The secrets unwrap under the password key: a key object of 16 + 32
    // bytes, and the private key whose X25519 public key was sent in clear.
    const Bytes publicKey = base64(body["pubshkey"]);
    ASSERT_EQ(publicKey.size(), 32u);
    const auto umk = oracleUnwrap(body["umk"].get<std::string>(), oraclePasswordKey(password));
    ASSERT_TRUE(umk);
    EXPECT_EQ(umk->size(), 48u);
    const auto privateKey = oraclePrivateKey(stored->privshkey, password);
    ASSERT_TRUE(privateKey);
    EXPECT_EQ(oraclePublicKey(*privateKey), publicKey);
    EXPECT_FALSE(oracleUnwrap(stored->umk, oraclePasswordKey(password + "x")) &&
                 oracleUnwrap(stored->privshkey, oraclePasswordKey(password + "x")));

    // The verifier lets the same password log in, and the profile carries the
    // public key of the stored private key.
    ASSERT_TRUE(login(*engine, recorder, user, password));
    engine->user_addGetProfile();
    ASSERT_TRUE(recorder.waitIdle());
    const auto answered = recorder.last(user::kUserProfileDataAvailableNotification);
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->result, "Completed");
    const auto* payload = answered->data<CommJobBasicContext::Payload>();
    ASSERT_TRUE(payload);
    const auto* profile = std::any_cast<UserProfile>(&payload->at("notificationData"));
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->userUUID, stored->uuid);
    // A new account is on the plan the server gives every new user.
    EXPECT_EQ(profile->profilename, "Free");
    EXPECT_EQ(profile->pubshkey, oraclePublicKey(*privateKey));
}

TEST(AccountCreation, EveryCreationDrawsItsOwnKeysAndSalt) {
    server();
    const std::string user = uniqueUser("twice");
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());
    for (int i = 0; i < 2; ++i) {
        server().users().remove(user);
        engine->user_addCreation(user, SecretBytes::fromText("pw"));
        ASSERT_TRUE(recorder.waitIdle());
    }
    EXPECT_EQ(recorder.lines(), (Lines{"userCreationTerminated:Created", "userCreationTerminated:Created"}));
    const auto requests = requestsOf(user);
    ASSERT_EQ(requests.size(), 2u);
    const auto first = OrderedJson::parse(requests[0].body);
    const auto second = OrderedJson::parse(requests[1].body);
    EXPECT_NE(first["verifiers"]["fullaccess"]["salt"], second["verifiers"]["fullaccess"]["salt"]);
    EXPECT_NE(first["pubshkey"], second["pubshkey"]);
    const Bytes key = oraclePasswordKey("pw");
    EXPECT_NE(oracleUnwrap(first["umk"].get<std::string>(), key), oracleUnwrap(second["umk"].get<std::string>(), key));
    EXPECT_NE(oraclePrivateKey(first["privshkey"].get<std::string>(), "pw"),
              oraclePrivateKey(second["privshkey"].get<std::string>(), "pw"));
}

TEST(AccountCreation, AFailedCreationEndsInErrorAndLeavesNoUserName) {
    server();
    struct Case {
        const char* what;
        std::optional<devserver::Fault> fault;
        bool nameTaken;
        std::string logText;
        std::optional<std::string> exception;
        // The server holds the name afterwards (it answered the request, or
        // the name was taken before).
        bool accountAfter;
    };
    devserver::Fault wrongAction;
    wrongAction.action = "NEW_SOMETHING";
    devserver::Fault otherUser;
    otherUser.username = "someone-else";
    const std::vector<Case> cases = {
        {"name taken", std::nullopt, true, "Bad http status code: 409 - The user name is taken",
         "UserAlreadyExistsException", true},
        // The creation carries no session that a login could renew: the job
        // ends at once, and no login is queued for it.
        {"session expired", devserver::Fault::sessionExpired(), false, "Bad http status code: 403 - Session expired",
         "AccessDeniedException", false},
        {"answer for another action", wrongAction, false, localizedString("Localizable", "AnswerWrongAction"),
         std::nullopt, true},
        {"answer for another user", otherUser, false, localizedString("Localizable", "AnswerWrongUsername"),
         std::nullopt, true},
        {"dropped connection", devserver::Fault::droppedConnection(), false, "", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string user = uniqueUser("failing");
        if (c.nameTaken) {
            ASSERT_NO_THROW(devserver::addDemoUser(server().users(), user, "other"));
        }
        const auto before = server().users().find(user);
        if (c.fault) server().setFault("PUT", "/user/create/", *c.fault);

        auto engine = std::make_shared<SrvComm>();
        Recorder recorder(engine->notifications());
        engine->user_addCreation(user, SecretBytes::fromText("pw"));
        ASSERT_TRUE(recorder.waitIdle());
        server().clearFaults();

        EXPECT_EQ(recorder.lines(), Lines{"userCreationTerminated:Error"});
        const auto end = recorder.last(user::kUserCreationTerminatedNotification);
        EXPECT_TRUE(end->noData());
        EXPECT_EQ(end->httpError ? end->httpError->exception : std::nullopt, c.exception);
        if (!c.logText.empty()) {
            EXPECT_EQ(lastError(*engine), c.logText);
        }
        EXPECT_TRUE(lastError(*engine));
        {
            // The answer handler lets the borrowed name go once the checks
            // have ended the job, after its end was announced: read it when
            // the handler is done.
            std::lock_guard handled(engine->mutex());
            EXPECT_FALSE(engine->username());
        }
        EXPECT_EQ(requestLines(requestsOf(user)), Lines{"PUT /user/create/"});
        for (const auto& [id, item] : engine->queue()->getJobsList()) EXPECT_EQ(item.status, JobStatus::error);
        // An account that held the name before is untouched.
        const auto after = server().users().find(user);
        EXPECT_EQ(after.has_value(), c.accountAfter);
        if (before && after) {
            EXPECT_EQ(after->verifier, before->verifier);
        }
    }
}

// The creation's answer clears the name it borrowed, but not one that a job
// started after it has set.
TEST(AccountCreation, ALoginQueuedBehindAFailedCreationKeepsItsUserName) {
    server();
    const std::string existing = makeAccount("behind", "its password");
    devserver::Fault failure = devserver::Fault::exception(500, "InternalServerError", "No creations today");
    failure.times = 1;
    server().setFault("PUT", "/user/create/", failure);

    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());
    engine->user_addCreation(uniqueUser("refused"), SecretBytes::fromText("pw"));
    engine->auth_add(existing, SecretBytes::fromText("its password"), SRPAuthMode::new_);
    ASSERT_TRUE(recorder.waitIdle());
    server().clearFaults();

    EXPECT_EQ(recorder.lines(), (Lines{"userCreationTerminated:Error", "SRPAuthenticated:Authenticated"}));
    EXPECT_EQ(engine->username(), existing);
    EXPECT_TRUE(engine->isAuthenticated());
}

}  // namespace
}  // namespace ostrelcomm
