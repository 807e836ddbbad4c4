// Folder renames, moves and deletions, and the folder tree, of a real engine
// against the in-process stand-in server: what they send (the renamed
// folder's key and metadata read back with OpenSSL under the account's own
// master key), what the server keeps afterwards, the trees they decrypt, and
// the ways they end in error.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "FolderTestSupport.h"
#include "devserver/Base64.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "json/StrictJson.h"
#include "tree/DirectoryWorksContext.h"
#include "tree/RemoteDirectoryBranch.h"
#include "tree/RemoteItemMetadata.h"

namespace ostrelcomm {
namespace {

using namespace foldertest;
using devserver::ItemKind;
using std::chrono::sys_seconds;
using OracleItem = testsupport::ListingOracle::Item;
using Node = std::shared_ptr<RemoteDirectoryBranch>;

constexpr char kModified[] = "directoryPropertiesModified:Modified";
constexpr char kModifyError[] = "directoryPropertiesModified:Error";
constexpr char kDeleted[] = "directoryDeleted:Deleted";
constexpr char kDeleteError[] = "directoryDeleted:Error";
constexpr char kTreeAvailable[] = "getDirectoryTreeTerminated:Available";
constexpr char kTreeError[] = "getDirectoryTreeTerminated:Error";
constexpr char kUndecryptableTree[] = "Unable to decrypt directory content!";
// SHA-256 of no bytes at all.
constexpr char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

sys_seconds nowSeconds() {
    return std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
}

std::optional<sys_seconds> wholeSecondDate(const nlohmann::json& value) {
    if (!value.is_string()) return std::nullopt;
    const std::string text = value.get<std::string>();
    if (!std::regex_match(text, std::regex(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)")))
        return std::nullopt;
    std::tm parts{};
    std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                &parts.tm_hour, &parts.tm_min, &parts.tm_sec);
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return sys_seconds(std::chrono::seconds(timegm(&parts)));
}

OracleItem folderItem(const std::string& name,
                      const std::string& created = "2021-03-04T05:06:07Z") {
    OracleItem item;
    item.type = "DIRECTORY";
    item.metadata = testsupport::metadataText(name, created);
    return item;
}

// A logged-in account with a recorder of the folder changes, the tree, the
// creation and the login. Every wait of a test goes through this recorder.
struct Account {
    LoggedIn session;
    testsupport::NotificationRecorder recorder{
        session.engine->notifications(),
        {tree::kDirectoryPropertiesModifiedNotification, tree::kDirectoryDeletedNotification,
         tree::kGetDirectoryTreeTerminatedNotification,
         tree::kNewRemoteDirectoryCreatedNotification, auth::kSRPAuthenticatedNotification}};

    explicit Account(const std::string& stem) : session(stem) {}

    SrvComm& engine() { return *session.engine; }
    std::string owner() const { return session.owner(); }

    // Queued under the engine's lock, as LoggedIn::run does.
    template <class Queue>
    void run(Queue queue) {
        recorder.clear();
        session.newRequests();
        {
            std::lock_guard lock(engine().mutex());
            queue(engine());
        }
        EXPECT_TRUE(recorder.waitIdle());
    }
    // "name:result" of what the last run posted, "Started" and the login's
    // "InProgress" left out.
    Lines lines() const { return recorder.lines({tree::kStarted, auth::kInProgress}); }

    devserver::Item seed(const OracleItem& item, const std::string& parent,
                         ItemKind kind = ItemKind::directory) {
        return session.seed(item, parent, kind);
    }
    std::string create(const std::string& name, const std::optional<std::string>& parent) {
        run([&](SrvComm& e) { e.directory_create(name, parent, std::nullopt); });
        const auto created = recorder.last(tree::kNewRemoteDirectoryCreatedNotification);
        const auto* uuid = created ? created->data<tree::ItemUuidPayload>() : nullptr;
        EXPECT_TRUE(uuid);
        return uuid ? *uuid : std::string();
    }
    // The tree the last run posted.
    tree::DirectoryTree postedTree() const {
        const auto posted = recorder.last(tree::kGetDirectoryTreeTerminatedNotification);
        const auto* payload = posted ? posted->data<tree::DirectoryTreePayload>() : nullptr;
        EXPECT_TRUE(payload);
        if (!payload) return {};
        return std::any_cast<tree::DirectoryTree>(payload->at(tree::kTreeKey));
    }
    // The stored metadata of the owner's item, opened by the oracle.
    std::optional<nlohmann::json> storedMetadata(const std::string& uuid) const {
        const auto stored = server().items().find(owner(), uuid);
        if (!stored) return std::nullopt;
        return session.oracle().openMetadata(stored->itemkey, stored->metadata);
    }
};

std::string postedUuid(const Posted& posted) {
    if (const auto* entries = posted.data<tree::TaggedPayload>())
        return std::any_cast<std::string>(entries->at(tree::kUuidKey));
    if (const auto* bare = posted.data<tree::ItemUuidPayload>()) return *bare;
    return {};
}

TEST(FolderChanges, ARenameSealsTheNewNameUnderTheSameKeyAndSendsThatKeyWrapped) {
    server();
    Account account("rename");
    const auto oracle = account.session.oracle();
    const OracleItem a = folderItem("Old", "2020-05-06T07:08:09Z");
    const auto stored = account.seed(a, "root");

    const sys_seconds before = nowSeconds();
    std::string jobID;
    account.run(
        [&](SrvComm& e) { jobID = e.directory_modify(stored.uuid, std::nullopt, "New", "t"); });
    const sys_seconds after = nowSeconds();
    EXPECT_EQ(account.lines(), Lines{kModified});
    const auto posted = *account.recorder.last(tree::kDirectoryPropertiesModifiedNotification);
    const auto* payload = posted.data<tree::TaggedPayload>();
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->size(), 2u);
    EXPECT_EQ(std::any_cast<std::string>(payload->at(tree::kSourceKey)), "t");
    EXPECT_EQ(postedUuid(posted), stored.uuid);
    const auto job = account.engine().queue()->getJobData(jobID);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->jobType, JobType::directoryModify);
    EXPECT_EQ(job->jobSteps, 2u);

