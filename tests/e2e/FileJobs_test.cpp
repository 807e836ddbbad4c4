// The file information, modification and deletion jobs of a real engine
// against the in-process stand-in server: files seeded as another client
// would have stored them (keys and sealed records made with OpenSSL, the key
// shared with a reader with libsodium), what the jobs post, the bodies they
// send opened with OpenSSL under the file key, what the server keeps
// afterwards, renewal of an expired session, and the ways they end in error.

#include <gtest/gtest.h>

#include <any>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FileTestSupport.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "json/StrictJson.h"
#include "tree/FileWorksContext.h"
#include "tree/RemoteDirInfo.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemThumbnail.h"

namespace ostrelcomm {
namespace {

using namespace filetest;
using testsupport::lastError;
using Sent = devserver::RecordedRequest;

constexpr char kReceived[] = "getFileInfo:Received";
constexpr char kInfoError[] = "getFileInfo:Error";
constexpr char kModified[] = "filePropertiesModification:Modified";
constexpr char kModifyError[] = "filePropertiesModification:Error";
constexpr char kDeleted[] = "deleteFile:Deleted";
constexpr char kDeleteError[] = "deleteFile:Error";
constexpr char kPrepare[] = "GET /file/modify_prepare/";
constexpr char kExecute[] = "PUT /file/modify_execute/";

const Bytes kImage{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13};
const Bytes kOtherImage{0xff, 0xd8, 0xff, 0xe0, 1, 2, 3};

std::chrono::sys_seconds date(const char* text) { return *json::parseDate(text); }

// A file's clear metadata as another client writes it.
nlohmann::json fileMetadata(const std::string& name) {
    return {{"name", name},
            {"creationDate", "2021-03-04T05:06:07Z"},
            {"modificationDate", "2022-01-02T03:04:05Z"},
            {"fileSize", 4321},
            {"mime", "text/plain"},
            {"treehash-SHA256", std::string(64, 'a')},
            {"filehash-SHA256", std::string(64, 'b')}};
}

ListingOracle::Item fileItem(const nlohmann::json& metadata, std::vector<std::string> attrib = {"x", "y z"}) {
    ListingOracle::Item item;
    item.orig_size = 4321;
    item.attrib = std::move(attrib);
    item.metadata = metadata.dump();
    return item;
}

RemoteItemMetadata renamed(const std::string& name) {
    RemoteItemMetadata metadata(name, date("2023-05-06T07:08:09Z"), date("2024-02-29T23:59:59Z"));
    metadata.fileSize = 4321;
    metadata.mime = "text/plain";
    return metadata;
}

// The clear JSON form of a record, for comparing with what was opened.
nlohmann::json clearForm(const Bytes& encoded) { return nlohmann::json::parse(toText(encoded)); }

// The job as the queue keeps it once it has ended, and the INFO event of its queuing.
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

void expectAbout(const std::vector<Sent>& requests, const std::string& uuid) {
    for (const auto& r : requests) EXPECT_EQ(r.values("x-sb-item-uuid"), Lines{uuid}) << r.path;
}

// The metadata of the last "getFileInfo", and its tag (NullObject when untagged).
struct Information {
    std::optional<RemoteItemMetadata> metadata;
    std::any source;
};

std::optional<Information> information(const FileRecorder& recorder) {
    const auto posted = recorder.last(tree::kGetFileInfoNotification);
    if (!posted) return std::nullopt;
    const auto* payload = posted->data<tree::FileInfoPayload>();
    if (!payload || payload->size() != 2 || !payload->count(tree::kSourceKey) || !payload->count(tree::kFileInfoKey))
        return std::nullopt;
    Information out;
    out.source = payload->at(tree::kSourceKey);
    if (const auto* metadata = std::any_cast<tree::FileInfoMetadata>(&payload->at(tree::kFileInfoKey)))
        out.metadata = *metadata;
    return out;
}

// The name the folder's listing shows for an item; absent when it is not listed.
std::optional<std::string> listedName(FileSession& session, const std::string& folder, const std::string& uuid) {
    testsupport::NotificationRecorder listings(session.engine->notifications(),
                                               {tree::kQueryRemoteDirectoryContentNotification});
    session.run([&](SrvComm& e) { e.directory_getInfo(folder, std::nullopt); });
    const auto posted = listings.last(tree::kQueryRemoteDirectoryContentNotification);
    if (!posted) return std::nullopt;
    const auto* listing = posted->data<tree::DirInfoPayload>();
    if (!listing || !*listing) return std::nullopt;
    for (const auto& item : (*listing)->content)
        if (item.uuid == uuid) return item.metadata.name;
    return std::nullopt;
}

TEST(FileJobs, AnOwnFilesInformationComesWithItsSeparateThumbnail) {
    server();
    FileSession session("info");
    const nlohmann::json metadata = fileMetadata("Notes.txt");
    const auto item = fileItem(metadata);
    const auto file = session.seedFile(item, devserver::kRootFolder, testsupport::thumbnailText("image/png", kImage));

    std::string jobID;
    session.run([&](SrvComm& e) { jobID = e.file_getFileInfo(file.uuid, "t"); });
    expectJob(*session.engine, jobID, JobType::getFileInfo, 1, "Asking for new informations about " + file.uuid);
    EXPECT_EQ(session.files.lines(), Lines{kReceived});
    const auto posted = session.files.all();
    EXPECT_EQ(posted.front().result, tree::kStarted);
    for (const auto& p : posted) EXPECT_TRUE(p.hasAllKeys);
    EXPECT_FALSE(posted.back().httpError);
    const auto sent = session.newRequests();
    EXPECT_EQ(requestLines(sent), Lines{"GET /file/info/"});
    expectAbout(sent, file.uuid);

    const auto tagged = information(session.files);
    ASSERT_TRUE(tagged && tagged->metadata);
    ASSERT_TRUE(std::any_cast<std::string>(&tagged->source));
    EXPECT_EQ(std::any_cast<std::string>(tagged->source), "t");
    // Every field as seeded; the thumbnail and its type from the thumbnail.
    RemoteItemMetadata withoutThumbnail = *tagged->metadata;
    EXPECT_EQ(withoutThumbnail.thumbnail, kImage);
    EXPECT_EQ(withoutThumbnail.thumbnailmime, "image/png");
    withoutThumbnail.thumbnail.reset();
    withoutThumbnail.thumbnailmime.reset();
    EXPECT_EQ(clearForm(withoutThumbnail.encode()), metadata);

    // Without a tag both keys are there, the tag the null object.
    session.files.clear();
    session.run([&](SrvComm& e) { e.file_getFileInfo(file.uuid, std::nullopt); });
    EXPECT_EQ(session.files.lines(), Lines{kReceived});
    const auto untagged = information(session.files);
    ASSERT_TRUE(untagged && untagged->metadata);
    EXPECT_TRUE(isNullObject(untagged->source));
    EXPECT_EQ(untagged->metadata, tagged->metadata);
}

TEST(FileJobs, AFileSharedWithTheReaderOpensThroughTheSharedKeyAndOnlyItsOwnerChangesIt) {
    server();
    FileSession alice("owner");
    FileSession bob("reader");
    const auto item = fileItem(fileMetadata("Shared.txt"));
    const auto file = alice.seedFile(item, devserver::kRootFolder, testsupport::thumbnailText("image/png", kImage));
    ASSERT_TRUE(grantFile(alice, item, file.uuid, bob));

    bob.run([&](SrvComm& e) { e.file_getFileInfo(file.uuid, "t"); });
    EXPECT_EQ(bob.files.lines(), Lines{kReceived});
    const auto info = information(bob.files);
    ASSERT_TRUE(info && info->metadata);
    EXPECT_EQ(info->metadata->name, "Shared.txt");
    EXPECT_EQ(info->metadata->thumbnail, kImage);

    // The reader may read it, not change it: the stand-in's refusal, without
    // a login, and the file as it was.
    bob.files.clear();
    bob.newRequests();
    bob.run([&](SrvComm& e) {
        e.file_delete(file.uuid);
        e.file_modify(file.uuid, std::nullopt, renamed("Mine.txt"), std::nullopt);
    });
    EXPECT_EQ(bob.files.lines(), (Lines{kDeleteError, kModifyError}));
    for (const auto& p : bob.files.all()) {
        if (p.result != tree::kError) continue;
        ASSERT_TRUE(p.httpError);
        EXPECT_EQ(p.httpError->exception, "AccessDeniedException");
        EXPECT_TRUE(p.noData());
    }
    EXPECT_EQ(requestLines(bob.newRequests()), (Lines{"DELETE /file/", kPrepare, kExecute}));
    const auto kept = alice.stored(file.uuid);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->metadata, file.metadata);
    EXPECT_EQ(kept->thumbnail, file.thumbnail);
}

// What each kind of modification sends, opened under the file key, and what
// the server then keeps and lists.
TEST(FileJobs, ModificationBodiesSealTheirPartsUnderTheFileKey) {
    server();
    FileSession session("modify");
    const auto folder = session.seedFolder("Destination");
    const std::string thumbnail = testsupport::thumbnailText("image/png", kImage);
    const RemoteItemThumbnail separate("image/webp", kOtherImage);
    RemoteItemMetadata carrying = renamed("Carrying.txt");
    carrying.thumbnailmime = "image/jpeg";
    carrying.thumbnail = kImage;
    RemoteItemMetadata mimeOnly = renamed("MimeOnly.txt");
    mimeOnly.thumbnailmime = "image/jpeg";

    struct Row {
        const char* what;
        std::vector<std::string> attrib;
        std::optional<std::string> storedThumbnail;
        bool move;
        std::optional<RemoteItemMetadata> newMetadata;
        std::optional<RemoteItemThumbnail> separate;
        std::set<std::string> keys;
        // The thumbnail the body carries: its type and image.
        std::optional<RemoteItemThumbnail> sentThumbnail;
    };
    const std::vector<Row> rows = {
        {"a rename", {"x", "y z"}, std::nullopt, false, renamed("Renamed.txt"), std::nullopt, {"attrib", "metadata"},
         std::nullopt},
        {"a pure move", {"x"}, std::nullopt, true, std::nullopt, std::nullopt, {"attrib", "parentUUID", "metadata"},
         std::nullopt},
        {"a pure move of a file with a thumbnail", {"x"}, thumbnail, true, std::nullopt, std::nullopt,
         {"attrib", "parentUUID", "metadata", "thumbnail"}, RemoteItemThumbnail("image/png", kImage)},
        {"metadata carrying a thumbnail, no attributes", {}, std::nullopt, false, carrying, std::nullopt,
         {"attrib", "metadata", "thumbnail"}, RemoteItemThumbnail("image/jpeg", kImage)},
        {"a separate thumbnail beside one in the metadata", {"x"}, thumbnail, true, carrying, separate,
         {"attrib", "parentUUID", "metadata", "thumbnail"}, separate},
        {"a thumbnail type without an image", {"x"}, std::nullopt, false, mimeOnly, std::nullopt,
         {"attrib", "metadata"}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const nlohmann::json before = fileMetadata("Before.txt");
        const auto item = fileItem(before, row.attrib);
        const auto file = session.seedFile(item, devserver::kRootFolder, row.storedThumbnail);
        session.files.clear();
        session.newRequests();

        std::string jobID;
        const std::optional<std::string> destination = row.move ? std::optional(folder.uuid) : std::nullopt;
        session.run([&](SrvComm& e) { jobID = e.file_modify(file.uuid, destination, row.newMetadata, row.separate); });
        expectJob(*session.engine, jobID, JobType::fileModify, 2, "Modifying properties of file UUID " + file.uuid);
        EXPECT_EQ(session.files.lines(), Lines{kModified});
        const Posted done = session.files.all().back();
        ASSERT_TRUE(done.data<tree::ItemUuidPayload>());
        EXPECT_EQ(*done.data<tree::ItemUuidPayload>(), file.uuid);
        EXPECT_FALSE(done.httpError);

        const auto sent = session.newRequests();
        ASSERT_EQ(requestLines(sent), (Lines{kPrepare, kExecute}));
        expectAbout(sent, file.uuid);
        EXPECT_EQ(sent[1].values("Content-Type"), Lines{"application/json"});
        const auto body = nlohmann::json::parse(sent[1].body);
        EXPECT_EQ(keysOf(body), row.keys);
        EXPECT_EQ(body["attrib"], nlohmann::json(row.attrib));
        if (row.move) {
            EXPECT_EQ(body["parentUUID"], folder.uuid);
        }

        // The metadata never holds the thumbnail; a move alone seals the
        // current metadata again, under a fresh IV.
        const Bytes sealedMetadata = base64(body["metadata"]);
        const auto clear = openSealed(sealedMetadata, item);
        ASSERT_TRUE(clear);
        nlohmann::json expected = before;
        if (row.newMetadata) {
            RemoteItemMetadata bare = *row.newMetadata;
            bare.thumbnail.reset();
            bare.thumbnailmime.reset();
            expected = clearForm(bare.encode());
        }
        EXPECT_EQ(*clear, expected);
        EXPECT_NE(Bytes(sealedMetadata.begin(), sealedMetadata.begin() + 16),
                  Bytes(file.metadata.begin(), file.metadata.begin() + 16));
        if (row.sentThumbnail) {
            const auto clearThumbnail = openSealed(base64(body["thumbnail"]), item);
            ASSERT_TRUE(clearThumbnail);
            EXPECT_EQ(*clearThumbnail, clearForm(row.sentThumbnail->encode()));
        }

        // The server keeps what was sent, and lists the name.
        const auto kept = session.stored(file.uuid);
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->metadata, sealedMetadata);
        EXPECT_EQ(kept->parent, row.move ? folder.uuid : std::string(devserver::kRootFolder));
        EXPECT_EQ(kept->attrib, row.attrib);
        EXPECT_EQ(listedName(session, kept->parent, file.uuid), expected["name"].get<std::string>());
    }
}

// Metadata this client cannot read (another client's fractional dates) is
// never written over by its placeholder: a move sends no metadata, a
// thumbnail given still goes.
TEST(FileJobs, AMoveKeepsMetadataThisClientCannotRead) {
    server();
    FileSession session("unreadable");
    const auto folder = session.seedFolder("Destination");
    nlohmann::json foreign = fileMetadata("Foreign.txt");
    foreign["creationDate"] = "2021-03-04T05:06:07.125Z";
    const auto item = fileItem(foreign);
    const auto file = session.seedFile(item);

    session.run([&](SrvComm& e) { e.file_getFileInfo(file.uuid, std::nullopt); });
    const auto info = information(session.files);
    ASSERT_TRUE(info && info->metadata);
    EXPECT_EQ(info->metadata->name, RemoteItemMetadata::kInvalidMetadataName);
    session.files.clear();
    session.newRequests();

    session.run([&](SrvComm& e) { e.file_modify(file.uuid, folder.uuid, std::nullopt, std::nullopt); });
    EXPECT_EQ(session.files.lines(), Lines{kModified});
    auto sent = session.newRequests();
    ASSERT_EQ(requestLines(sent), (Lines{kPrepare, kExecute}));
    auto body = nlohmann::json::parse(sent[1].body);
    EXPECT_EQ(keysOf(body), (std::set<std::string>{"attrib", "parentUUID"}));
    auto kept = session.stored(file.uuid);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->parent, folder.uuid);
    EXPECT_EQ(kept->metadata, file.metadata);

