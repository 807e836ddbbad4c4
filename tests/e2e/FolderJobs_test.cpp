// The folder listing and creation of a real engine against the in-process
// stand-in server: what they send (the key and metadata checked with OpenSSL
// against the account's own master key), what they post, listings of what
// the server holds, renewal of an expired session, and every way they end in
// error.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <ctime>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FolderTestSupport.h"
#include "devserver/Base64.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "platform/LocalizedString.h"
#include "tree/DirectoryWorksContext.h"
#include "tree/RemoteDirInfo.h"
#include "tree/RemoteItemMetadata.h"

namespace ostrelcomm {
namespace {

using namespace foldertest;
using std::chrono::sys_seconds;

constexpr auto kGuard = std::chrono::seconds(30);
constexpr char kCreated[] = "newRemoteDirectoryCreated:Created";
constexpr char kReceived[] = "queryRemoteDirectoryContent:Received";
constexpr char kListingError[] = "queryRemoteDirectoryContent:Error";
constexpr char kCreationError[] = "newRemoteDirectoryCreated:Error";

sys_seconds nowSeconds() { return std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now()); }

// An internet date-time in UTC with whole seconds ("2024-02-29T23:59:59Z").
std::optional<sys_seconds> wholeSecondDate(const nlohmann::json& value) {
    if (!value.is_string()) return std::nullopt;
    const std::string text = value.get<std::string>();
    if (!std::regex_match(text, std::regex(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)"))) return std::nullopt;
    std::tm parts{};
    std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday, &parts.tm_hour,
                &parts.tm_min, &parts.tm_sec);
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return sys_seconds(std::chrono::seconds(timegm(&parts)));
}

Bytes base64(const nlohmann::json& value) {
    auto bytes = devserver::base64Decode(value.get<std::string>());
    EXPECT_TRUE(bytes);
    return bytes.value_or(Bytes{});
}

std::set<std::string> keysOf(const nlohmann::json& object) {
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.insert(key);
    return keys;
}

// The job as the queue keeps it once it has ended, and whether the engine's
// log holds the INFO event of its queuing.
void expectJob(SrvComm& engine, const std::string& jobID, JobType type, std::size_t steps, const std::string& info) {
    const auto item = engine.queue()->getJobData(jobID);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->jobType, type);
    EXPECT_EQ(item->jobSteps, steps);
    EXPECT_EQ(item->actStep, steps);
    EXPECT_EQ(item->priority, JobPriority::Normal);
    EXPECT_EQ(item->status, JobStatus::completed);
    bool logged = false;
    for (const auto& event : engine.comLog().events())
        logged = logged || (event.type == Logger::EvtType::info && event.description == info);
    EXPECT_TRUE(logged) << info;
}

const tree::TaggedPayload* tagged(const Posted& posted) { return posted.data<tree::TaggedPayload>(); }

std::string createdUuid(const Recorder& recorder) {
    auto created = recorder.last(tree::kNewRemoteDirectoryCreatedNotification);
    if (!created) return {};
    if (const auto* bare = created->data<tree::ItemUuidPayload>()) return *bare;
    if (const auto* entries = tagged(*created)) {
        if (const auto* uuid = std::any_cast<std::string>(&entries->at(tree::kUuidKey))) return *uuid;
    }
    return {};
}

std::shared_ptr<RemoteDirInfo> receivedListing(const Recorder& recorder) {
    auto received = recorder.last(tree::kQueryRemoteDirectoryContentNotification);
    if (!received) return nullptr;
    if (const auto* bare = received->data<tree::DirInfoPayload>()) return *bare;
    if (const auto* entries = tagged(*received)) {
        if (const auto* listing = std::any_cast<tree::DirInfoPayload>(&entries->at(tree::kDirInfoKey)))
            return *listing;
    }
    return nullptr;
}

TEST(FolderJobs, ACreationSendsAFreshWrappedKeyAndANameSealedUnderIt) {
    server();
    LoggedIn session("create");
    const auto oracle = session.oracle();

    const sys_seconds before = nowSeconds();
    std::string jobID;
    session.run([&](SrvComm& e) { jobID = e.directory_create("A", std::nullopt, "t"); });
    const sys_seconds after = nowSeconds();
    expectJob(*session.engine, jobID, JobType::createFolder, 2, "Creating new folder A");

    // "Started" while it runs, then "Created" with the tag and the new
    // folder's identifier.
    const auto posted = session.recorder.all();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.front().result, tree::kStarted);
    EXPECT_EQ(session.recorder.lines(), Lines{kCreated});
    for (const auto& p : posted) EXPECT_TRUE(p.hasAllKeys);
    const auto* created = tagged(posted.back());
    ASSERT_TRUE(created);
    EXPECT_EQ(created->size(), 2u);
    EXPECT_EQ(std::any_cast<std::string>(created->at(tree::kSourceKey)), "t");
    const std::string uuid = createdUuid(session.recorder);
    const auto stored = server().items().find(session.owner(), uuid);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->parent, "root");
    EXPECT_EQ(stored->kind, devserver::ItemKind::directory);

    const auto requests = session.newRequests();
    ASSERT_EQ(requestLines(requests), (Lines{"GET /dir/create_prepare/", "PUT /dir/create_execute/"}));
    for (const auto& r : requests) EXPECT_EQ(r.values("x-sb-parent-uuid"), Lines{"root"}) << r.path;
    EXPECT_EQ(requests[1].values("x-sb-encoder-version"), Lines{"1.0"});
    EXPECT_EQ(requests[1].values("x-sb-algorythm"), Lines{"aes256"});
    EXPECT_EQ(requests[1].values("Content-Type"), Lines{"application/json"});

    // The body: an empty attribute list, the item key wrapped under the
    // account's master key, and nothing but the name and two dates sealed
    // under the item key.
    const auto body = nlohmann::json::parse(requests[1].body);
    ASSERT_TRUE(body.is_object());
    EXPECT_EQ(keysOf(body), (std::set<std::string>{"attrib", "itemkey", "metadata"}));
    EXPECT_EQ(body["attrib"], nlohmann::json::array());
    ASSERT_TRUE(body["itemkey"].is_string());
    const auto itemKey = oracle.unwrapItemKey(body["itemkey"].get<std::string>());
    ASSERT_TRUE(itemKey);
    EXPECT_EQ(itemKey->size(), 48u);
    const auto metadata = oracle.openMetadata(body["itemkey"].get<std::string>(), base64(body["metadata"]));
    ASSERT_TRUE(metadata);
    EXPECT_EQ(keysOf(*metadata), (std::set<std::string>{"name", "creationDate", "modificationDate"}));
    EXPECT_EQ((*metadata)["name"], "A");
    for (const char* date : {"creationDate", "modificationDate"}) {
        const auto when = wholeSecondDate((*metadata)[date]);
        ASSERT_TRUE(when) << (*metadata)[date];
        EXPECT_LE(before, *when);
        EXPECT_LE(*when, after);
    }
    // The server keeps what was sent.
    EXPECT_EQ(stored->itemkey, body["itemkey"].get<std::string>());
    EXPECT_EQ(stored->metadata, base64(body["metadata"]));

    // Without a tag the identifier comes bare; inside a folder both requests
    // name it as the parent.
    session.recorder.clear();
    session.run([&](SrvComm& e) { e.directory_create("B", uuid, std::nullopt); });
    EXPECT_EQ(session.recorder.lines(), Lines{kCreated});
    const Posted inB = session.recorder.all().back();
    const auto* bare = inB.data<tree::ItemUuidPayload>();
    ASSERT_TRUE(bare);
    const auto inner = server().items().find(session.owner(), *bare);
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->parent, uuid);
    for (const auto& r : session.newRequests()) EXPECT_EQ(r.values("x-sb-parent-uuid"), Lines{uuid}) << r.path;
    EXPECT_NE(inner->itemkey, stored->itemkey);
}