    const auto requests = account.session.newRequests();
    ASSERT_EQ(requestLines(requests),
              (Lines{"GET /dir/modify_prepare/", "PUT /dir/modify_execute/"}));
    for (const auto& r : requests) {
        EXPECT_EQ(r.values("x-sb-item-uuid"), Lines{stored.uuid}) << r.path;
        EXPECT_FALSE(r.has("x-sb-parent-uuid")) << r.path;
    }
    // The key goes back wrapped under the master key, never as clear key
    // bytes, and it is the folder's own key.
    const auto body = nlohmann::json::parse(requests[1].body);
    ASSERT_TRUE(body["itemkey"].is_string());
    const auto sentKey = oracle.unwrapItemKey(body["itemkey"].get<std::string>());
    ASSERT_TRUE(sentKey);
    EXPECT_EQ(*sentKey, a.itemKey);
    const auto inClear = nlohmann::json::parse(body["itemkey"].get<std::string>());
    EXPECT_NE(devserver::base64Decode(inClear["key"].get<std::string>()), oracle.keyBytes(a));

    // What the server keeps: the new name, the creation date as it was, a
    // new modification date; the same item key.
    const auto kept = server().items().find(account.owner(), stored.uuid);
    ASSERT_TRUE(kept);
    EXPECT_EQ(oracle.unwrapItemKey(kept->itemkey), a.itemKey);
    const auto metadata = account.storedMetadata(stored.uuid);
    ASSERT_TRUE(metadata);
    EXPECT_EQ((*metadata)["name"], "New");
    EXPECT_EQ((*metadata)["creationDate"], "2020-05-06T07:08:09Z");
    const auto modified = wholeSecondDate((*metadata)["modificationDate"]);
    ASSERT_TRUE(modified);
    EXPECT_LE(before, *modified);
    EXPECT_LE(*modified, after);

