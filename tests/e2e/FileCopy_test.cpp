// The copy of one remote file by a real engine against the in-process
// stand-in server: the user's own file and one shared with the user (keys
// made with OpenSSL and libsodium), the body the execute sends and the key
// in it unwrapped with OpenSSL under the user's own master key, what the
// server keeps of the copy, and prepare answers that lack a key.

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FileTestSupport.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"

namespace ostrelcomm {
namespace {

using namespace filetest;
using testsupport::lastError;
using Sent = devserver::RecordedRequest;

constexpr char kCopied[] = "fileCopy:Copied";
constexpr char kCopyError[] = "fileCopy:Error";
constexpr char kPrepare[] = "GET /file/copy_prepare/";
constexpr char kExecute[] = "PUT /file/copy_execute/";

// A file session that also records the copy's notifications.
struct CopySession : FileSession {
    testsupport::NotificationRecorder copies{engine->notifications(), {tree::kFileCopyNotification}};
    explicit CopySession(const std::string& stem) : FileSession("copy-" + stem) {}

    Lines lines() const { return copies.lines({tree::kStarted}); }
    // Files of this account that `before` did not have.
    std::vector<devserver::Item> newFiles(const std::vector<devserver::Item>& before) const {
        std::set<std::string> known;
        for (const auto& item : before) known.insert(item.uuid);
        std::vector<devserver::Item> out;
        for (const auto& item : server().items().itemsOf(owner()))
            if (!known.count(item.uuid) && item.kind == devserver::ItemKind::file) out.push_back(item);
        return out;
    }
};

ListingOracle::Item fileItem(const std::string& name) {
    ListingOracle::Item item;
    item.orig_size = 100;
    item.attrib = {"x"};
    item.metadata = testsupport::metadataText(name);
    return item;
}

// Gives a seeded file one stored block, as an upload would have left it.
void storeOneBlock(const CopySession& session, const std::string& uuid, const std::string& body) {
    devserver::DataFolder& data = server().dataFolder();
    data.placeBlock(data.stageBlock(uuid, 0, body), uuid, 0);
    ASSERT_TRUE(server().items().modify(session.owner(), uuid, [&](devserver::Item& it) {
        it.chunks = {devserver::Chunk{0, 99, std::string(64, 'c')}};
        it.treehash = std::string(64, 'd');
    }));
}

bool logged(const SrvComm& engine, const std::string& text) {
    for (const auto& event : engine.comLog().events())
        if (event.type == Logger::EvtType::info && event.description == text) return true;
    return false;
}

TEST(FileCopy, AnOwnFileIsCopiedUnderTheUsersMasterKeyWithItsContentOfItsOwn) {
    server();
    CopySession session("own");
    const auto folder = session.seedFolder("D");
    const auto item = fileItem("Notes.txt");
    const auto file = session.seedFile(item, devserver::kRootFolder, testsupport::thumbnailText("image/png", {1, 2}));
    storeOneBlock(session, file.uuid, std::string(112, 'b'));
    const auto source = *session.stored(file.uuid);
    const auto before = server().items().itemsOf(session.owner());

    std::string jobID;
    session.run([&](SrvComm& e) { jobID = e.file_copy(file.uuid, folder.uuid); });
    EXPECT_EQ(session.copies.all().front().result, tree::kStarted);
    EXPECT_EQ(session.lines(), Lines{kCopied});
    const Posted done = session.copies.all().back();
    EXPECT_TRUE(done.hasAllKeys);
    EXPECT_TRUE(done.noData());
    EXPECT_FALSE(done.httpError);
    const auto job = session.engine->queue()->getJobData(jobID);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->jobType, JobType::fileCopy);
    EXPECT_EQ(job->jobSteps, 2u);
    EXPECT_EQ(job->actStep, 2u);
    EXPECT_EQ(job->priority, JobPriority::Normal);
    EXPECT_TRUE(logged(*session.engine, "Copying " + file.uuid + " remote file to " + folder.uuid));

    const auto sent = session.newRequests();
    ASSERT_EQ(requestLines(sent), (Lines{kPrepare, kExecute}));
    for (const auto& r : sent) EXPECT_EQ(r.values("x-sb-item-uuid"), Lines{file.uuid});
    const auto body = nlohmann::json::parse(sent[1].body);
    EXPECT_EQ(keysOf(body), (std::set<std::string>{"parentUUID", "itemkey"}));
    EXPECT_EQ(body["parentUUID"], folder.uuid);

    const auto made = session.newFiles(before);
    ASSERT_EQ(made.size(), 1u);
    const devserver::Item& copy = made.front();
    EXPECT_EQ(copy.parent, folder.uuid);
    EXPECT_EQ(copy.itemkey, body["itemkey"].get<std::string>());
    // A fresh wrap of the same 48 bytes, under the user's own master key.
    EXPECT_NE(copy.itemkey, source.itemkey);
    EXPECT_EQ(session.oracle().unwrapItemKey(copy.itemkey), item.itemKey);
    EXPECT_EQ(copy.metadata, source.metadata);
    EXPECT_EQ(copy.thumbnail, source.thumbnail);
    EXPECT_EQ(copy.size, source.size);
    EXPECT_EQ(copy.treehash, source.treehash);