TEST(FolderJobs, ListingsShowTheFoldersTheClientCreated) {
    server();
    LoggedIn session("list");
    session.run([](SrvComm& e) { e.directory_create("A", std::nullopt, std::nullopt); });
    const std::string a = createdUuid(session.recorder);
    session.run([&](SrvComm& e) { e.directory_create("B", a, std::nullopt); });
    const std::string b = createdUuid(session.recorder);
    ASSERT_FALSE(a.empty() || b.empty());
    session.recorder.clear();
    session.newRequests();

    // The top of the tree: no entry of its own, and A in it. Without a tag
    // the listing comes bare.
    std::string jobID;
    session.run([&](SrvComm& e) { jobID = e.directory_getInfo("root", std::nullopt); });
    EXPECT_EQ(session.recorder.lines(), Lines{kReceived});
    expectJob(*session.engine, jobID, JobType::getFolderInfo, 1, "Asking for new informations about root");
    const auto list = session.newRequests();
    ASSERT_EQ(requestLines(list), Lines{"GET /dir/list/"});
    EXPECT_EQ(list[0].values("x-sb-item-uuid"), Lines{"root"});
    const Posted ofRoot = session.recorder.all().back();
    const auto* bareListing = ofRoot.data<tree::DirInfoPayload>();
    ASSERT_TRUE(bareListing && *bareListing);
    const auto& top = **bareListing;
    EXPECT_FALSE(top.informations);
    ASSERT_EQ(top.content.size(), 1u);
    EXPECT_EQ(top.content[0].uuid, a);
    EXPECT_EQ(top.content[0].type, RemoteItemType::DIRECTORY);
    EXPECT_EQ(top.content[0].parentuuid, "root");
    EXPECT_EQ(top.content[0].metadata.name, "A");
    EXPECT_EQ(top.content[0].orig_size, 0u);
    EXPECT_EQ(top.content[0].thumbnailsize, 0u);
    EXPECT_TRUE(top.content[0].attrib.empty());

    // A, with a tag: exactly the tag and the listing, A's own entry and B.
    session.recorder.clear();
    session.run([&](SrvComm& e) { e.directory_getInfo(a, "t"); });
    EXPECT_EQ(session.recorder.lines(), Lines{kReceived});
    const Posted ofA = session.recorder.all().back();
    const auto* entries = tagged(ofA);
    ASSERT_TRUE(entries);
    std::set<std::string> keys;
    for (const auto& [key, value] : *entries) keys.insert(key);
    EXPECT_EQ(keys, (std::set<std::string>{tree::kSourceKey, tree::kDirInfoKey}));
    EXPECT_EQ(std::any_cast<std::string>(entries->at(tree::kSourceKey)), "t");
    const auto inA = receivedListing(session.recorder);
    ASSERT_TRUE(inA);
    ASSERT_TRUE(inA->informations);
    EXPECT_EQ(inA->informations->uuid, a);
    EXPECT_EQ(inA->informations->metadata.name, "A");
    ASSERT_EQ(inA->content.size(), 1u);
    EXPECT_EQ(inA->content[0].uuid, b);
    EXPECT_EQ(inA->content[0].metadata.name, "B");
    EXPECT_EQ(inA->content[0].parentuuid, a);
    EXPECT_EQ(session.newRequests()[0].values("x-sb-item-uuid"), Lines{a});
}

