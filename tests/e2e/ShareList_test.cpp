// The shares around a user's items, with real engines against the in-process
// stand-in server: A shares two files with B through the share job (each
// file's key and metadata made by the test on OpenSSL), A lists and removes
// the shares of a file, B lists who shares with B and opens the shared
// items; answers spoiled on the way, and an expired session on each query.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FileTestSupport.h"
#include "devserver/ShareEndpoints.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "shares/ShareNotifications.h"
#include "support/MediaFixtures.h"

namespace ostrelcomm {
namespace {

using namespace filetest;
using testsupport::lastError;

constexpr char kSharedItemsPath[] = "/shares/getshareditems/";
constexpr char kSharesPath[] = "/shares/listshares/";
constexpr char kPeersPath[] = "/shares/getsharingpeers/";
constexpr char kRemovePath[] = "/shares/remove/";

// A logged-in account with a recorder of the sharing notifications.
struct Account : FileSession {
    testsupport::NotificationRecorder posted{
        engine->notifications(),
        {shares::kQueryForSharesNotification, shares::kRemoveShareTerminatedNotification,
         shares::kQueryForSharingPeersNotification, shares::kQuerySharedItemsNotification,
         shares::kShareItemTerminatedNotification, auth::kSRPAuthenticatedNotification}};

    explicit Account(const std::string& stem) : FileSession("sharelist-" + stem) {}

    // Queues one job, waits until the engine is idle, returns the job's id.
    template <class Queue>
    std::string go(Queue queue) {
        posted.clear();
        const std::string jobID = queue(*engine);
        EXPECT_TRUE(posted.waitIdle());
        return jobID;
    }
    Lines lines() const { return posted.lines({auth::kInProgress}); }

    template <class T>
    T payload(const char* notification) const {
        const auto last = posted.last(notification);
        if (!last || !last->data<T>()) {
            ADD_FAILURE() << "no payload on " << notification;
            return T{};
        }
        return *last->data<T>();
    }
};

// A file of A's, its key and metadata made by the test, with a size and a
// tree hash of its own.
struct Seeded {
    ListingOracle::Item item;
    std::string uuid;
    std::string treehash;
    std::string shareID;
};

Seeded seedFile(const Account& owner, const std::string& name, std::uint64_t size) {
    Seeded seeded;
    seeded.item.metadata = testsupport::metadataText(name);
    seeded.item.orig_size = size;
    seeded.uuid = owner.seedFile(seeded.item).uuid;
    seeded.treehash = "treehash-of-" + name;
    EXPECT_TRUE(server().items().modify(owner.owner(), seeded.uuid,
                                        [&](devserver::Item& it) { it.treehash = seeded.treehash; }));
    return seeded;
}

// A with F1 and F2 shared with B through the share job.
struct Sharing {
    Account a{"owner"};
    Account b{"reader"};
    Seeded f1 = seedFile(a, "F1.txt", 1111);
    Seeded f2 = seedFile(a, "F2.pdf", 2222);

    Sharing() {
        for (Seeded* f : {&f1, &f2}) {
            a.go([&](SrvComm& e) { return e.shares_shareItem(b.user, f->uuid); });
            EXPECT_EQ(a.lines(), Lines{"shareItemTerminated:Shared"});
            f->shareID = a.payload<shares::ShareItemPayload>(shares::kShareItemTerminatedNotification);
        }
        a.newRequests();
        b.newRequests();
    }

    std::vector<SharedItem> sharedItems(const std::optional<std::string>& peer) {
        b.go([&](SrvComm& e) { return e.shares_queryForSharedItems(peer); });
        return b.payload<shares::SharedItemsPayload>(shares::kQuerySharedItemsNotification);
    }