    session.files.clear();
    session.run([&](SrvComm& e) {
        e.file_modify(file.uuid, std::string(devserver::kRootFolder), std::nullopt,
                      RemoteItemThumbnail("image/png", kImage));
    });
    EXPECT_EQ(session.files.lines(), Lines{kModified});
    sent = session.newRequests();
    ASSERT_EQ(sent.size(), 2u);
    body = nlohmann::json::parse(sent[1].body);
    EXPECT_EQ(keysOf(body), (std::set<std::string>{"attrib", "parentUUID", "thumbnail"}));
    kept = session.stored(file.uuid);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->metadata, file.metadata);
    EXPECT_EQ(kept->thumbnail, base64(body["thumbnail"]));
    const auto clearThumbnail = openSealed(*kept->thumbnail, item);
    ASSERT_TRUE(clearThumbnail);
    EXPECT_EQ((*clearThumbnail)["thumbnailmime"], "image/png");
}

TEST(FileJobs, ASessionThatExpiresAtTheExecuteSendsTheSameContentsSealedAnew) {
    server();
    FileSession session("expired");
    const auto item = fileItem(fileMetadata("Before.txt"));
    const auto file = session.seedFile(item);
    devserver::Fault expired = devserver::Fault::sessionExpired();
    expired.times = 1;
    server().setFault("PUT", "/file/modify_execute/", expired);
    session.run([&](SrvComm& e) {
        e.file_modify(file.uuid, std::nullopt, renamed("After.txt"), RemoteItemThumbnail("image/png", kImage));
    });
    server().clearFaults();

    EXPECT_EQ(session.files.lines(), (Lines{"SRPAuthenticated:Authenticated", kModified}));
    const Posted done = session.files.all().back();
    EXPECT_TRUE(done.hasAllKeys);
    EXPECT_FALSE(done.httpError);
    const auto sent = session.newRequests();
    ASSERT_EQ(requestLines(sent), (Lines{kPrepare, kExecute, "GET /authenticate/", "POST /authenticate/", kExecute}));
    const auto first = nlohmann::json::parse(sent[1].body);
    const auto second = nlohmann::json::parse(sent[4].body);
    EXPECT_EQ(keysOf(first), keysOf(second));
    for (const char* key : {"metadata", "thumbnail"}) {
        SCOPED_TRACE(key);
        EXPECT_NE(first[key], second[key]);
        const auto a = openSealed(base64(first[key]), item);
        const auto b = openSealed(base64(second[key]), item);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(*a, *b);
    }
    EXPECT_EQ((*openSealed(base64(second["metadata"]), item))["name"], "After.txt");
    EXPECT_EQ(session.stored(file.uuid)->metadata, base64(second["metadata"]));
}