    // The parent's listing shows it under the new name.
    testsupport::NotificationRecorder listings(account.engine().notifications(),
                                               {tree::kQueryRemoteDirectoryContentNotification});
    account.run([](SrvComm& e) { e.directory_getInfo("root", std::nullopt); });
    const auto listed = listings.last(tree::kQueryRemoteDirectoryContentNotification);
    ASSERT_TRUE(listed);
    const auto* listing = listed->data<tree::DirInfoPayload>();
    ASSERT_TRUE(listing && *listing);
    ASSERT_EQ((*listing)->content.size(), 1u);
    EXPECT_EQ((*listing)->content[0].metadata.name, "New");
}

// Metadata that does not open is read as the placeholder, and the rename
// builds on it, its creation date included.
TEST(FolderChanges, ARenameOfUnreadableMetadataBuildsOnThePlaceholder) {
    server();
    Account account("placeholder");
    OracleItem spoiled = folderItem("Hidden");
    spoiled.metadataKey = testsupport::oracleRandom(32);
    const auto stored = account.seed(spoiled, "root");

    const sys_seconds before = nowSeconds();
    account.run([&](SrvComm& e) {
        e.directory_modify(stored.uuid, std::nullopt, "Readable", std::nullopt);
    });
    const sys_seconds after = nowSeconds();
    EXPECT_EQ(account.lines(), Lines{kModified});
    const auto metadata = account.storedMetadata(stored.uuid);
    ASSERT_TRUE(metadata);
    EXPECT_EQ((*metadata)["name"], "Readable");
    const auto created = wholeSecondDate((*metadata)["creationDate"]);
    ASSERT_TRUE(created);
    EXPECT_LE(before, *created);
    EXPECT_LE(*created, after);
}

TEST(FolderChanges, MovesAndDeletionsSendTheirHeadersAndTheServerFollows) {
    server();
    Account account("forms");
    const std::string a = account.seed(folderItem("A"), "root").uuid;
    const std::string b = account.seed(folderItem("B"), a).uuid;
    const std::string c = account.seed(folderItem("C"), b).uuid;
    const std::string file = account.seed(folderItem("f"), c, ItemKind::file).uuid;
    const std::string s = account.seed(folderItem("S"), "root").uuid;
    auto parentOf = [&](const std::string& uuid) {
        return server().items().find(account.owner(), uuid)->parent;
    };

    // A move alone: one PUT with no body at all.
    account.run([&](SrvComm& e) { e.directory_modify(b, s, std::nullopt, "t"); });
    EXPECT_EQ(account.lines(), Lines{kModified});
    auto requests = account.session.newRequests();
    ASSERT_EQ(requestLines(requests), Lines{"PUT /dir/modify_execute/"});
    EXPECT_TRUE(requests[0].body.empty());
    EXPECT_EQ(requests[0].values("Content-Type"), Lines{"application/json"});
    EXPECT_EQ(requests[0].values("x-sb-payload-sha256"), Lines{kEmptyDigest});
    EXPECT_EQ(requests[0].values("x-sb-parent-uuid"), Lines{s});
    EXPECT_EQ(requests[0].values("x-sb-item-uuid"), Lines{b});
    EXPECT_TRUE(requests[0].has("x-sb-sessionid"));
    EXPECT_EQ(parentOf(b), s);
    EXPECT_EQ(parentOf(c), b);

    // Neither name nor destination: the same PUT, no parent header, nothing changed.
    const auto untouched = *server().items().find(account.owner(), b);
    account.run(
        [&](SrvComm& e) { e.directory_modify(b, std::nullopt, std::nullopt, std::nullopt); });
    EXPECT_EQ(account.lines(), Lines{kModified});
    requests = account.session.newRequests();
    ASSERT_EQ(requestLines(requests), Lines{"PUT /dir/modify_execute/"});
    EXPECT_TRUE(requests[0].body.empty());
    EXPECT_FALSE(requests[0].has("x-sb-parent-uuid"));
    EXPECT_EQ(server().items().find(account.owner(), b)->metadata, untouched.metadata);

    // Rename and move in one job: the parent goes with the execute only.
    account.run([&](SrvComm& e) { e.directory_modify(b, a, "B2", std::nullopt); });
    EXPECT_EQ(account.lines(), Lines{kModified});
    requests = account.session.newRequests();
    ASSERT_EQ(requestLines(requests),
              (Lines{"GET /dir/modify_prepare/", "PUT /dir/modify_execute/"}));
    EXPECT_FALSE(requests[0].has("x-sb-parent-uuid"));
    EXPECT_EQ(requests[1].values("x-sb-parent-uuid"), Lines{a});
    EXPECT_EQ(parentOf(b), a);
    EXPECT_EQ((*account.storedMetadata(b))["name"], "B2");

    // Into a folder below itself: refused, nothing moved.
    account.run([&](SrvComm& e) { e.directory_modify(a, c, std::nullopt, std::nullopt); });
    EXPECT_EQ(account.lines(), Lines{kModifyError});
    ASSERT_TRUE(account.recorder.all().back().httpError);
    EXPECT_EQ(account.recorder.all().back().httpError->exception, "BadRequestException");
    EXPECT_EQ(parentOf(a), "root");

    // A folder with something in it stays without "recursive".
    account.run([&](SrvComm& e) { e.directory_delete(a, false, "t"); });
    EXPECT_EQ(account.lines(), Lines{kDeleteError});
    const auto refused = account.recorder.all().back();
    ASSERT_TRUE(refused.httpError);
    EXPECT_EQ(refused.httpError->exception, "DirectoryNotEmptyException");
    EXPECT_TRUE(refused.noData());
    requests = account.session.newRequests();
    ASSERT_EQ(requestLines(requests), Lines{"DELETE /dir/"});
    EXPECT_EQ(requests[0].values("x-sb-recursive"), Lines{"false"});
    EXPECT_EQ(server().items().itemsOf(account.owner()).size(), 5u);

    // With it, the whole subtree goes, the file included; S stays.
    std::string jobID;
    account.run([&](SrvComm& e) { jobID = e.directory_delete(a, true, "t"); });
    EXPECT_EQ(account.lines(), Lines{kDeleted});
    EXPECT_EQ(postedUuid(account.recorder.all().back()), a);
    requests = account.session.newRequests();
    ASSERT_EQ(requestLines(requests), Lines{"DELETE /dir/"});
    EXPECT_EQ(requests[0].values("x-sb-recursive"), Lines{"true"});
    EXPECT_EQ(requests[0].values("x-sb-item-uuid"), Lines{a});
    const auto left = server().items().itemsOf(account.owner());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].uuid, s);
    EXPECT_FALSE(server().items().find(account.owner(), file));
    EXPECT_EQ(account.engine().queue()->getJobData(jobID)->jobSteps, 1u);

    // An empty folder goes without it.
    account.run([&](SrvComm& e) { e.directory_delete(s, false, std::nullopt); });
    EXPECT_EQ(account.lines(), Lines{kDeleted});
    EXPECT_TRUE(server().items().itemsOf(account.owner()).empty());
}

