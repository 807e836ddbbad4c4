// Trusted peers with a real engine against the in-process stand-in server:
// adding a peer from its trust code, listing and removing trusts, the peer's
// sharing profile that follows them, what goes out, what the jobs post, and
// the answers and inputs that end a job in error.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AccountTestSupport.h"
#include "auth/AuthNotifications.h"
#include "devserver/Base64.h"
#include "jobs/JobType.h"
#include "platform/LocalizedString.h"
#include "shares/ShareNotifications.h"
#include "shares/TrustCode.h"
#include "user/PeerShareData.h"
#include "user/UserNotifications.h"

namespace ostrelcomm {
namespace {

using namespace accounttest;
using Lines = std::vector<std::string>;
using Trusts = shares::TrustsListPayload;

// Records the trust jobs' notifications, the peer profile and the login.
class Recorder : public testsupport::NotificationRecorder {
public:
    explicit Recorder(std::shared_ptr<NotificationCenter> center)
        : NotificationRecorder(std::move(center),
                               {shares::kTrustCreationTerminatedNotification, shares::kTrustsListNotification,
                                shares::kTrustRemoveNotification, user::kPeerShareDataNotification,
                                auth::kSRPAuthenticatedNotification}) {}

    // "name:result" of each, in order, the login's "InProgress" left out.
    std::vector<std::string> lines() const { return NotificationRecorder::lines({auth::kInProgress}); }
};

struct LoggedIn {
    std::string user;
    std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
    Recorder recorder{engine->notifications()};

    explicit LoggedIn(const std::string& stem) : user(makeAccount(stem, "pw")) {
        engine->auth_add(user, SecretBytes::fromText("pw"), SRPAuthMode::new_);
        EXPECT_TRUE(recorder.waitIdle());
        const auto end = recorder.last(auth::kSRPAuthenticatedNotification);
        EXPECT_TRUE(end && end->result == auth::kAuthenticated);
        recorder.clear();
    }
    std::string uuid() const { return server().users().find(user)->uuid; }
    // The payload of the last notification of that name, when it is a T.
    template <class T>
    std::optional<T> payload(const char* name) const {
        const auto posted = recorder.last(name);
        if (!posted || !posted->data<T>()) return std::nullopt;
        return *posted->data<T>();
    }
    // Runs what `queue` queues until the engine is idle again.
    // Queued under the engine's lock: a job that ended before the next was
    // queued would run the engine dry early and the wait would end too soon.
    void run(const std::function<void(SrvComm&)>& queue) {
        recorder.clear();
        {
            std::lock_guard lock(engine->mutex());
            queue(*engine);
        }
        ASSERT_TRUE(recorder.waitIdle());
    }
};

// Another account, as its trust code names it.
struct Peer {
    std::string name;
    std::string uuid;
    Bytes key;

