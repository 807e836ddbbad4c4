// The account queries of a real engine against the in-process stand-in
// server: the profile, the login history and a peer's sharing profile, what
// they send, what they post, renewal of an expired session, and answers the
// client must not accept.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "user/UserNotifications.h"
#include "AccountTestSupport.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/SrvComm.h"
#include "user/PeerShareData.h"
#include "user/UserProfile.h"
#include "user/UserSessionData.h"

namespace ostrelcomm {
namespace {

using namespace accounttest;
using Lines = std::vector<std::string>;
using std::chrono::sys_seconds;

sys_seconds at(long long seconds) { return sys_seconds(std::chrono::seconds(seconds)); }

struct LoggedIn {
    std::string user;
    std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
    Recorder recorder{engine->notifications()};

    explicit LoggedIn(const std::string& stem) : user(makeAccount(stem, "pw")) {
        EXPECT_TRUE(login(*engine, recorder, user, "pw"));
    }
};

const UserProfile* profileOf(const Posted& posted) {
    const auto* payload = posted.data<CommJobBasicContext::Payload>();
    if (payload == nullptr || !payload->count("notificationData")) return nullptr;
    return std::any_cast<UserProfile>(&payload->at("notificationData"));
}

TEST(AccountQueries, LoginHistoryListsTheLoginsTheServerSaw) {
    server();
    const std::string user = makeAccount("carol", "right");
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder{engine->notifications()};
    ASSERT_FALSE(login(*engine, recorder, user, "wrong"));
    ASSERT_TRUE(login(*engine, recorder, user, "right"));

    engine->user_addGetUserSessions(0, 20);
    ASSERT_TRUE(recorder.waitIdle());
    const auto answered = recorder.last(user::kGetUserSessionsDataNotification);
    ASSERT_TRUE(answered);
    const auto* sessions = answered->data<std::vector<UserSessionData>>();
    ASSERT_TRUE(sessions);
    Lines results;
    for (const auto& entry : *sessions) results.emplace_back(UserSessionData::rawValue(entry.result));
    EXPECT_EQ(results, (Lines{"FAILED", "SUCCESS"}));
}

TEST(AccountQueries, ProfileLoginHistoryAndPeersAsTheServerKeepsThem) {
    server();
    LoggedIn alice("alice");
    const std::string bob = makeAccount("bob", "bob's");
    const std::vector<devserver::LoginRecord> history = {
        {at(1700000000), "FAILED", "wrong password"},
        {at(1700000100), "SUCCESS", ""},
        {at(1700000200), "ACTUAL", "this one"},
    };
    ASSERT_TRUE(server().users().modify(alice.user, [&](devserver::User& user) {
        user.logins = history;
        user.diskspace = 5000;
        user.usedspace = 1200;
        user.directories = 3;
        user.files = 9;
    }));
    const auto stored = server().users().find(alice.user);
    auto& engine = *alice.engine;
    auto& recorder = alice.recorder;

    // The profile, with the figures and the last login the server holds.
    engine.user_addGetProfile();
    ASSERT_TRUE(recorder.waitIdle());
    ASSERT_EQ(recorder.lines(), Lines{"userProfileDataAvailable:Completed"});
    const auto answered = recorder.last(user::kUserProfileDataAvailableNotification);
    const UserProfile* profile = profileOf(*answered);
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->userUUID, stored->uuid);
    EXPECT_EQ(profile->pubshkey, stored->pubshkey);
    EXPECT_EQ(profile->since, stored->since);
    EXPECT_FALSE(profile->currentplanexpiry);
    EXPECT_EQ(profile->lastlogin, at(1700000200));
    EXPECT_EQ(profile->lastresult, "ACTUAL");
    EXPECT_EQ(profile->availablespace, 3800u);
    EXPECT_EQ(profile->files, 9u);

    // The login history: the headers as decimal text, the entries in the
    // server's order.
    struct Range {
        std::size_t start;
        std::size_t end;
        std::vector<std::size_t> entries;
    };
    for (const Range& range : {Range{0, 20, {0, 1, 2}}, Range{1, 2, {1}}, Range{3, 20, {}}}) {
        SCOPED_TRACE(std::to_string(range.start) + ".." + std::to_string(range.end));
        recorder.clear();
        engine.user_addGetUserSessions(range.start, range.end);
        ASSERT_TRUE(recorder.waitIdle());
        const auto request = requestsOf(alice.user).back();
        EXPECT_EQ(request.path, "/userprofile/sessions/");
        EXPECT_EQ(request.values("x-sb-start"), Lines{std::to_string(range.start)});
        EXPECT_EQ(request.values("x-sb-end"), Lines{std::to_string(range.end)});
        const auto answered = recorder.last(user::kGetUserSessionsDataNotification);
        ASSERT_TRUE(answered);
        EXPECT_EQ(answered->result, "Available");
        const auto* sessions = answered->data<std::vector<UserSessionData>>();
        ASSERT_TRUE(sessions);
        ASSERT_EQ(sessions->size(), range.entries.size());
        for (std::size_t i = 0; i < sessions->size(); ++i) {
            const auto& expected = history[range.entries[i]];
            EXPECT_EQ((*sessions)[i].timestamp, expected.timestamp);
            EXPECT_EQ(UserSessionData::rawValue((*sessions)[i].result), expected.result);
            EXPECT_EQ((*sessions)[i].extdiag, expected.extdiag);
        }
    }

    // Peers: an unknown name is no failure, only no data; a known one comes
    // with its public sharing key.
    recorder.clear();
    engine.user_addGetShareProfile("nobody-of-that-name");
    ASSERT_TRUE(recorder.waitIdle());
    EXPECT_EQ(requestsOf(alice.user).back().values("x-sb-peer-username"), Lines{"nobody-of-that-name"});
    auto peer = recorder.last(user::kPeerShareDataNotification);
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->result, "Available");
    EXPECT_TRUE(peer->noData());