TEST(FileJobs, AFileKeyThatDoesNotUnwrapEndsTheJobBeforeAnythingIsChanged) {
    server();
    FileSession session("foreign-key");
    const auto item = fileItem(fileMetadata("Locked.txt"));
    const auto file = session.seedFile(item);
    ASSERT_TRUE(server().items().modify(session.owner(), file.uuid, [&](devserver::Item& it) {
        it.itemkey = testsupport::oracleWrap(item.itemKey, testsupport::oracleRandom(32));
    }));

    session.run([&](SrvComm& e) {
        e.file_modify(file.uuid, std::nullopt, renamed("Open.txt"), std::nullopt);
        e.file_getFileInfo(file.uuid, "t");
    });
    EXPECT_EQ(session.files.lines(), (Lines{kModifyError, kInfoError}));
    for (const auto& p : session.files.all()) {
        if (p.result != tree::kError) continue;
        EXPECT_TRUE(p.noData());
        EXPECT_FALSE(p.httpError);
    }
    EXPECT_EQ(lastError(*session.engine).value_or("").rfind("Unable to decrypt file metadata: ", 0), 0u)
        << lastError(*session.engine).value_or("");
    EXPECT_EQ(requestLines(session.newRequests()), (Lines{kPrepare, "GET /file/info/"}));
    EXPECT_EQ(session.stored(file.uuid)->metadata, file.metadata);
}

