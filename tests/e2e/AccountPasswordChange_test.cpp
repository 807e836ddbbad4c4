// The password change of a real engine against the in-process stand-in
// server: the jobs it runs and their notifications, the keys it stores again
// (checked with OpenSSL and libsodium against the ones before), the new
// password's login, renewal in the middle, and keys it must not store.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "user/UserNotifications.h"
#include "AccountTestSupport.h"
#include "devserver/Base64.h"
#include "jobs/SrvComm.h"

namespace ostrelcomm {
namespace {

using namespace accounttest;
using Lines = std::vector<std::string>;

const Lines kLoginRequests = {"GET /authenticate/", "POST /authenticate/"};

Lines concat(std::initializer_list<Lines> parts) {
    Lines out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// An account made by the client's own creation job.
std::string createdByClient(const std::string& password) {
    const std::string user = uniqueUser("client-made");
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());
    engine->user_addCreation(user, SecretBytes::fromText(password));
    EXPECT_TRUE(recorder.waitIdle());
    EXPECT_EQ(recorder.lines(), Lines{"userCreationTerminated:Created"});
    return user;
}

TEST(AccountPasswordChange, RewrapsTheSameKeysUnderTheNewPasswordAndLogsOut) {
    server();
    const std::string oldPassword = "old and worn";
    // Longer than 32 bytes: the new password key is its SHA-256.
    const std::string newPassword = "brand new, and long enough to be hashed";
    struct Maker {
        const char* what;
        std::function<std::string()> make;
    };
    const Maker makers[] = {
        {"made by the client", [&] { return createdByClient(oldPassword); }},
        {"made on OpenSSL", [&] { return makeAccount("openssl-made", oldPassword); }},
    };
    for (const auto& maker : makers) {
        SCOPED_TRACE(maker.what);
        const std::string user = maker.make();
        const auto before = server().users().find(user);
        ASSERT_TRUE(before);
        const auto umk = oracleUnwrap(before->umk, oraclePasswordKey(oldPassword));
        const auto privateKey = oraclePrivateKey(before->privshkey, oldPassword);
        ASSERT_TRUE(umk && privateKey);

        auto engine = std::make_shared<SrvComm>();
        Recorder recorder(engine->notifications());
        ASSERT_TRUE(login(*engine, recorder, user, oldPassword));
        const auto oldSession = engine->sessionID();
        server().clearRequests();

        const std::string jobID = engine->user_modify(user, SecretBytes::fromText(oldPassword),
                                                      SecretBytes::fromText(newPassword));
        ASSERT_TRUE(recorder.waitIdle());

        // A login with the typed password first, the change, then the logout.
        EXPECT_EQ(recorder.lines(),
                  (Lines{"SRPAuthenticated:Authenticated", "userModification:Modified", "userLogout:Completed"}));
        const auto modified = recorder.last(user::kUserModificationNotification);
        ASSERT_TRUE(modified && modified->data<std::string>());
        EXPECT_EQ(*modified->data<std::string>(), before->uuid);
        EXPECT_EQ(engine->comLog().events().front().description, "Modifying user's data for \"" + user + "\"");
        EXPECT_EQ(engine->queue()->getJobData(jobID)->actStep, 3u);
        EXPECT_FALSE(engine->username());
        EXPECT_FALSE(engine->password());
        EXPECT_FALSE(engine->isAuthenticated());

        const auto requests = requestsOf(user);
        ASSERT_EQ(requestLines(requests),
                  concat({kLoginRequests, {"GET /userprofile/getkeys/", "PUT /userprofile/storekeys/"}}));
        // The re-login presents the session it renews.
        EXPECT_EQ(requests[0].values("x-sb-sessionid"), Lines{*oldSession});
        const auto body = nlohmann::ordered_json::parse(requests[3].body);
        std::vector<std::string> keys;
        for (const auto& [key, value] : body.items()) keys.push_back(key);
        EXPECT_EQ(keys, (Lines{"umk", "verifiers", "authParms", "privshkey"}));
        ASSERT_TRUE(body["verifiers"].contains("fullaccess"));
        EXPECT_EQ(body["verifiers"].size(), 1u);
        EXPECT_EQ(devserver::base64Decode(body["verifiers"]["fullaccess"]["salt"].get<std::string>())->size(), 16u);
        EXPECT_EQ(nlohmann::json::parse(body["authParms"].get<std::string>()),
                  (nlohmann::json{{"group", "N2048"}, {"digestAlgo", "sha256"}}));

        // The same UMK (its IV included) and private key, under the new key only.
        const auto after = server().users().find(user);
        ASSERT_TRUE(after);
        EXPECT_EQ(oracleUnwrap(after->umk, oraclePasswordKey(newPassword)), umk);
        EXPECT_EQ(oraclePrivateKey(after->privshkey, newPassword), privateKey);
        EXPECT_EQ(oraclePublicKey(*privateKey), after->pubshkey);
        EXPECT_NE(oracleUnwrap(after->umk, oraclePasswordKey(oldPassword)), umk);

        // The server now knows the new password and no longer the old one.
        auto fresh = std::make_shared<SrvComm>();
        Recorder freshRecorder(fresh->notifications());
        EXPECT_FALSE(login(*fresh, freshRecorder, user, oldPassword));
        EXPECT_TRUE(login(*fresh, freshRecorder, user, newPassword));
    }
}

TEST(AccountPasswordChange, AnExpiredSessionRepeatsTheStepItMet) {
    server();
    for (const char* method : {"GET", "PUT"}) {
        const std::string path = std::string(method) == "GET" ? "/userprofile/getkeys/" : "/userprofile/storekeys/";
        SCOPED_TRACE(path);
        const std::string user = makeAccount("expiring", "one");
        auto engine = std::make_shared<SrvComm>();
        Recorder recorder(engine->notifications());
        ASSERT_TRUE(login(*engine, recorder, user, "one"));
        server().clearRequests();
        devserver::Fault expired = devserver::Fault::sessionExpired();
        expired.times = 1;
        server().setFault(method, path, expired);

        engine->user_modify(user, SecretBytes::fromText("one"), SecretBytes::fromText("two"));
        ASSERT_TRUE(recorder.waitIdle());
        server().clearFaults();

        EXPECT_EQ(recorder.lines(), (Lines{"SRPAuthenticated:Authenticated", "SRPAuthenticated:Authenticated",
                                           "userModification:Modified", "userLogout:Completed"}));
        const Lines getKeys = {"GET /userprofile/getkeys/"};
        const Lines storeKeys = {"PUT /userprofile/storekeys/"};
        const Lines expected = std::string(method) == "GET"
                                   ? concat({kLoginRequests, getKeys, kLoginRequests, getKeys, storeKeys})
                                   : concat({kLoginRequests, getKeys, storeKeys, kLoginRequests, storeKeys});
        EXPECT_EQ(requestLines(requestsOf(user)), expected);
        auto fresh = std::make_shared<SrvComm>();
        Recorder freshRecorder(fresh->notifications());
        EXPECT_TRUE(login(*fresh, freshRecorder, user, "two"));
    }
}

// Keys that do not unwrap under the current password are never stored again:
// the job ends before anything is sent, the server keeps what it had, and the
// engine stays logged in.
TEST(AccountPasswordChange, KeysThatDoNotUnwrapAreNotStoredAgain) {
    server();
    struct Case {
        const char* what;
        std::function<void(devserver::User&, const devserver::User& other)> spoil;
    };
    const Case cases[] = {
        {"user master key under another password", [](devserver::User& u, const devserver::User& o) { u.umk = o.umk; }},
        {"private key under another password",
         [](devserver::User& u, const devserver::User& o) { u.privshkey = o.privshkey; }},
        {"private key that is not a wrapped key", [](devserver::User& u, const devserver::User&) {
             u.privshkey = R"({"iv":"AAAAAAAAAAAAAAAAAAAAAA==","key":"AAAA"})";
         }},
    };
    const auto other = server().users().find(makeAccount("other", "someone else's"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string user = makeAccount("spoilt", "mine");
        ASSERT_TRUE(server().users().modify(user, [&](devserver::User& u) { c.spoil(u, *other); }));
        const auto before = server().users().find(user);
        auto engine = std::make_shared<SrvComm>();
        Recorder recorder(engine->notifications());
        ASSERT_TRUE(login(*engine, recorder, user, "mine"));
        server().clearRequests();

        engine->user_modify(user, SecretBytes::fromText("mine"), SecretBytes::fromText("next"));
        ASSERT_TRUE(recorder.waitIdle());

        EXPECT_EQ(recorder.lines(), (Lines{"SRPAuthenticated:Authenticated", "userModification:Error"}));
        EXPECT_EQ(lastError(*engine), "Unable to decode user's keys!");
        EXPECT_EQ(requestLines(requestsOf(user)), concat({kLoginRequests, {"GET /userprofile/getkeys/"}}));
        const auto after = server().users().find(user);
        EXPECT_EQ(after->umk, before->umk);
        EXPECT_EQ(after->privshkey, before->privshkey);
        EXPECT_EQ(after->verifier, before->verifier);
        EXPECT_TRUE(engine->isAuthenticated());
        EXPECT_EQ(engine->username(), user);
    }
}

}  // namespace
}  // namespace ostrelcomm