// The rename's preparation stops the job, saying why, before its execute
// when the answer gives nothing to build on.
TEST(FolderChanges, APrepareAnswerWithoutTheFoldersEntryEndsTheRenameBeforeItsExecute) {
    server();
    Account account("prepare");
    const auto oracle = account.session.oracle();
    const std::string a = account.seed(folderItem("A"), "root").uuid;
    OracleItem other = folderItem("Other");
    other.uuid = "another-folder";
    OracleItem self = folderItem("A");
    self.uuid = a;
    struct Case {
        const char* what;
        std::string body;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"no entry of its own", oracle.body(std::nullopt, {}).dump(),
         "No valid answer on decoded structure: the answer has no entry for the folder itself"},
        {"another folder's entry", oracle.body(other, {}).dump(),
         "No valid answer on decoded structure: the answer's entry is for another folder"},
        {"a master key that does not open",
         [&] {
             auto body = oracle.body(self, {});
             body["umk"] = testsupport::oracleWrap(testsupport::oracleRandom(48),
                                                   testsupport::oracleRandom(32));
             return body.dump();
         }(),
         "No valid answer on decoded structure: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        devserver::Fault fault;
        fault.rawBody = c.body;
        fault.contentType = "application/json";
        server().setFault("GET", "/dir/modify_prepare/", fault);
        account.run([&](SrvComm& e) { e.directory_modify(a, std::nullopt, "New", "t"); });
        server().clearFault("GET", "/dir/modify_prepare/");
        EXPECT_EQ(account.lines(), Lines{kModifyError});
        EXPECT_TRUE(account.recorder.all().back().noData());
        EXPECT_EQ(lastError(account.engine()).value_or("").rfind(c.error, 0), 0u)
            << lastError(account.engine()).value_or("");
        EXPECT_EQ(requestLines(account.session.newRequests()), Lines{"GET /dir/modify_prepare/"});
    }
    EXPECT_EQ((*account.storedMetadata(a))["name"], "A");

    // An execute with a name that nothing prepared sends nothing.
    const std::string url = account.engine().urlToUse();
    account.run([&](SrvComm& e) {
        std::lock_guard lock(e.mutex());
        e.queue()->addNewJob(
            JobType::directoryModify, 2, JobPriority::Normal,
            std::make_shared<DirectoryWorksContext>(
                a, std::nullopt, std::nullopt, "New", url, JobsSteps::directory_modifyExecute,
                tree::kDirectoryPropertiesModifiedNotification, std::nullopt),
            std::nullopt, std::nullopt);
    });
    EXPECT_EQ(account.lines(), Lines{kModifyError});
    EXPECT_EQ(lastError(account.engine()), "The folder rename has no metadata of the folder");
    EXPECT_TRUE(account.session.newRequests().empty());
}