    explicit Peer(const std::string& stem) : name(makeAccount(stem, "pw")) {
        const auto stored = server().users().find(name);
        uuid = stored->uuid;
        key = stored->pubshkey;
    }
    TrustCode code() const { return TrustCode(*TrustCode::generate(uuid, name, key)); }
};

void addTrust(SrvComm& engine, const TrustCode& code) {
    engine.shares_addTrustedUser(code.peerUUID(), code.peerUsername(), code.pubshkey());
}

std::vector<devserver::RecordedRequest> requestsTo(const std::string& user, const std::string& path) {
    std::vector<devserver::RecordedRequest> out;
    for (auto& request : requestsOf(user))
        if (request.path == path) out.push_back(std::move(request));
    return out;
}

TEST(TrustedPeers, AddListProfileAndRemoveAgainstTheServer) {
    server();
    LoggedIn alice("alice");
    const Peer bob("bob");
    const Peer carol("carol");

    // Added from the code bob shows: exactly the code's three keys go out.
    alice.run([&](SrvComm& e) { addTrust(e, bob.code()); });
    ASSERT_EQ(alice.recorder.lines(), Lines{"trustCreationTerminated:Created"});
    const auto stored = server().trusts().list(alice.uuid());
    ASSERT_EQ(stored.size(), 1u);
    const auto created =
        alice.payload<shares::TrustCreationPayload>(shares::kTrustCreationTerminatedNotification);
    ASSERT_TRUE(created);
    EXPECT_EQ(*created, stored[0].trustUUID);

    const auto adds = requestsTo(alice.user, "/trustedpeers/add/");
    ASSERT_EQ(adds.size(), 1u);
    EXPECT_EQ(adds[0].method, "PUT");
    EXPECT_EQ(adds[0].values("x-sb-encoder-version"), Lines{"1.0"});
    EXPECT_TRUE(adds[0].has("x-sb-auth"));
    const auto body = nlohmann::json::parse(adds[0].body);
    std::set<std::string> keys;
    for (const auto& [key, value] : body.items()) keys.insert(key);
    EXPECT_EQ(keys, (std::set<std::string>{"peerUUID", "peerUsername", "pubshkey"}));
    EXPECT_EQ(body["peerUUID"], bob.uuid);
    EXPECT_EQ(body["peerUsername"], bob.name);
    EXPECT_EQ(devserver::base64Decode(body["pubshkey"].get<std::string>()), bob.key);

    // The list names the trust with the server's identifier.
    alice.run([](SrvComm& e) { e.shares_getTrustedUsers(); });
    ASSERT_EQ(alice.recorder.lines(), Lines{"trustsList:Available"});
    const auto trusts = alice.payload<Trusts>(shares::kTrustsListNotification);
    ASSERT_TRUE(trusts);
    ASSERT_EQ(trusts->size(), 1u);
    EXPECT_EQ(trusts->front(), TrustCode(*created, bob.uuid, bob.name, bob.key));

    // The profiles say whom alice trusts.
    for (const Peer* peer : {&bob, &carol}) {
        alice.run([&](SrvComm& e) { e.user_addGetShareProfile(peer->name); });
        const auto profile = alice.payload<PeerShareData>(user::kPeerShareDataNotification);
        ASSERT_TRUE(profile);
        EXPECT_EQ(profile->trusted, peer == &bob) << peer->name;
    }

    // Removed by bob's user identifier; the job reports that identifier.
    alice.run([&](SrvComm& e) { e.shares_deleteTrust(bob.uuid); });
    ASSERT_EQ(alice.recorder.lines(), Lines{"trustRemove:Removed"});
    EXPECT_EQ(alice.payload<shares::TrustRemovePayload>(shares::kTrustRemoveNotification), bob.uuid);
    const auto removals = requestsTo(alice.user, "/trustedpeers/remove/");
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_EQ(removals[0].method, "DELETE");
    EXPECT_EQ(removals[0].values("x-sb-trusted-user-uuid"), Lines{bob.uuid});
    EXPECT_EQ(removals[0].values("x-sb-encoder-version"), Lines{"1.0"});

    alice.run([](SrvComm& e) { e.shares_getTrustedUsers(); });
    ASSERT_EQ(alice.recorder.lines(), Lines{"trustsList:Available"});
    EXPECT_EQ(alice.payload<Trusts>(shares::kTrustsListNotification), Trusts{});

    std::vector<std::string> infos;
    for (const auto& event : alice.engine->comLog().events())
        if (event.type == Logger::EvtType::info) infos.push_back(event.description);
    const std::string listing = "Getting list of trusts for \"" + alice.user + "\"";
    EXPECT_EQ(infos, (Lines{"Creating trust for \"" + bob.name + "\"", listing,
                            "Getting share informations for \"" + bob.name + "\"",
                            "Getting share informations for \"" + carol.name + "\"",
                            "Deleting trust ID \"" + bob.uuid + "\"", listing}));
}

TEST(TrustedPeers, TheStandInKeepsOneTrustPerPeerAndRefusesWhatNamesNoOtherUser) {
    server();
    LoggedIn alice("alice");
    const Peer bob("bob");
    const TrustCode code = bob.code();

    // A peer added twice keeps its first trust.
    alice.run([&](SrvComm& e) {
        addTrust(e, code);
        addTrust(e, code);
    });
    ASSERT_EQ(alice.recorder.lines(), (Lines{"trustCreationTerminated:Created", "trustCreationTerminated:Created"}));
    const auto posted = alice.recorder.all();
    EXPECT_EQ(*posted[0].data<std::string>(), *posted[1].data<std::string>());
    EXPECT_EQ(server().trusts().list(alice.uuid()).size(), 1u);

    struct Case {
        const char* what;
        std::function<void(SrvComm&)> queue;
        std::string line;
        std::string exception;
    };
    const std::vector<Case> cases = {
        {"an unknown user", [&](SrvComm& e) { e.shares_addTrustedUser(bob.uuid, bob.name + "-x", bob.key); },
         "trustCreationTerminated:Error", "UserNotFoundException"},
        {"a name with another user's identifier",
         [&](SrvComm& e) { e.shares_addTrustedUser(alice.uuid(), bob.name, bob.key); },
         "trustCreationTerminated:Error", "UserNotFoundException"},
        {"the user itself",
         [&](SrvComm& e) {
             e.shares_addTrustedUser(alice.uuid(), alice.user, server().users().find(alice.user)->pubshkey);
         },
         "trustCreationTerminated:Error", "BadRequestException"},
        {"another key", [&](SrvComm& e) { e.shares_addTrustedUser(bob.uuid, bob.name, Bytes(32, 1)); },
         "trustCreationTerminated:Error", "BadRequestException"},
        {"a peer not trusted", [&](SrvComm& e) { e.shares_deleteTrust(alice.uuid()); }, "trustRemove:Error",
         "TrustNotFoundException"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        alice.run(c.queue);
        EXPECT_EQ(alice.recorder.lines(), Lines{c.line});
        const Posted end = alice.recorder.all().back();
        ASSERT_TRUE(end.httpError);
        EXPECT_EQ(end.httpError->exception, c.exception);
    }
    EXPECT_EQ(server().trusts().list(alice.uuid()).size(), 1u);
}

TEST(TrustedPeers, FaultyAnswersEndTheJobInErrorAndAnExpiredSessionIsRenewed) {
    server();
    const std::string wrongAction = localizedString("Localizable", "AnswerWrongAction");
    ASSERT_NE(wrongAction, "AnswerWrongAction");

    devserver::Fault emptyAnswer;
    emptyAnswer.rawBody = "{}";
    devserver::Fault listWithoutKey;
    listWithoutKey.rawBody = R"([{"trustUUID":"T","peerUUID":"P","peerUsername":"n"}])";
    devserver::Fault otherAction;
    otherAction.action = "SHARE_LIST_TRUSTS";

    struct Case {
        const char* what;
        const char* method;
        const char* path;
        devserver::Fault fault;
        // Queues the job for `peer`.
        std::function<void(SrvComm&, const Peer& peer)> queue;
        Lines lines;
        // Checks the last notification.
        std::function<void(const Posted&, const Peer&)> check;
        std::optional<std::string> logged;
        // The requests of the whole case, when they matter.
        std::optional<Lines> requests = std::nullopt;
    };
    const auto list = [](SrvComm& e, const Peer&) { e.shares_getTrustedUsers(); };
    const auto add = [](SrvComm& e, const Peer& peer) { addTrust(e, peer.code()); };
    const auto emptyList = [](const Posted& end, const Peer&) {
        ASSERT_TRUE(end.data<Trusts>());
        EXPECT_TRUE(end.data<Trusts>()->empty());
    };
    const std::vector<Case> cases = {
        {"an add answer without a trust identifier", "PUT", "/trustedpeers/add/", emptyAnswer, add,
         {"trustCreationTerminated:Created"},
         [](const Posted& end, const Peer&) { EXPECT_TRUE(end.noData()); }, std::nullopt},
        {"a list refused", "GET", "/trustedpeers/list/",
         devserver::Fault::exception(500, "SomeException", "went wrong"), list, {"trustsList:Error"},
         [&](const Posted& end, const Peer& peer) {
             emptyList(end, peer);
             ASSERT_TRUE(end.httpError);
             EXPECT_EQ(end.httpError->exception, "SomeException");
             EXPECT_EQ(end.httpError->errDescr, "went wrong");
         },
         "Bad http status code: 500 - went wrong"},
        {"a list element without its key", "GET", "/trustedpeers/list/", listWithoutKey, list, {"trustsList:Error"},
         emptyList, "Unable to decode server answer"},
        {"a removal refused", "DELETE", "/trustedpeers/remove/",
         devserver::Fault::exception(409, "SomeException", "not now"),
         [](SrvComm& e, const Peer& peer) { e.shares_deleteTrust(peer.uuid); }, {"trustRemove:Error"},
         [](const Posted& end, const Peer& peer) {
             ASSERT_TRUE(end.data<std::string>());
             EXPECT_EQ(*end.data<std::string>(), peer.uuid);
             ASSERT_TRUE(end.httpError);
             EXPECT_EQ(end.httpError->exception, "SomeException");
         },
         std::nullopt},
        {"an answer for another action", "PUT", "/trustedpeers/add/", otherAction, add,
         {"trustCreationTerminated:Error"},
         [&](const Posted& end, const Peer&) {
             ASSERT_TRUE(end.httpError);
             EXPECT_EQ(end.httpError->errDescr, wrongAction);
         },
         wrongAction},
        // The login, then the same list again.
        {"an expired session", "GET", "/trustedpeers/list/", devserver::Fault::sessionExpired(), list,
         {"SRPAuthenticated:Authenticated", "trustsList:Available"}, emptyList, std::nullopt,
         Lines{"GET /authenticate/", "POST /authenticate/", "GET /trustedpeers/list/", "GET /authenticate/",
               "POST /authenticate/", "GET /trustedpeers/list/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoggedIn alice("faults");
        const Peer bob("bob");
        devserver::Fault fault = c.fault;
        fault.times = 1;
        server().setFault(c.method, c.path, fault);
        alice.run([&](SrvComm& e) { c.queue(e, bob); });
        server().clearFaults();
        EXPECT_EQ(alice.recorder.lines(), c.lines);
        c.check(alice.recorder.all().back(), bob);
        if (c.logged) {
            EXPECT_EQ(lastError(*alice.engine), c.logged);
        }
        if (c.requests) {
            EXPECT_EQ(requestLines(requestsOf(alice.user)), *c.requests);
        }
        EXPECT_TRUE(alice.engine->isAuthenticated());
    }
}

TEST(TrustedPeers, ACodeThatCannotGoOutEndsTheJobBeforeAnyRequest) {
    server();
    LoggedIn alice("unsent");
    struct Case {
        const char* what;
        std::string username;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a name outside ASCII", "ren\u00e9", "Unable to comvert payload to Data"},
        {"a name that is not UTF-8", "ren\xe9", "Unable to encode new trust data payload: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        alice.run([&](SrvComm& e) { e.shares_addTrustedUser("P-1", c.username, Bytes(32, 3)); });
        EXPECT_EQ(alice.recorder.lines(), Lines{"trustCreationTerminated:Error"});
        EXPECT_TRUE(alice.recorder.all().back().noData());
        const auto logged = lastError(*alice.engine);
        ASSERT_TRUE(logged);
        EXPECT_EQ(logged->substr(0, c.message.size()), c.message);
        if (c.message.ends_with(": ")) {
            EXPECT_GT(logged->size(), c.message.size()) << "the encoder's own words follow";
        }
    }
    EXPECT_TRUE(requestsTo(alice.user, "/trustedpeers/add/").empty());

    // Without a session nothing goes out at all.
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());
    const auto before = server().requestCount();
    engine->shares_addTrustedUser("P-1", "bob", Bytes(32, 3));
    engine->shares_getTrustedUsers();
    engine->shares_deleteTrust("P-1");
    ASSERT_TRUE(recorder.waitIdle());
    EXPECT_EQ(recorder.lines(), (Lines{"trustCreationTerminated:Error", "trustsList:Error", "trustRemove:Error"}));
    for (const auto& end : recorder.all()) {
        ASSERT_TRUE(end.httpError);
        EXPECT_EQ(end.httpError->errDescr, SrvComm::kNoSigningSession);
    }
    EXPECT_EQ(server().requestCount(), before);
}

TEST(TrustedPeers, TheQueueKeepsEachJobsTypeAndSteps) {
    server();
    LoggedIn alice("steps");
    const Peer bob("bob");
    std::string addID, listID, removeID;
    alice.run([&](SrvComm& e) {
        std::lock_guard lock(e.mutex());
        addID = e.shares_addTrustedUser(bob.uuid, bob.name, bob.key);
        listID = e.shares_getTrustedUsers();
        removeID = e.shares_deleteTrust(bob.uuid);
    });
    ASSERT_EQ(alice.recorder.lines(),
              (Lines{"trustCreationTerminated:Created", "trustsList:Available", "trustRemove:Removed"}));

    struct Expected {
        std::string id;
        JobType type;
        std::size_t announced;
        std::size_t reached;
    };
    const auto jobs = alice.engine->queue()->getJobsList();
    for (const Expected& e : {Expected{addID, JobType::addTrustedUser, 1, 1},
                              Expected{listID, JobType::listTrusts, 1, 1},
                              Expected{removeID, JobType::removeTrust, 2, 1}}) {
        SCOPED_TRACE(std::string(name(e.type)));
        ASSERT_TRUE(jobs.count(e.id));
        const CommJobsItem& item = jobs.at(e.id);
        EXPECT_EQ(item.jobType, e.type);
        EXPECT_EQ(item.jobSteps, e.announced);
        EXPECT_EQ(item.actStep, e.reached);
        EXPECT_EQ(item.status, JobStatus::completed);
        EXPECT_FALSE(item.jobInfo);
        EXPECT_FALSE(item.jobDetails);
    }
}

}  // namespace
}  // namespace ostrelcomm