    // Deleting the source leaves the copy's content whole.
    session.run([&](SrvComm& e) { e.file_delete(file.uuid); });
    EXPECT_FALSE(session.stored(file.uuid));
    EXPECT_EQ(server().dataFolder().readBlock(copy.uuid, 0), std::string(112, 'b'));
    session.newRequests();

    // No destination: the top of the tree.
    const auto second = session.seedFile(fileItem("Other.txt"));
    const auto beforeSecond = server().items().itemsOf(session.owner());
    session.copies.clear();
    session.run([&](SrvComm& e) { e.file_copy(second.uuid, std::nullopt); });
    EXPECT_EQ(session.lines(), Lines{kCopied});
    EXPECT_TRUE(logged(*session.engine, "Copying " + second.uuid + " remote file to root"));
    const auto rootSent = session.newRequests();
    ASSERT_EQ(rootSent.size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(rootSent[1].body)["parentUUID"], "root");
    const auto atRoot = session.newFiles(beforeSecond);
    ASSERT_EQ(atRoot.size(), 1u);
    EXPECT_EQ(atRoot.front().parent, devserver::kRootFolder);
}

TEST(FileCopy, AFileSharedWithTheUserIsCopiedIntoTheUsersTreeUnderItsOwnMasterKey) {
    server();
    CopySession alice("owner");
    CopySession bob("reader");
    const auto item = fileItem("Shared.txt");
    const auto file = alice.seedFile(item);
    ASSERT_TRUE(grantFile(alice, item, file.uuid, bob));
    const auto before = server().items().itemsOf(bob.owner());

    bob.run([&](SrvComm& e) { e.file_copy(file.uuid, std::nullopt); });
    EXPECT_EQ(bob.lines(), Lines{kCopied});
    const auto made = bob.newFiles(before);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made.front().owner, bob.owner());
    EXPECT_EQ(made.front().parent, devserver::kRootFolder);
    EXPECT_EQ(bob.oracle().unwrapItemKey(made.front().itemkey), item.itemKey);
    EXPECT_EQ(made.front().metadata, file.metadata);
    // The source stays the owner's, as it was.
    EXPECT_EQ(alice.stored(file.uuid)->itemkey, file.itemkey);
}

// Prepare answers without a key the copy needs end the job before anything
// is sent to be copied; a destination the server does not know ends it with
// the server's refusal.
TEST(FileCopy, AMissingKeyOrAnUnknownDestinationCopiesNothing) {
    server();
    CopySession session("refused");
    const auto file = session.seedFile(fileItem("Kept.txt"));
    const devserver::User account = session.account();
    struct Row {
        const char* what;
        std::optional<std::string> umk;
        bool pubshkey;
        bool privshkey;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"no umk", std::nullopt, false, false, "Unable to decrypt user's key: unableToDecryptUserPrivateKey"},
        {"only privshkey", account.umk, false, true, "Unable to decrypt file key: ownerPublicKeyNotPresent"},
        {"only pubshkey", account.umk, true, false, "Unable to decrypt file key: userPrivateKeyNotPresent"},
    };
    const auto before = server().items().itemsOf(session.owner());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        nlohmann::json answer{{"itemUUID", file.uuid}, {"fileSize", 100}, {"itemkey", file.itemkey}};
        if (row.umk) answer["umk"] = *row.umk;
        if (row.pubshkey) answer["pubshkey"] = devserver::base64Encode(account.pubshkey);
        if (row.privshkey) answer["privshkey"] = account.privshkey;
        devserver::Fault fault;
        fault.rawBody = answer.dump();
        fault.contentType = "application/json";
        server().setFault("GET", "/file/copy_prepare/", fault);
        session.copies.clear();
        session.run([&](SrvComm& e) { e.file_copy(file.uuid, std::nullopt); });
        server().clearFault("GET", "/file/copy_prepare/");
        EXPECT_EQ(session.lines(), Lines{kCopyError});
        EXPECT_EQ(lastError(*session.engine), row.message);
        EXPECT_EQ(requestLines(session.newRequests()), Lines{kPrepare});
    }

    session.copies.clear();
    session.run([&](SrvComm& e) { e.file_copy(file.uuid, std::string("no-such-folder")); });
    EXPECT_EQ(session.lines(), Lines{kCopyError});
    const auto refused = session.copies.last(tree::kFileCopyNotification);
    ASSERT_TRUE(refused && refused->httpError);
    EXPECT_EQ(refused->httpError->exception, "ItemNotFoundException");
    EXPECT_EQ(requestLines(session.newRequests()), (Lines{kPrepare, kExecute}));
    EXPECT_EQ(server().items().itemsOf(session.owner()).size(), before.size());
}

}  // namespace
}  // namespace ostrelcomm