// Root ─ A ─ B ─ C
//        │   └ b.txt
//        ├ a.txt
//        └ D
TEST(FolderChanges, ATreeOfCreatedFoldersAndSeededFilesComesInTheServersOrderDecrypted) {
    server();
    Account account("tree");
    const std::string a = account.create("A", std::nullopt);
    const std::string b = account.create("B", a);
    const std::string c = account.create("C", b);
    const std::string bFile = account.seed(folderItem("b.txt"), b, ItemKind::file).uuid;
    const std::string aFile = account.seed(folderItem("a.txt"), a, ItemKind::file).uuid;
    const std::string d = account.create("D", a);

    std::string jobID;
    account.run([&](SrvComm& e) { jobID = e.directory_getTree("root", false, "ALL", "t"); });
    EXPECT_EQ(account.lines(), Lines{kTreeAvailable});
    const auto job = account.engine().queue()->getJobData(jobID);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->jobType, JobType::getDirectoryTree);
    EXPECT_EQ(job->jobSteps, 2u);
    const auto posted = *account.recorder.last(tree::kGetDirectoryTreeTerminatedNotification);
    EXPECT_FALSE(posted.httpError);
    const auto* payload = posted.data<tree::DirectoryTreePayload>();
    ASSERT_TRUE(payload);
    EXPECT_EQ(std::any_cast<std::string>(payload->at(tree::kSourceKey)), "t");
    EXPECT_EQ(std::any_cast<std::string>(payload->at(tree::kTopUUIDKey)), "root");
    auto requests = account.session.newRequests();
    ASSERT_EQ(requestLines(requests), Lines{"GET /dir/tree/"});
    EXPECT_EQ(requests[0].values("x-sb-item-uuid"), Lines{"root"});
    EXPECT_EQ(requests[0].values("x-sb-lazy"), Lines{"false"});
    EXPECT_EQ(requests[0].values("x-sb-treetype"), Lines{"ALL"});

    // "uuid name kind (children)" of a tree, depth first.
    std::function<std::string(const tree::DirectoryTree&)> shape =
        [&](const tree::DirectoryTree& nodes) {
            std::string out;
            for (const auto& n : nodes) {
                const char* kind = n->type == RemoteDirectoryBranch::LeafType::directory ? "dir"
                                   : n->type == RemoteDirectoryBranch::LeafType::file    ? "file"
                                                                                      : "unknown";
                out += n->uuid + " " + n->metadata.name + " " + kind + " (" + shape(n->branches) +
                       ") ";
            }
            return out;
        };
    auto entry = [](const std::string& uuid, const std::string& name, const char* kind,
                    const std::string& inside) {
        return uuid + " " + name + " " + kind + " (" + inside + ") ";
    };
    EXPECT_EQ(
        shape(account.postedTree()),
        entry(a, "A", "dir",
              entry(b, "B", "dir", entry(c, "C", "dir", "") + entry(bFile, "b.txt", "file", "")) +
                  entry(aFile, "a.txt", "file", "") + entry(d, "D", "dir", "")));

    // Any other type than "ALL" asks for folders only.
    account.run([&](SrvComm& e) { e.directory_getTree(a, false, "all", "t"); });
    EXPECT_EQ(account.lines(), Lines{kTreeAvailable});
    requests = account.session.newRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].values("x-sb-treetype"), Lines{"DIRECTORY"});
    EXPECT_EQ(shape(account.postedTree()),
              entry(b, "B", "dir", entry(c, "C", "dir", "")) + entry(d, "D", "dir", ""));
}