TEST(FolderJobs, ItemsAnotherClientStoredListWithTheirKeysAndAPlaceholderForWhatDoesNotOpen) {
    server();
    LoggedIn session("seeded");
    const auto oracle = session.oracle();
    testsupport::ListingOracle::Item photo;
    photo.orig_size = 1234;
    photo.attrib = {"x", "y z"};
    photo.metadata = testsupport::metadataText("Beach.jpg");
    testsupport::ListingOracle::Item spoiled;
    spoiled.metadata = testsupport::metadataText("Hidden");
    spoiled.metadataKey = testsupport::oracleRandom(32);
    testsupport::ListingOracle::Item after;
    after.metadata = testsupport::metadataText("After");

    const auto photoItem = session.seed(photo, "root", devserver::ItemKind::file);
    ASSERT_TRUE(server().items().modify(session.owner(), photoItem.uuid,
                                        [](devserver::Item& item) { item.thumbnail = Bytes(77, 1); }));
    const auto spoiledItem = session.seed(spoiled, "root", devserver::ItemKind::directory);
    session.seed(after, "root", devserver::ItemKind::directory);

    const sys_seconds before = nowSeconds();
    session.run([](SrvComm& e) { e.directory_getInfo("root", std::nullopt); });
    EXPECT_EQ(session.recorder.lines(), Lines{kReceived});
    const auto listing = receivedListing(session.recorder);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->content.size(), 3u);

    const auto& first = listing->content[0];
    EXPECT_EQ(first.uuid, photoItem.uuid);
    EXPECT_EQ(first.type, RemoteItemType::FILE);
    EXPECT_EQ(first.orig_size, 1234u);
    EXPECT_EQ(first.thumbnailsize, 77u);
    EXPECT_EQ(first.attrib, (std::vector<std::string>{"x", "y z"}));
    EXPECT_EQ(first.metadata.name, "Beach.jpg");
    EXPECT_EQ(first.filekey.key.key.copyOut(), oracle.keyBytes(photo));

    // Sealed under another key: the placeholder, the rest as listed.
    const auto& second = listing->content[1];
    EXPECT_EQ(second.uuid, spoiledItem.uuid);
    EXPECT_EQ(second.type, RemoteItemType::DIRECTORY);
    EXPECT_EQ(second.metadata.name, RemoteItemMetadata::kInvalidMetadataName);
    EXPECT_GE(second.metadata.creationDate, before);
    EXPECT_EQ(second.filekey.key.key.copyOut(), oracle.keyBytes(spoiled));
    EXPECT_EQ(listing->content[2].metadata.name, "After");
}