    // The stand-in's own answer to B, to spoil.
    nlohmann::json sharedAnswer() const {
        return nlohmann::json::parse(
            devserver::sharedItems(server().items(), server().users(), b.account(), std::nullopt).dump());
    }
};

devserver::Fault rawAnswer(const nlohmann::json& body) {
    devserver::Fault fault;
    fault.rawBody = body.dump();
    fault.contentType = "application/json";
    fault.times = 1;
    return fault;
}

void expectSeeded(const SharedItem& item, const Seeded& seeded, const std::string& name, const Account& owner) {
    SCOPED_TRACE(name);
    EXPECT_EQ(item.metadata.name, name);
    EXPECT_EQ(item.itemuuid, seeded.uuid);
    EXPECT_EQ(item.shareid, seeded.shareID);
    EXPECT_EQ(item.ownerusername, owner.user);
    EXPECT_EQ(item.owneruuid, owner.owner());
    EXPECT_EQ(item.itemtype, RemoteItemType::FILE);
    EXPECT_EQ(item.orig_size, seeded.item.orig_size);
    EXPECT_EQ(item.treehash, seeded.treehash);
    EXPECT_EQ(item.itemalgorythm, "aes256");
    EXPECT_EQ(item.itemencoderversion, "1.0");
    Bytes key = item.itemkey.key.iv.copyOut();
    const Bytes keyBytes = item.itemkey.key.key.copyOut();
    key.insert(key.end(), keyBytes.begin(), keyBytes.end());
    EXPECT_EQ(key, seeded.item.itemKey);
}

TEST(ShareList, TheReaderSeesTheOwnerAndOpensTheSharedItems) {
    Sharing s;
    const std::string peersJob = s.b.go([](SrvComm& e) { return e.shares_queryForSharingPeer(); });
    EXPECT_EQ(s.b.posted.lines(), (Lines{"queryForSharingPeers:Started", "queryForSharingPeers:Received"}));
    EXPECT_EQ(s.b.payload<shares::SharingPeersPayload>(shares::kQueryForSharingPeersNotification),
              (shares::SharingPeersPayload{{s.a.user, s.a.owner()}}));
    s.b.newRequests();

    for (const std::optional<std::string>& peer : {std::optional<std::string>(s.a.owner()),
                                                   std::optional<std::string>()}) {
        SCOPED_TRACE(peer ? "one owner's" : "every owner's");
        const auto items = s.sharedItems(peer);
        EXPECT_EQ(s.b.posted.lines(), (Lines{"querySharedItems:Started", "querySharedItems:Available"}));
        ASSERT_EQ(items.size(), 2u);
        expectSeeded(items[0], s.f1, "F1.txt", s.a);
        expectSeeded(items[1], s.f2, "F2.pdf", s.a);

        const auto requests = s.b.newRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].method + " " + requests[0].path, "GET /shares/getshareditems/");
        EXPECT_EQ(requests[0].values("x-sb-peer-uuid"), peer ? Lines{*peer} : Lines{});
    }

    const auto job = s.b.engine->queue()->getJobData(peersJob);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->jobType, JobType::queryForSharingPeers);
    EXPECT_EQ(job->jobSteps, 3u);
    EXPECT_EQ(job->actStep, 1u);
    EXPECT_EQ(job->priority, JobPriority::Normal);
    const auto events = s.b.engine->comLog().events();
    for (const char* text : {"Querying for sharing peers", "Querying for shared items"})
        EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](const auto& e) {
            return e.type == Logger::EvtType::info && e.description == text;
        })) << text;
}