TEST(FolderChanges, AFolderTwoHundredLevelsDownArrivesWhole) {
    server();
    Account account("deep");
    std::string parent = "root";
    std::vector<std::string> chain;
    for (int level = 0; level < 200; ++level) {
        parent = account.seed(folderItem("level " + std::to_string(level)), parent).uuid;
        chain.push_back(parent);
    }
    account.run([](SrvComm& e) { e.directory_getTree("root", false, "ALL", "t"); });
    EXPECT_EQ(account.lines(), Lines{kTreeAvailable});
    tree::DirectoryTree level = account.postedTree();
    for (std::size_t i = 0; i < chain.size(); ++i) {
        ASSERT_EQ(level.size(), 1u) << "level " << i;
        EXPECT_EQ(level[0]->uuid, chain[i]);
        EXPECT_EQ(level[0]->metadata.name, "level " + std::to_string(i));
        level = tree::DirectoryTree(level[0]->branches);
    }
    EXPECT_TRUE(level.empty());
}

// Tree answers made by the test (keys and metadata by OpenSSL) in place of
// the server's.
class TreeAnswers : public testing::Test {
  protected:
    void SetUp() override {
        server();
        account_ = std::make_unique<Account>("tree-answer");
        oracle_ = account_->session.oracle();
    }
    void TearDown() override { server().clearFault("GET", "/dir/tree/"); }