TEST(FolderJobs, AMasterKeyThatDoesNotUnwrapEndsTheJobBeforeAnythingIsSent) {
    server();
    LoggedIn session("wrong-umk");
    // As if the password had been changed elsewhere.
    ASSERT_TRUE(server().users().modify(session.user, [](devserver::User& user) {
        user.umk = testsupport::oracleWrap(testsupport::oracleRandom(48), testsupport::oraclePasswordKey("other"));
    }));

    for (const std::optional<std::string>& source : {std::optional<std::string>(), std::optional<std::string>("t")}) {
        SCOPED_TRACE(source ? "tagged" : "untagged");
        session.recorder.clear();
        session.run([&](SrvComm& e) { e.directory_getInfo("root", source); });
        EXPECT_EQ(session.recorder.lines(), Lines{kListingError});
        const auto failed = session.recorder.all().back();
        EXPECT_TRUE(failed.noData());
        EXPECT_FALSE(failed.httpError);
        EXPECT_EQ(lastError(*session.engine), "Unable to decrypt directory content!");
    }

    // The creation stops at its preparation: no key is sent under a master
    // key it could not read.
    session.recorder.clear();
    session.newRequests();
    session.run([](SrvComm& e) { e.directory_create("A", std::nullopt, "t"); });
    EXPECT_EQ(session.recorder.lines(), Lines{kCreationError});
    EXPECT_TRUE(session.recorder.all().back().noData());
    EXPECT_EQ(lastError(*session.engine).value_or("").rfind("Unable to decrypt user's key: ", 0), 0u)
        << lastError(*session.engine).value_or("");
    EXPECT_EQ(requestLines(session.newRequests()), Lines{"GET /dir/create_prepare/"});
    EXPECT_TRUE(server().items().itemsOf(session.owner()).empty());
}

TEST(FolderJobs, ASessionThatExpiresAtTheExecuteRepeatsItWithANewKeyAndNewMetadata) {
    server();
    LoggedIn session("expired");
    const auto oracle = session.oracle();
    devserver::Fault expired = devserver::Fault::sessionExpired();
    expired.times = 1;
    server().setFault("PUT", "/dir/create_execute/", expired);
    session.run([](SrvComm& e) { e.directory_create("A", std::nullopt, std::nullopt); });
    server().clearFaults();

    EXPECT_EQ(session.recorder.lines(), (Lines{"SRPAuthenticated:Authenticated", kCreated}));
    const auto requests = session.newRequests();
    ASSERT_EQ(requestLines(requests),
              (Lines{"GET /dir/create_prepare/", "PUT /dir/create_execute/", "GET /authenticate/",
                     "POST /authenticate/", "PUT /dir/create_execute/"}));
    const auto first = nlohmann::json::parse(requests[1].body);
    const auto second = nlohmann::json::parse(requests[4].body);
    EXPECT_NE(first["itemkey"], second["itemkey"]);
    EXPECT_NE(first["metadata"], second["metadata"]);
    EXPECT_NE(oracle.unwrapItemKey(first["itemkey"].get<std::string>()),
              oracle.unwrapItemKey(second["itemkey"].get<std::string>()));
    const auto metadata = oracle.openMetadata(second["itemkey"].get<std::string>(), base64(second["metadata"]));
    ASSERT_TRUE(metadata);
    EXPECT_EQ((*metadata)["name"], "A");

    const auto items = server().items().itemsOf(session.owner());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].uuid, createdUuid(session.recorder));
    EXPECT_EQ(items[0].itemkey, second["itemkey"].get<std::string>());
}