TEST(FileJobs, ADeletedFileLeavesTheStoreTheListingAndItsReaders) {
    server();
    FileSession alice("delete");
    FileSession bob("delete-reader");
    const auto item = fileItem(fileMetadata("Gone.txt"));
    const auto file = alice.seedFile(item);
    ASSERT_TRUE(grantFile(alice, item, file.uuid, bob));
    ASSERT_EQ(listedName(alice, devserver::kRootFolder, file.uuid), "Gone.txt");
    alice.newRequests();

    std::string jobID;
    alice.run([&](SrvComm& e) { jobID = e.file_delete(file.uuid); });
    expectJob(*alice.engine, jobID, JobType::fileDelete, 1, "Deleting " + file.uuid);
    EXPECT_EQ(alice.files.lines(), Lines{kDeleted});
    const Posted done = alice.files.all().back();
    ASSERT_TRUE(done.data<tree::ItemUuidPayload>());
    EXPECT_EQ(*done.data<tree::ItemUuidPayload>(), file.uuid);
    const auto sent = alice.newRequests();
    EXPECT_EQ(requestLines(sent), Lines{"DELETE /file/"});
    expectAbout(sent, file.uuid);

    EXPECT_FALSE(alice.stored(file.uuid));
    EXPECT_FALSE(listedName(alice, devserver::kRootFolder, file.uuid));
    EXPECT_TRUE(server().items().grantsOf(alice.owner(), file.uuid).empty());
    bob.run([&](SrvComm& e) { e.file_getFileInfo(file.uuid, std::nullopt); });
    EXPECT_EQ(bob.files.lines(), Lines{kInfoError});
    ASSERT_TRUE(bob.files.all().back().httpError);
    EXPECT_EQ(bob.files.all().back().httpError->exception, "ItemNotFoundException");
}