    // One {"itemUUID", "itemkey", "metadata"} entry for `item`.
    nlohmann::json entry(const std::string& uuid, const OracleItem& item) const {
        return {{"itemUUID", uuid},
                {"itemkey", oracle_.wrappedItemKey(item)},
                {"metadata", devserver::base64Encode(oracle_.sealedMetadata(item))}};
    }
    static nlohmann::json node(const std::string& uuid, const std::string& type,
                               nlohmann::json branches = {}) {
        return {{"itemUUID", uuid},
                {"type", type},
                {"branches", branches.is_null() ? nlohmann::json::array() : branches}};
    }
    // Runs a tree job answered with {"umk", "tree", "metadata"}.
    void answer(const nlohmann::json& tree, const nlohmann::json& metadata) {
        answerRaw(
            nlohmann::json{{"umk", oracle_.wrappedUmk()}, {"tree", tree}, {"metadata", metadata}}
                .dump());
    }
    void answerRaw(const std::string& body) {
        devserver::Fault fault;
        fault.rawBody = body;
        fault.contentType = "application/json";
        server().setFault("GET", "/dir/tree/", fault);
        account_->run([](SrvComm& e) { e.directory_getTree("root", false, "ALL", "t"); });
        EXPECT_EQ(requestLines(account_->session.newRequests()), Lines{"GET /dir/tree/"});
    }
    void expectFailed(const std::string& error) const {
        EXPECT_EQ(account_->lines(), Lines{kTreeError});
        EXPECT_TRUE(account_->recorder.all().back().noData());
        EXPECT_EQ(lastError(account_->engine()), error);
    }

    std::unique_ptr<Account> account_;
    testsupport::ListingOracle oracle_;
};

TEST_F(TreeAnswers, AnUnknownKindKeepsItsMetadataAndChildrenAndALaterDuplicateEntryWins) {
    const OracleItem first = folderItem("first name");
    const OracleItem second = folderItem("second name");
    const OracleItem child = folderItem("child");
    answer(nlohmann::json::array({node("X", "LINK", nlohmann::json::array({node("Y", "FILE")}))}),
           nlohmann::json::array({entry("X", first), entry("Y", child), entry("X", second)}));
    EXPECT_EQ(account_->lines(), Lines{kTreeAvailable});
    const auto tree = account_->postedTree();
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0]->type, RemoteDirectoryBranch::LeafType::unknown);
    EXPECT_EQ(tree[0]->metadata.name, "second name");
    ASSERT_EQ(tree[0]->branches.size(), 1u);
    EXPECT_EQ(tree[0]->branches[0]->uuid, "Y");
    EXPECT_EQ(tree[0]->branches[0]->type, RemoteDirectoryBranch::LeafType::file);
    EXPECT_EQ(tree[0]->branches[0]->metadata.name, "child");
}

TEST_F(TreeAnswers, AnEmptyTreeIsAnEmptyListYetItsEntriesMustStillOpen) {
    answer(nlohmann::json::array(), nlohmann::json::array({entry("X", folderItem("unused"))}));
    EXPECT_EQ(account_->lines(), Lines{kTreeAvailable});
    EXPECT_TRUE(account_->postedTree().empty());

    OracleItem spoiled = folderItem("spoiled");
    spoiled.metadataKey = testsupport::oracleRandom(32);
    answer(nlohmann::json::array(), nlohmann::json::array({entry("X", spoiled)}));
    expectFailed(kUndecryptableTree);
}