TEST(FolderJobs, AnAnswerForAnotherRequestEndsTheJobWithTheLocalizedText) {
    server();
    struct Case {
        const char* method;
        const char* path;
        std::function<void(SrvComm&)> queue;
        std::string line;
        Lines sent;
    };
    const std::vector<Case> cases = {
        {"GET", "/dir/list/", [](SrvComm& e) { e.directory_getInfo("root", "t"); }, kListingError,
         {"GET /dir/list/"}},
        {"GET", "/dir/create_prepare/", [](SrvComm& e) { e.directory_create("A", std::nullopt, "t"); },
         kCreationError, {"GET /dir/create_prepare/"}},
        {"PUT", "/dir/create_execute/", [](SrvComm& e) { e.directory_create("A", std::nullopt, "t"); },
         kCreationError, {"GET /dir/create_prepare/", "PUT /dir/create_execute/"}},
    };
    const std::string wrongAction = localizedString("Localizable", "AnswerWrongAction");
    ASSERT_NE(wrongAction, "AnswerWrongAction");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        LoggedIn session("action");
        devserver::Fault fault;
        fault.action = "SOMETHING_ELSE";
        server().setFault(c.method, c.path, fault);
        session.run(c.queue);
        server().clearFaults();
        EXPECT_EQ(session.recorder.lines(), Lines{c.line});
        const auto failed = session.recorder.all().back();
        EXPECT_TRUE(failed.noData());
        ASSERT_TRUE(failed.httpError);
        EXPECT_EQ(failed.httpError->errDescr, wrongAction);
        EXPECT_EQ(lastError(*session.engine), wrongAction);
        EXPECT_EQ(requestLines(session.newRequests()), c.sent);
    }
}

TEST(FolderJobs, AFolderThatIsNotTheUsersIsNotFound) {
    server();
    LoggedIn alice("alice");
    alice.run([](SrvComm& e) { e.directory_create("A", std::nullopt, std::nullopt); });
    const std::string a = createdUuid(alice.recorder);
    ASSERT_FALSE(a.empty());

    LoggedIn bob("bob");
    bob.run([&](SrvComm& e) {
        e.directory_getInfo(a, std::nullopt);
        e.directory_create("X", a, "t");
        e.directory_getInfo("no-such-folder", "t");
    });
    EXPECT_EQ(bob.recorder.lines(), (Lines{kListingError, kCreationError, kListingError}));
    for (const auto& p : bob.recorder.all()) {
        if (p.result != tree::kError) continue;
        ASSERT_TRUE(p.httpError);
        EXPECT_EQ(p.httpError->exception, "ItemNotFoundException");
        EXPECT_TRUE(p.noData());
    }
    EXPECT_EQ(requestLines(bob.newRequests()),
              (Lines{"GET /dir/list/", "GET /dir/create_prepare/", "GET /dir/list/"}));
    EXPECT_TRUE(server().items().itemsOf(bob.owner()).empty());
}

TEST(FolderJobs, AbortedFolderJobsPostAbortedWithoutAPayload) {
    server();
    LoggedIn session("abort");
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("GET", "/dir/list/", stall);
    std::string running;
    std::string waiting;
    {
        std::lock_guard lock(session.engine->mutex());
        running = session.engine->directory_getInfo("root", "t");
        waiting = session.engine->directory_create("A", std::nullopt, "t");
    }
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    const auto accepted = session.engine->abortJobs({waiting, running});
    EXPECT_TRUE(accepted.at(waiting));
    EXPECT_TRUE(accepted.at(running));
    server().releaseStalls();
    ASSERT_TRUE(session.recorder.waitIdle());
    server().clearFaults();

    EXPECT_EQ(session.recorder.lines(),
              (Lines{"newRemoteDirectoryCreated:Aborted", "queryRemoteDirectoryContent:Aborted"}));
    for (const auto& p : session.recorder.all()) {
        if (p.result != tree::kAborted) continue;
        EXPECT_TRUE(p.noData());
        EXPECT_FALSE(p.httpError);
    }
    EXPECT_EQ(requestLines(session.newRequests()), Lines{"GET /dir/list/"});
}