// A step that cannot run its job (no session to sign with, an execute
// without the file key, a job of another kind) ends it in error, saying
// which, and sends nothing.
TEST(FileJobs, AStepThatCannotRunItsJobEndsItInErrorAndSendsNothing) {
    server();
    {
        auto engine = std::make_shared<SrvComm>();
        FileRecorder recorder(engine->notifications());
        const auto before = server().requestCount();
        engine->file_getFileInfo("F", "t");
        engine->file_modify("F", std::nullopt, renamed("A"), std::nullopt);
        engine->file_delete("F");
        ASSERT_TRUE(recorder.waitIdle());
        EXPECT_EQ(recorder.lines(), (Lines{kInfoError, kModifyError, kDeleteError}));
        EXPECT_EQ(server().requestCount(), before);
        EXPECT_EQ(lastError(*engine), SrvComm::kNoSigningSession);
    }

    FileSession session("mended");
    const std::string url = session.engine->urlToUse();
    struct Case {
        const char* what;
        JobsSteps first;
        std::function<std::shared_ptr<CommJobsContext>()> make;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"an execute without the file key", JobsSteps::file_modifyExecute,
         [&] {
             auto context = std::make_shared<FileWorksContext>("F", std::nullopt, renamed("A"), std::nullopt, url,
                                                               JobsSteps::file_modifyExecute,
                                                               tree::kFilePropertiesModificationNotification);
             context->attrib = std::vector<std::string>{};
             return context;
         },
         "The file modification has no file key"},
        {"a job of another kind", JobsSteps::file_getInfoQuery,
         [&] {
             return std::make_shared<CommJobBasicContext>(JobsSteps::file_getInfoQuery, Http::forJob(url),
                                                          tree::kGetFileInfoNotification);
         },
         steps::wrongContextMessage(JobsSteps::file_getInfoQuery)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        session.files.clear();
        session.run([&](SrvComm& e) {
            std::lock_guard lock(e.mutex());
            e.queue()->addNewJob(JobType::fileModify, 2, JobPriority::Normal, c.make(), std::nullopt, std::nullopt);
        });
        EXPECT_EQ(lastError(*session.engine), c.error);
        EXPECT_EQ(session.files.all().back().result, tree::kError);
        EXPECT_TRUE(session.newRequests().empty());
    }
}

}  // namespace
}  // namespace ostrelcomm