// One entry that does not open, a node without an entry, or a master key
// under another password: the whole tree fails, as an error, not an abort.
TEST_F(TreeAnswers, OneBadEntryOrANodeWithoutOneFailsTheWholeTree) {
    OracleItem spoiled = folderItem("spoiled");
    spoiled.metadataKey = testsupport::oracleRandom(32);
    const OracleItem good = folderItem("good");
    nlohmann::json wrongKeyText = entry("Y", good);
    wrongKeyText["itemkey"] = testsupport::oracleWrap(good.itemKey, testsupport::oracleRandom(32));
    nlohmann::json shortKey = entry("Y", good);
    shortKey["itemkey"] =
        testsupport::oracleWrap(testsupport::oracleRandom(32), oracle_.umkKeyBytes());
    struct Case {
        const char* what;
        nlohmann::json tree;
        nlohmann::json metadata;
    };
    const auto twoNodes = nlohmann::json::array({node("X", "DIRECTORY"), node("Y", "FILE")});
    const std::vector<Case> cases = {
        {"metadata under another key", twoNodes,
         nlohmann::json::array({entry("X", good), entry("Y", spoiled)})},
        {"an item key under another key", twoNodes,
         nlohmann::json::array({entry("X", good), wrongKeyText})},
        {"an item key of the wrong size", twoNodes,
         nlohmann::json::array({entry("X", good), shortKey})},
        {"a node without an entry",
         nlohmann::json::array(
             {node("X", "DIRECTORY", nlohmann::json::array({node("Z", "FILE")}))}),
         nlohmann::json::array({entry("X", good)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        answer(c.tree, c.metadata);
        expectFailed(kUndecryptableTree);
    }
    answerRaw(
        nlohmann::json{{"umk", testsupport::oracleWrap(oracle_.umk, testsupport::oracleRandom(32))},
                       {"tree", twoNodes},
                       {"metadata", nlohmann::json::array({entry("X", good), entry("Y", good)})}}
            .dump());
    expectFailed(kUndecryptableTree);
}

TEST_F(TreeAnswers, ABodyNestedBeyondTheParsersBoundFailsWithoutExhaustingTheStack) {
    std::string body = R"({"umk":"x","metadata":[],"tree":)";
    const std::size_t depth = json::kMaxDepth + 10;
    for (std::size_t i = 0; i < depth; ++i)
        body += R"([{"itemUUID":"n","type":"DIRECTORY","branches":)";
    body += "[]";
    for (std::size_t i = 0; i < depth; ++i) body += "}]";
    answerRaw(body + "}");
    EXPECT_EQ(account_->lines(), Lines{kTreeError});
    EXPECT_TRUE(account_->recorder.all().back().noData());
    EXPECT_TRUE(lastError(account_->engine()));
}

TEST(FolderChanges, ATreeQueryOnAnExpiredSessionRunsOnceMoreAfterTheLogin) {
    server();
    Account account("tree-expired");
    const std::string a = account.seed(folderItem("A"), "root").uuid;
    devserver::Fault expired = devserver::Fault::sessionExpired();
    expired.times = 1;
    server().setFault("GET", "/dir/tree/", expired);
    account.run([](SrvComm& e) { e.directory_getTree("root", false, "ALL", "t"); });
    server().clearFault("GET", "/dir/tree/");
    EXPECT_EQ(account.lines(), (Lines{"SRPAuthenticated:Authenticated", kTreeAvailable}));
    EXPECT_EQ(
        requestLines(account.session.newRequests()),
        (Lines{"GET /dir/tree/", "GET /authenticate/", "POST /authenticate/", "GET /dir/tree/"}));
    const auto tree = account.postedTree();
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0]->uuid, a);
}

TEST(FolderChanges, AnAbortedTreeJobPostsErrorAndTheOthersAborted) {
    server();
    Account account("abort");
    const std::string a = account.seed(folderItem("A"), "root").uuid;
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("GET", "/dir/tree/", stall);
    account.recorder.clear();
    std::string treeJob;
    std::string deletion;
    {
        std::lock_guard lock(account.engine().mutex());
        treeJob = account.engine().directory_getTree("root", false, "ALL", "t");
        deletion = account.engine().directory_delete(a, true, "t");
    }
    ASSERT_TRUE(server().waitForStalledRequests(1, std::chrono::seconds(30)));
    const auto accepted = account.engine().abortJobs({treeJob, deletion});
    EXPECT_TRUE(accepted.at(treeJob));
    EXPECT_TRUE(accepted.at(deletion));
    server().releaseStalls();
    ASSERT_TRUE(account.recorder.waitIdle());
    server().clearFault("GET", "/dir/tree/");
    EXPECT_EQ(account.lines(), (Lines{"directoryDeleted:Aborted", kTreeError}));
    EXPECT_TRUE(server().items().find(account.owner(), a));
}

}  // namespace
}  // namespace ostrelcomm