TEST(ShareList, ItemsThatDoNotOpenAreLeftOutWithOneSystemLogLineEach) {
    Sharing s;
    nlohmann::json body = s.sharedAnswer();
    ASSERT_EQ(body["sharedItems"].size(), 2u);
    const nlohmann::json good = body["sharedItems"][0];

    // Wrapped under the key B shares with C, while it names A as its owner.
    const devserver::User carol =
        devserver::addDemoUser(server().users(), testsupport::uniqueName("share-carol"), kPassword);
    nlohmann::json otherOwner = good;
    otherOwner["itemkey"] =
        testsupport::oracleWrap(s.f1.item.itemKey, testsupport::oracleSharedKey(carol.pubshkey, s.b.privateKey()));
    nlohmann::json shortKey = good;
    Bytes key = s.a.publicKey();
    key.pop_back();
    shortKey["ownerpubshkey"] = devserver::base64Encode(key);
    nlohmann::json damaged = good;
    Bytes metadata = base64(good["metadata"]);
    metadata[0] ^= 0x01;  // the IV: "{" opens as "z"
    damaged["metadata"] = devserver::base64Encode(metadata);
    for (const auto& bad : {otherOwner, shortKey, damaged}) body["sharedItems"].push_back(bad);

    testsupport::SystemLogCapture log;
    server().setFault("GET", kSharedItemsPath, rawAnswer(body));
    const auto items = s.sharedItems(std::nullopt);
    server().clearFault("GET", kSharedItemsPath);

    EXPECT_EQ(s.b.posted.lines(), (Lines{"querySharedItems:Started", "querySharedItems:Available"}));
    ASSERT_EQ(items.size(), 2u);
    expectSeeded(items[0], s.f1, "F1.txt", s.a);
    expectSeeded(items[1], s.f2, "F2.pdf", s.a);
    EXPECT_EQ(log.lines(), (Lines{"Error decrypting item key", "Error when computing a shared key",
                                  "Error decrypting item metadata"}));
}