TEST(FolderJobs, ADeletedProfileTakesItsFoldersWithIt) {
    server();
    LoggedIn session("deleted");
    session.run([](SrvComm& e) { e.directory_create("A", std::nullopt, std::nullopt); });
    const std::string owner = session.owner();
    ASSERT_EQ(server().items().itemsOf(owner).size(), 1u);
    session.run([](SrvComm& e) { e.user_delete(SecretBytes::fromText(kPassword)); });
    EXPECT_FALSE(server().users().find(session.user));
    EXPECT_TRUE(server().items().itemsOf(owner).empty());
}

// A step that cannot run its job (no session to sign with, a job of another
// kind, a creation without its key or name, a listing without a folder)
// ends it in error, saying which, and sends nothing.
TEST(FolderJobs, AStepThatCannotRunItsJobEndsItInErrorAndSendsNothing) {
    server();
    {
        auto engine = std::make_shared<SrvComm>();
        Recorder recorder(engine->notifications());
        const auto before = server().requestCount();
        engine->directory_getInfo("root", "t");
        engine->directory_create("A", std::nullopt, "t");
        ASSERT_TRUE(recorder.waitIdle());
        EXPECT_EQ(recorder.lines(), (Lines{kListingError, kCreationError}));
        EXPECT_EQ(server().requestCount(), before);
        EXPECT_EQ(lastError(*engine), SrvComm::kNoSigningSession);
    }

    LoggedIn session("mended");
    const std::string url = session.engine->urlToUse();
    struct Case {
        const char* what;
        std::function<std::shared_ptr<CommJobsContext>()> make;
        std::string error;
    };
    auto folderJob = [url](std::optional<std::string> uuid, std::optional<std::string> name, JobsSteps first,
                           const char* notification) {
        return std::make_shared<DirectoryWorksContext>(std::move(uuid), std::nullopt, std::nullopt, std::move(name),
                                                       url, first, notification, std::nullopt);
    };
    const std::vector<Case> cases = {
        {"an execute without the master key",
         [&] {
             return folderJob(std::nullopt, "A", JobsSteps::directory_createExecute,
                              tree::kNewRemoteDirectoryCreatedNotification);
         },
         "The folder creation has no user master key"},
        {"an execute without a name",
         [&] {
             auto context = folderJob(std::nullopt, std::nullopt, JobsSteps::directory_createExecute,
                                      tree::kNewRemoteDirectoryCreatedNotification);
             context->uk.emplace(CipherAlgorithm::aes256, 32);
             return context;
         },
         "The folder creation has no name for the new folder"},
        {"a listing without a folder",
         [&] {
             return folderJob(std::nullopt, std::nullopt, JobsSteps::directory_getInfoQuery,
                              tree::kQueryRemoteDirectoryContentNotification);
         },
         "The folder listing names no folder"},
        {"a job of another kind",
         [&] {
             return std::make_shared<CommJobBasicContext>(JobsSteps::directory_createPrepare, Http::forJob(url),
                                                          tree::kNewRemoteDirectoryCreatedNotification);
         },
         steps::wrongContextMessage(JobsSteps::directory_createPrepare)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        session.recorder.clear();
        session.run([&](SrvComm& e) {
            std::lock_guard lock(e.mutex());
            e.queue()->addNewJob(JobType::createFolder, 2, JobPriority::Normal, c.make(), std::nullopt,
                                 std::nullopt);
        });
        EXPECT_EQ(lastError(*session.engine), c.error);
        EXPECT_EQ(session.recorder.all().back().result, tree::kError);
        EXPECT_TRUE(session.newRequests().empty());
    }

    // A name that cannot be written into metadata (not UTF-8) stops the
    // creation before its execute.
    session.recorder.clear();
    session.run([](SrvComm& e) { e.directory_create("bad \xff name", std::nullopt, std::nullopt); });
    EXPECT_EQ(session.recorder.lines(), Lines{kCreationError});
    EXPECT_EQ(lastError(*session.engine).value_or("").rfind("Unable to generate and encrypt new folder metadata: ", 0),
              0u)
        << lastError(*session.engine).value_or("");
    EXPECT_EQ(requestLines(session.newRequests()), Lines{"GET /dir/create_prepare/"});
}

}  // namespace
}  // namespace ostrelcomm