    recorder.clear();
    engine.user_addGetShareProfile(bob);
    ASSERT_TRUE(recorder.waitIdle());
    peer = recorder.last(user::kPeerShareDataNotification);
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->result, "Available");
    const auto* shared = peer->data<PeerShareData>();
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->uuid, server().users().find(bob)->uuid);
    EXPECT_EQ(shared->username, bob);
    EXPECT_EQ(shared->pubSHKey, server().users().find(bob)->pubshkey);
    EXPECT_EQ(shared->pubSHKey.size(), 32u);

    // Every query is signed and named in the log.
    for (const auto& request : requestsOf(alice.user))
        if (request.path != "/authenticate/") {
            EXPECT_TRUE(request.has("x-sb-auth")) << request.path;
        }
    std::vector<std::string> infos;
    for (const auto& event : engine.comLog().events())
        if (event.type == Logger::EvtType::info) infos.push_back(event.description);
    EXPECT_EQ(infos, (Lines{"Getting profile informations for \"" + alice.user + "\"", "Getting sessions informations",
                            "Getting sessions informations", "Getting sessions informations",
                            "Getting share informations for \"nobody-of-that-name\"",
                            "Getting share informations for \"" + bob + "\""}));
}

// An expired session is renewed and the same request repeated.
TEST(AccountQueries, AnExpiredSessionRepeatsTheSameQueryAfterTheLogin) {
    server();
    struct Case {
        const char* path;
        std::function<void(SrvComm&)> queue;
        std::string notification;
        std::string result;
    };
    const std::vector<Case> cases = {
        {"/userprofile/getprofile/", [](SrvComm& e) { e.user_addGetProfile(); }, user::kUserProfileDataAvailableNotification,
         "Completed"},
        {"/userprofile/sessions/", [](SrvComm& e) { e.user_addGetUserSessions(0, 20); }, user::kGetUserSessionsDataNotification,
         "Available"},
        {"/untrustedpeer/getShareProfile/", [](SrvComm& e) { e.user_addGetShareProfile("x"); }, user::kPeerShareDataNotification,
         "Available"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        LoggedIn session("renewed");
        devserver::Fault expired = devserver::Fault::sessionExpired();
        expired.times = 1;
        server().setFault("GET", c.path, expired);
        c.queue(*session.engine);
        ASSERT_TRUE(session.recorder.waitIdle());
        server().clearFaults();
        EXPECT_EQ(session.recorder.lines(), (Lines{"SRPAuthenticated:Authenticated", c.notification + ":" + c.result}));
        const std::string get = std::string("GET ") + c.path;
        EXPECT_EQ(requestLines(requestsOf(session.user)),
                  (Lines{"GET /authenticate/", "POST /authenticate/", get, "GET /authenticate/", "POST /authenticate/",
                         get}));
    }
}

TEST(AccountQueries, AnswersTheClientCannotUseEndTheJobInError) {
    server();
    struct Case {
        const char* what;
        const char* path;
        std::string body;
        std::function<void(SrvComm&)> queue;
        std::string line;
    };
    const std::string entry = R"({"timestamp":"2024-01-01T00:00:00Z","result":"success","extdiag":""})";
    const std::vector<Case> cases = {
        {"profile without since", "/userprofile/getprofile/",
         R"({"userUUID":"u","profilename":"p","pubshkey":"","lastresult":"","diskspace":1,"usedspace":0,)"
         R"("availablespace":1,"directories":0,"files":0})",
         [](SrvComm& e) { e.user_addGetProfile(); }, "userProfileDataAvailable:Error"},
        {"history entry in lower case", "/userprofile/sessions/", "[" + entry + "]",
         [](SrvComm& e) { e.user_addGetUserSessions(0, 1); }, "getUserSessionsData:Error"},
        {"history that is no list", "/userprofile/sessions/", "{}",
         [](SrvComm& e) { e.user_addGetUserSessions(0, 1); }, "getUserSessionsData:Error"},
        // The peer profile never fails to decode: an unreadable one is no peer.
        {"peer profile with the key spelled otherwise", "/untrustedpeer/getShareProfile/",
         R"({"uuid":"u","trusted":false,"username":"n","pubshkey":""})",
         [](SrvComm& e) { e.user_addGetShareProfile("n"); }, "peerShareData:Available"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoggedIn session("refusing");
        devserver::Fault fault;
        fault.rawBody = c.body;
        fault.times = 1;
        server().setFault("GET", c.path, fault);
        c.queue(*session.engine);
        ASSERT_TRUE(session.recorder.waitIdle());
        server().clearFaults();
        EXPECT_EQ(session.recorder.lines(), Lines{c.line});
        EXPECT_TRUE(session.recorder.all().back().noData());
        if (c.line.ends_with(":Error")) {
            EXPECT_EQ(lastError(*session.engine), "Unable to decode server answer");
        }
        // Still logged in with the same session.
        EXPECT_TRUE(session.engine->isAuthenticated());
    }

    // Without a session nothing goes out.
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());
    const auto before = server().requestCount();
    engine->user_addGetProfile();
    engine->user_addGetUserSessions(0, 5);
    engine->user_addGetShareProfile("anyone");
    ASSERT_TRUE(recorder.waitIdle());
    EXPECT_EQ(recorder.lines(),
              (Lines{"userProfileDataAvailable:Error", "getUserSessionsData:Error", "peerShareData:Error"}));
    EXPECT_EQ(server().requestCount(), before);
}

}  // namespace
}  // namespace ostrelcomm