TEST(ShareList, AnAnswerThatDoesNotDecodeOrAPrivateKeyThatDoesNotOpenDeliversNothing) {
    Sharing s;
    struct Row {
        const char* name;
        std::function<void(nlohmann::json&)> spoil;
        std::optional<std::string> error;
    };
    const std::vector<Row> rows = {
        {"itemtype FOO", [](nlohmann::json& b) { b["sharedItems"][1]["itemtype"] = "FOO"; }, std::nullopt},
        {"negative size", [](nlohmann::json& b) { b["sharedItems"][1]["orig_size"] = -1; }, std::nullopt},
        {"fractional size", [](nlohmann::json& b) { b["sharedItems"][1]["orig_size"] = 1.5; }, std::nullopt},
        {"no tree hash", [](nlohmann::json& b) { b["sharedItems"][1].erase("treehash"); }, std::nullopt},
        {"damaged private key",
         [](nlohmann::json& b) {
             auto wrapped = nlohmann::json::parse(b["userprivatekey"].get<std::string>());
             Bytes cipher = base64(wrapped["key"]);
             cipher.back() ^= 0x40;
             wrapped["key"] = devserver::base64Encode(cipher);
             b["userprivatekey"] = wrapped.dump();
         },
         std::string("Cannot decrypt user's private key!")},
        {"private key no wrapped key", [](nlohmann::json& b) { b["userprivatekey"] = "{}"; },
         std::string("Cannot decrypt user's private key!")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        nlohmann::json body = s.sharedAnswer();
        row.spoil(body);
        server().setFault("GET", kSharedItemsPath, rawAnswer(body));
        const auto items = s.sharedItems(std::nullopt);
        EXPECT_EQ(s.b.posted.lines(), (Lines{"querySharedItems:Started", "querySharedItems:Error"}));
        EXPECT_TRUE(items.empty());
        if (row.error) {
            EXPECT_EQ(lastError(*s.b.engine), row.error);
            EXPECT_FALSE(s.b.posted.last(shares::kQuerySharedItemsNotification)->httpError);
        } else {
            const auto error = s.b.posted.last(shares::kQuerySharedItemsNotification)->httpError;
            ASSERT_TRUE(error);
            EXPECT_EQ(error->error, HTTPErrors::unableToDecodeAnswer);
        }
    }
    server().clearFault("GET", kSharedItemsPath);
}

TEST(ShareList, TheOwnerListsAndRemovesTheSharesOfAnItem) {
    Sharing s;
    const std::string listJob = s.a.go([&](SrvComm& e) { return e.shares_queryForShares(s.f1.uuid); });
    EXPECT_EQ(s.a.posted.lines(), (Lines{"queryForShares:Started", "queryForShares:Received"}));
    const auto started = s.a.posted.all().front();
    EXPECT_TRUE(started.noData());
    EXPECT_FALSE(started.httpError);
    EXPECT_EQ(s.a.payload<shares::QueryForSharesPayload>(shares::kQueryForSharesNotification),
              (shares::QueryForSharesPayload{{s.f1.shareID, s.b.owner(), s.b.user}}));
    auto requests = s.a.newRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].values("x-sb-item-uuid"), Lines{s.f1.uuid});
    const auto job = s.a.engine->queue()->getJobData(listJob);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->jobType, JobType::queryForShares);
    EXPECT_EQ(job->jobSteps, 3u);

    // An entry with nothing but the share's identifier.
    server().setFault("GET", kSharesPath, rawAnswer(nlohmann::json::array({{{"shareUUID", "S-only"}}})));
    s.a.go([&](SrvComm& e) { return e.shares_queryForShares(s.f1.uuid); });
    EXPECT_EQ(s.a.payload<shares::QueryForSharesPayload>(shares::kQueryForSharesNotification),
              (shares::QueryForSharesPayload{{"S-only", std::nullopt, std::nullopt}}));

    // A removal reports the share asked for, whatever the answer names.
    server().setFault("DELETE", kRemovePath, rawAnswer({{"shareUUID", "another-share"}}));
    s.a.go([&](SrvComm& e) { return e.shares_removeShare(s.f1.shareID); });
    EXPECT_EQ(s.a.posted.lines(), Lines{"removeShareTerminated:Removed"});
    EXPECT_EQ(s.a.payload<shares::RemoveSharePayload>(shares::kRemoveShareTerminatedNotification), s.f1.shareID);
    EXPECT_EQ(server().items().grantsOf(s.a.owner(), s.f1.uuid).size(), 1u) << "the fault answered, not the store";
    s.a.newRequests();

    const std::string removeJob = s.a.go([&](SrvComm& e) { return e.shares_removeShare(s.f1.shareID); });
    EXPECT_EQ(s.a.posted.lines(), Lines{"removeShareTerminated:Removed"});
    EXPECT_EQ(s.a.payload<shares::RemoveSharePayload>(shares::kRemoveShareTerminatedNotification), s.f1.shareID);
    requests = s.a.newRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method + " " + requests[0].path, "DELETE /shares/remove/");
    EXPECT_EQ(requests[0].values("x-sb-share-uuid"), Lines{s.f1.shareID});
    EXPECT_FALSE(requests[0].has("x-sb-encoder-version"));
    EXPECT_EQ(s.a.engine->queue()->getJobData(removeJob)->jobType, JobType::removeShare);
    const auto events = s.a.engine->comLog().events();
    for (const std::string& text :
         {"Querying shares for \"" + s.f1.uuid + "\"", "Removing share \"" + s.f1.shareID + "\""})
        EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](const auto& e) {
            return e.type == Logger::EvtType::info && e.description == text;
        })) << text;

    s.a.go([&](SrvComm& e) { return e.shares_queryForShares(s.f1.uuid); });
    EXPECT_EQ(s.a.lines(), (Lines{"queryForShares:Started", "queryForShares:Received"}));
    EXPECT_TRUE(s.a.payload<shares::QueryForSharesPayload>(shares::kQueryForSharesNotification).empty());

    // A share that is gone: the server refuses, the job names it all the same.
    s.a.go([&](SrvComm& e) { return e.shares_removeShare(s.f1.shareID); });
    EXPECT_EQ(s.a.posted.lines(), Lines{"removeShareTerminated:Error"});
    EXPECT_EQ(s.a.payload<shares::RemoveSharePayload>(shares::kRemoveShareTerminatedNotification), s.f1.shareID);

    // The reader removes the other share; nothing is shared with B any more.
    s.b.go([&](SrvComm& e) { return e.shares_removeShare(s.f2.shareID); });
    EXPECT_EQ(s.b.posted.lines(), Lines{"removeShareTerminated:Removed"});
    EXPECT_TRUE(s.sharedItems(std::nullopt).empty());
    EXPECT_EQ(s.b.posted.lines(), (Lines{"querySharedItems:Started", "querySharedItems:Available"}));
    s.b.go([](SrvComm& e) { return e.shares_queryForSharingPeer(); });
    EXPECT_TRUE(s.b.payload<shares::SharingPeersPayload>(shares::kQueryForSharingPeersNotification).empty());
}

TEST(ShareList, AnExpiredSessionIsRenewedAndEachQuerySentAgain) {
    Sharing s;
    auto once = devserver::Fault::sessionExpired();
    once.times = 1;
    struct Row {
        const char* name;
        Account* account;
        const char* method;
        const char* path;
        std::function<std::string(SrvComm&)> queue;
        Lines posted;
    };
    const std::vector<Row> rows = {
        {"shares", &s.a, "GET", kSharesPath, [&](SrvComm& e) { return e.shares_queryForShares(s.f1.uuid); },
         {"queryForShares:Started", "SRPAuthenticated:Authenticated", "queryForShares:Started",
          "queryForShares:Received"}},
        {"sharing peers", &s.b, "GET", kPeersPath, [](SrvComm& e) { return e.shares_queryForSharingPeer(); },
         {"queryForSharingPeers:Started", "SRPAuthenticated:Authenticated", "queryForSharingPeers:Started",
          "queryForSharingPeers:Received"}},
        {"shared items", &s.b, "GET", kSharedItemsPath,
         [](SrvComm& e) { return e.shares_queryForSharedItems(std::nullopt); },
         {"querySharedItems:Started", "SRPAuthenticated:Authenticated", "querySharedItems:Started",
          "querySharedItems:Available"}},
        {"removal", &s.a, "DELETE", kRemovePath, [&](SrvComm& e) { return e.shares_removeShare(s.f2.shareID); },
         {"SRPAuthenticated:Authenticated", "removeShareTerminated:Removed"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        server().setFault(row.method, row.path, once);
        const std::string jobID = row.account->go(row.queue);
        server().clearFault(row.method, row.path);
        EXPECT_EQ(row.account->lines(), row.posted);
        const auto sent = row.account->newRequests();
        EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [&](const auto& r) { return r.path == row.path; }), 2);
        EXPECT_EQ(row.account->engine->queue()->getJobData(jobID)->actStep, 2u);
    }

    // The second "Started" of the shared items carries the expired session.
    std::vector<testsupport::PostedNotification> started;
    for (const auto& p : s.b.posted.all())
        if (p.name == shares::kQuerySharedItemsNotification && p.result == shares::kStarted) started.push_back(p);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_FALSE(started[0].httpError);
    ASSERT_TRUE(started[1].httpError);
    EXPECT_EQ(started[1].httpError->exception, std::string("AccessDeniedException"));
    EXPECT_NE(started[1].httpError->errDescr.find("Session expired"), std::string::npos);
    ASSERT_TRUE(started[1].data<shares::SharedItemsPayload>());
    EXPECT_TRUE(started[1].data<shares::SharedItemsPayload>()->empty());
    EXPECT_EQ(s.b.payload<shares::SharedItemsPayload>(shares::kQuerySharedItemsNotification).size(), 2u);
    EXPECT_FALSE(s.b.posted.last(shares::kQuerySharedItemsNotification)->httpError);
}

}  // namespace
}  // namespace ostrelcomm
