// The upload of one file by a real engine, logged in by SRP, to the
// in-process stand-in over TLS: what the stand-in stores (blocks decrypted by
// the openssl command line under the file key, unwrapped on OpenSSL from the
// password through the master key), what the job posts, and how it ends on a
// rejected block, an abort, a resume, an expired session and a local file
// that is no file or changes under it.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <any>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "devserver/AccountEndpoints.h"
#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/TransferEndpoints.h"
#include "encoding/Encoding.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/SrvComm.h"
#include "support/CryptoOracle.h"
#include "support/EngineRequests.h"
#include "support/ListingOracle.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"
#include "xfer/FileSendBlockReader.h"
#include "xfer/FileSendContext.h"
#include "xfer/XferNotifications.h"

namespace ostrelcomm {
namespace {

namespace fs = std::filesystem;
using testsupport::lastError;
using testsupport::requestLines;
using Posted = testsupport::PostedNotification;
using Lines = std::vector<std::string>;

constexpr auto kGuard = std::chrono::seconds(30);
constexpr char kPassword[] = "upload test password";
constexpr std::size_t kBlock = 4'194'304;
constexpr char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr char kStore[] = "/filesend/store/";
constexpr char kPrepare[] = "/filesend/prepare/";

devserver::DevServer& server() { return testsupport::sharedDevserver().server(); }

std::string sha256Hex(const Bytes& data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), out, &length, EVP_sha256(), nullptr);
    return toHex(Bytes(out, out + length));
}

// A folder of its own for each test's local files, removed with it.
class LocalFiles {
public:
    // Test programs run side by side: the process is part of the name.
    LocalFiles()
        : root_(fs::temp_directory_path() /
                testsupport::uniqueName("upload-local-" + std::to_string(::getpid()))) {
        fs::create_directories(root_);
    }
    ~LocalFiles() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    fs::path write(const std::string& name, const Bytes& content) const {
        const fs::path path = root_ / name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        return path;
    }
    fs::path path(const std::string& name) const { return root_ / name; }

private:
    fs::path root_;
};

template <class T>
T entry(const Posted& posted, const char* key) {
    const auto* payload = posted.data<xfer::LocalFileUploadPayload>();
    if (!payload || !payload->count(key)) {
        ADD_FAILURE() << "no " << key;
        return T{};
    }
    const T* typed = std::any_cast<T>(&payload->at(key));
    if (!typed) {
        ADD_FAILURE() << key << " has another type";
        return T{};
    }
    return *typed;
}

// An account made on OpenSSL, and an engine logged in to it that records its
// uploads' and logins' notifications.
struct Uploader {
    std::string user = testsupport::uniqueName("upload");
    std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
    testsupport::NotificationRecorder recorder{
        engine->notifications(), {xfer::kLocalFileUploadNotification, auth::kSRPAuthenticatedNotification}};

    Uploader() {
        devserver::addDemoUser(server().users(), user, kPassword);
        engine->auth_add(user, SecretBytes::fromText(kPassword), SRPAuthMode::new_);
        EXPECT_TRUE(recorder.waitIdle());
        auto end = recorder.last(auth::kSRPAuthenticatedNotification);
        EXPECT_TRUE(end && end->result == auth::kAuthenticated);
        recorder.clear();
        seen_ = testsupport::requestsOf(server(), user).size();
    }

    std::optional<std::string> upload(const fs::path& path, std::optional<std::string> parent = std::nullopt,
                                      std::optional<std::string> name = std::nullopt,
                                      std::optional<Bytes> thumbnail = std::nullopt,
                                      std::optional<std::string> thumbnailMime = std::nullopt) {
        return engine->fileSend_add(path, parent, name, thumbnail, thumbnailMime, "tag");
    }

    std::vector<devserver::RecordedRequest> newRequests() {
        auto all = testsupport::requestsOf(server(), user);
        std::vector<devserver::RecordedRequest> out(all.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, all.size())),
                                                    all.end());
        seen_ = all.size();
        return out;
    }

    // "Result" words of the uploads' notifications, in order.
    Lines results() const {
        Lines out;
        for (const auto& p : recorder.all())
            if (p.name == xfer::kLocalFileUploadNotification) out.push_back(p.result);
        return out;
    }
    std::optional<Posted> lastUpload() const { return recorder.last(xfer::kLocalFileUploadNotification); }
    std::string uuid() const {
        auto last = lastUpload();
        return last ? entry<std::string>(*last, xfer::kUUIDKey) : std::string();
    }

    std::string owner() const { return server().users().find(user)->uuid; }
    testsupport::ListingOracle oracle() const {
        auto chain = testsupport::ListingOracle::forAccount(server().users().find(user)->umk, kPassword);
        EXPECT_TRUE(chain);
        return chain.value_or(testsupport::ListingOracle{});
    }
    bool logged(const std::string& text) const {
        for (const auto& event : engine->comLog().events())
            if (event.description == text) return true;
        return false;
    }

private:
    std::size_t seen_ = 0;
};

// What the stand-in holds of a finished upload, read back on OpenSSL: the
// blocks as stored, their clear bytes (openssl enc -d under the file key) and
// the clear metadata.
struct Stored {
    devserver::Item item;
    std::vector<Bytes> blocks;
    Bytes clear;
    nlohmann::json metadata;
    Bytes fileKey;  // iv ‖ key
};

std::optional<Stored> readBack(const Uploader& uploader, const std::string& uuid) {
    auto item = server().items().find(uploader.owner(), uuid);
    if (!item) return std::nullopt;
    Stored stored{*item, {}, {}, {}, {}};
    const auto oracle = uploader.oracle();
    auto key = oracle.unwrapItemKey(item->itemkey);
    if (!key || key->size() != 48) return std::nullopt;
    stored.fileKey = *key;
    const Bytes iv(key->begin(), key->begin() + 16);
    const Bytes aes(key->begin() + 16, key->end());
    for (std::size_t n = 0; n < item->chunks.size(); ++n) {
        auto body = server().dataFolder().readBlock(uuid, n);
        if (!body) return std::nullopt;
        stored.blocks.emplace_back(body->begin(), body->end());
        auto clear = testsupport::opensslCbc(true, aes, iv, stored.blocks.back());
        if (!clear) return std::nullopt;
        stored.clear.insert(stored.clear.end(), clear->begin(), clear->end());
    }
    auto metadata = oracle.openMetadata(item->itemkey, item->metadata);
    if (!metadata) return std::nullopt;
    stored.metadata = *metadata;
    return stored;
}

Bytes randomBytes(std::size_t size) { return size ? testsupport::oracleRandom(size) : Bytes{}; }

// The uploader's file, read back from the stand-in, is `content`, and its
// metadata names the content's digest.
void expectStoredAs(const Uploader& uploader, const Bytes& content) {
    const auto stored = readBack(uploader, uploader.uuid());
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->clear == content);
    EXPECT_EQ(stored->metadata["filehash-SHA256"], sha256Hex(content));
}

// The block numbers the store requests among `requests` named, in order.
Lines storedBlockNumbers(const std::vector<devserver::RecordedRequest>& requests) {
    Lines blocks;
    for (const auto& r : requests)
        if (r.path == kStore) blocks.push_back(r.values("x-sb-blocknum").at(0));
    return blocks;
}

TEST(FileUpload, TheStoredBlocksDecryptToTheFileAndTheMetadataDescribesIt) {
    server();
    struct Case {
        const char* what;
        Bytes content;
        std::vector<std::size_t> cipherSizes;
    };
    Bytes twice = randomBytes(kBlock);
    twice.insert(twice.end(), twice.begin(), twice.end());
    const Bytes tail = randomBytes(2 * 1024 * 1024);
    twice.insert(twice.end(), tail.begin(), tail.end());
    const std::vector<Case> cases = {
        {"empty", {}, {}},
        {"one byte", randomBytes(1), {16}},
        {"one full block", randomBytes(kBlock), {kBlock + 16}},
        {"a block and a byte", randomBytes(kBlock + 1), {kBlock + 16, 16}},
        {"two equal blocks and a half", twice, {kBlock + 16, kBlock + 16, 2 * 1024 * 1024 + 16}},
    };
    LocalFiles files;
    Uploader uploader;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        uploader.recorder.clear();
        const auto path = files.write("Quarterly report.bin", c.content);
        const auto jobID = uploader.upload(path);
        ASSERT_TRUE(jobID);
        ASSERT_TRUE(uploader.recorder.waitIdle());
        ASSERT_EQ(uploader.results().back(), xfer::kSent) << lastError(*uploader.engine).value_or("");
        const auto job = uploader.engine->queue()->getJobData(*jobID);
        ASSERT_TRUE(job);
        EXPECT_EQ(job->jobType, JobType::fileSend);
        EXPECT_EQ(job->jobSteps, c.cipherSizes.size() + 3);
        EXPECT_EQ(job->actStep, job->jobSteps);

        const auto stored = readBack(uploader, uploader.uuid());
        ASSERT_TRUE(stored);
        EXPECT_FALSE(stored->item.upload);
        EXPECT_EQ(stored->item.parent, "root");
        EXPECT_EQ(stored->item.size, c.content.size());
        std::vector<std::size_t> sizes;
        for (const auto& block : stored->blocks) sizes.push_back(block.size());
        EXPECT_EQ(sizes, c.cipherSizes);
        EXPECT_TRUE(stored->clear == c.content);
        if (c.cipherSizes.size() == 3) {
            EXPECT_EQ(stored->blocks[0], stored->blocks[1]);
        }

        const auto requests = uploader.newRequests();
        std::string sentTreeHash;
        for (const auto& r : requests) {
            if (r.path == "/filesend/finalize/") sentTreeHash = r.values("x-sb-treehash-sha256").at(0);
            // The name travels only sealed.
            EXPECT_EQ(r.body.find("Quarterly"), std::string::npos) << r.path;
            for (const auto& [name, value] : r.headers) EXPECT_EQ(value.find("Quarterly"), std::string::npos);
        }
        EXPECT_EQ(sentTreeHash, stored->item.treehash);
        EXPECT_EQ(stored->item.treehash, devserver::treeHashHex(stored->item.chunks));
        if (c.content.empty()) {
            EXPECT_EQ(stored->item.treehash, kEmptyDigest);
        }

        const auto& metadata = stored->metadata;
        EXPECT_EQ(metadata["name"], "Quarterly report.bin");
        EXPECT_EQ(metadata["fileSize"], c.content.size());
        EXPECT_EQ(metadata["filehash-SHA256"], sha256Hex(c.content));
        EXPECT_EQ(metadata["treehash-SHA256"], stored->item.treehash);
        EXPECT_EQ(metadata["mime"], "application/octet-stream");
        EXPECT_TRUE(metadata.contains("creationDate"));
        EXPECT_TRUE(metadata.contains("modificationDate"));
    }
}

TEST(FileUpload, APdfWithAThumbnailGoesIntoAFolderUnderItsNewName) {
    server();
    LocalFiles files;
    Uploader uploader;
    uploader.engine->directory_create("Inbox", std::nullopt, std::nullopt);
    ASSERT_TRUE(uploader.recorder.waitIdle());
    const auto folders = server().items().itemsOf(uploader.owner());
    ASSERT_EQ(folders.size(), 1u);
    const std::string folder = folders[0].uuid;

    Bytes pdf{'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'};
    const Bytes rest = randomBytes(3000);
    pdf.insert(pdf.end(), rest.begin(), rest.end());
    const auto path = files.write("local.pdf", pdf);
    const Bytes image = randomBytes(500);
    ASSERT_TRUE(uploader.upload(path, folder, "Contract.pdf", image, "image/png"));
    ASSERT_TRUE(uploader.recorder.waitIdle());
    ASSERT_EQ(uploader.results().back(), xfer::kSent);
    EXPECT_EQ(entry<std::string>(*uploader.lastUpload(), xfer::kRemoteParentUUIDKey), folder);

    const auto stored = readBack(uploader, uploader.uuid());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->item.parent, folder);
    EXPECT_EQ(stored->metadata["name"], "Contract.pdf");
    EXPECT_EQ(stored->metadata["mime"], "application/pdf");
    ASSERT_TRUE(stored->item.thumbnail);
    const Bytes key(stored->fileKey.begin() + 16, stored->fileKey.end());
    auto thumbnail = testsupport::oracleOpen(key, *stored->item.thumbnail);
    ASSERT_TRUE(thumbnail);
    const auto json = nlohmann::json::parse(std::string(thumbnail->begin(), thumbnail->end()));
    EXPECT_EQ(json["thumbnailmime"], "image/png");
    EXPECT_EQ(devserver::base64Decode(json["thumbnail"].get<std::string>()), image);

    // The listing shows it with its size and thumbnail.
    const auto listed = server().items().folder(uploader.owner(), folder);
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->content.size(), 1u);
    EXPECT_EQ(listed->content[0].size, pdf.size());
    EXPECT_EQ(listed->content[0].thumbnailSize(), stored->item.thumbnail->size());

    // A thumbnail without its type is left out, with a warning.
    uploader.recorder.clear();
    ASSERT_TRUE(uploader.upload(path, folder, std::nullopt, image, std::nullopt));
    ASSERT_TRUE(uploader.recorder.waitIdle());
    ASSERT_EQ(uploader.results().back(), xfer::kSent);
    EXPECT_FALSE(server().items().find(uploader.owner(), uploader.uuid())->thumbnail);
    bool warned = false;
    for (const auto& event : uploader.engine->comLog().events())
        warned = warned || event.type == Logger::EvtType::warning;
    EXPECT_TRUE(warned);
}

struct Moment {
    std::string result;
    std::uint64_t blockNum;
    std::int32_t blockSize;
    bool hasUuid;
    bool operator==(const Moment&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Moment& m) {
    return os << m.result << " " << m.blockNum << " " << m.blockSize << (m.hasUuid ? " uuid" : " -");
}

// Stalls the first block until the hold is asked for, so the job parks once
// that block is accepted.
void holdAfterFirstBlock(Uploader& uploader) {
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    uploader.engine->holdRequest();
    server().releaseStalls();
    ASSERT_TRUE(uploader.recorder.waitUntil([](const std::vector<Posted>& posted) {
        for (const auto& p : posted)
            if (p.result == xfer::kSending && std::any_cast<std::uint64_t>(
                                                  p.data<xfer::LocalFileUploadPayload>()->at(xfer::kBlockNumKey)) == 1)
                return true;
        return false;
    }));
    std::lock_guard lock(uploader.engine->mutex());
    ASSERT_EQ(uploader.engine->hold(), SrvComm::HoldStatus::hold);
}

// A thumbnail nobody can show (no MIME type) does not stop the file: it goes
// without one, and the log says so.
TEST(FileUpload, AThumbnailWithoutItsMimeTypeIsLeftOutWithAWarning) {
    server();
    LocalFiles files;
    Uploader uploader;
    const auto path = files.write("picture.bin", randomBytes(100));
    ASSERT_TRUE(uploader.upload(path, std::nullopt, std::nullopt, randomBytes(50), std::nullopt));
    ASSERT_TRUE(uploader.recorder.waitIdle());
    ASSERT_EQ(uploader.results().back(), xfer::kSent);
    const auto stored = readBack(uploader, uploader.uuid());
    ASSERT_TRUE(stored);
    EXPECT_FALSE(stored->item.thumbnail);
    bool warned = false;
    for (const auto& event : uploader.engine->comLog().events())
        warned = warned || (event.type == Logger::EvtType::warning &&
                            event.description.find("has no MIME type") != std::string::npos);
    EXPECT_TRUE(warned);
}

TEST(FileUpload, ATwoBlockUploadReportsEveryMoveAndAHoldStopsItBetweenBlocks) {
    server();
    LocalFiles files;
    Uploader uploader;
    const auto path = files.write("two.bin", randomBytes(kBlock + 1));
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("PUT", kStore, stall);
    const auto jobID = uploader.upload(path);
    ASSERT_TRUE(jobID);
    holdAfterFirstBlock(uploader);
    EXPECT_EQ(requestLines(uploader.newRequests()), (Lines{"GET /filesend/prepare/", "PUT /filesend/store/"}));
    uploader.engine->holdResume();
    ASSERT_TRUE(uploader.recorder.waitIdle());
    server().clearFaults();

    const std::vector<Moment> expected = {
        {"Sending", 0, 0, false}, {"Sending", 0, 0, true},       {"Sending", 0, 4194304, true},
        {"Sending", 1, 4194304, true}, {"Sending", 1, 1, true}, {"Sending", 2, 1, true},
        {"Sending", 2, 0, true},  {"Sending", 2, 0, true},       {"Sending", 2, 0, true},
        {"Sending", 2, 0, true},  {"Sent", 2, 0, true},
    };
    std::vector<Moment> moments;
    const std::string uuid = uploader.uuid();
    for (const auto& p : uploader.recorder.all()) {
        EXPECT_EQ(entry<std::string>(p, xfer::kSourceKey), "tag");
        EXPECT_EQ(entry<std::string>(p, xfer::kJobIDKey), *jobID);
        EXPECT_EQ(entry<fs::path>(p, xfer::kLocalURLKey), path);
        EXPECT_EQ(entry<std::string>(p, xfer::kRemoteParentUUIDKey), xfer::kNoRemoteParent);
        EXPECT_EQ(entry<std::uint64_t>(p, xfer::kTotalBlocksKey), 2u);
        EXPECT_FALSE(entry<bool>(p, xfer::kIsResumedKey));
        const std::string seen = entry<std::string>(p, xfer::kUUIDKey);
        EXPECT_TRUE(seen.empty() || seen == uuid);
        moments.push_back({p.result, entry<std::uint64_t>(p, xfer::kBlockNumKey),
                           entry<std::int32_t>(p, xfer::kBlockSizeKey), !seen.empty()});
    }
    EXPECT_EQ(moments, expected);
    EXPECT_EQ(uploader.engine->queue()->getJobData(*jobID)->actStep, 5u);
    EXPECT_TRUE(uploader.logged("Added file xfer from local " + path.string() + " to remote  root directory"));

    const auto requests = uploader.newRequests();
    ASSERT_EQ(requestLines(requests), (Lines{"PUT /filesend/store/", "GET /filesend/finalize/",
                                            "PUT /filesend/terminate/"}));
    const auto all = testsupport::requestsOf(server(), uploader.user);
    const auto& prepare = all[all.size() - 5];
    EXPECT_EQ(prepare.values("x-sb-parent-uuid"), Lines{"root"});
    EXPECT_EQ(prepare.values("x-sb-file-size"), Lines{"4194305"});
    EXPECT_EQ(prepare.values("x-sb-algorythm"), Lines{"aes256"});
    EXPECT_EQ(all[all.size() - 4].values("x-sb-blockrange"), Lines{"0-4194303"});
    EXPECT_EQ(requests[0].values("x-sb-blockrange"), Lines{"4194304-4194304"});
    EXPECT_EQ(requests[0].values("Content-Type"), Lines{"application/octet-stream"});
    EXPECT_EQ(requests[1].values("x-sb-blocks-sent"), Lines{"2"});
}

TEST(FileUpload, ABlockDamagedOnTheWayIsSentAgainTwiceAtMost) {
    server();
    LocalFiles files;
    const Bytes content = randomBytes(5000);
    const auto path = files.write("checked.bin", content);
    {
        Uploader uploader;
        devserver::Fault rejected = devserver::Fault::badChecksum();
        rejected.times = 2;
        server().setFault("PUT", kStore, rejected);
        ASSERT_TRUE(uploader.upload(path));
        ASSERT_TRUE(uploader.recorder.waitIdle());
        server().clearFaults();
        ASSERT_EQ(uploader.results().back(), xfer::kSent);
        expectStoredAs(uploader, content);
        EXPECT_EQ(storedBlockNumbers(uploader.newRequests()), (Lines{"0", "0", "0"}));
    }
    {
        Uploader uploader;
        server().setFault("PUT", kStore, devserver::Fault::badChecksum());
        ASSERT_TRUE(uploader.upload(path));
        ASSERT_TRUE(uploader.recorder.waitIdle());
        server().clearFaults();
        EXPECT_EQ(uploader.results().back(), xfer::kError);
        EXPECT_EQ(lastError(*uploader.engine), "Repetitive block sending error!");
        EXPECT_EQ(requestLines(uploader.newRequests()),
                  (Lines{"GET /filesend/prepare/", "PUT /filesend/store/", "PUT /filesend/store/",
                         "PUT /filesend/store/"}));
    }
    {
        Uploader uploader;
        devserver::Fault other;
        other.rawBody = R"({"itemUUID":"x","blocknum":0,"blockBegin":0,"blockEnd":4998})";
        other.contentType = "application/json";
        server().setFault("PUT", kStore, other);
        ASSERT_TRUE(uploader.upload(path));
        ASSERT_TRUE(uploader.recorder.waitIdle());
        server().clearFaults();
        EXPECT_EQ(uploader.results().back(), xfer::kError);
        EXPECT_EQ(lastError(*uploader.engine),
                  "Server answered with wrong block progress / range: 0_0-4998 instead of 0_0-4999");
    }
}

TEST(FileUpload, AnAbortWhileABlockIsOnItsWayDropsTheUploadOnTheServer) {
    server();
    LocalFiles files;
    Uploader uploader;
    const auto path = files.write("aborted.bin", randomBytes(kBlock + 10));
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("PUT", kStore, stall);
    const auto jobID = uploader.upload(path);
    ASSERT_TRUE(jobID);
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    const std::string uuid = uploader.uuid();
    ASSERT_FALSE(uuid.empty());
    EXPECT_TRUE(uploader.engine->abortJobs({*jobID}).at(*jobID));
    server().releaseStalls();
    ASSERT_TRUE(uploader.recorder.waitIdle());
    server().clearFaults();

    EXPECT_EQ(uploader.results().back(), xfer::kAborted);
    const auto requests = uploader.newRequests();
    EXPECT_EQ(requestLines(requests),
              (Lines{"GET /filesend/prepare/", "PUT /filesend/store/", "DELETE /filesend/"}));
    EXPECT_EQ(requests.back().values("x-sb-item-uuid"), Lines{uuid});
    EXPECT_FALSE(server().items().find(uploader.owner(), uuid));
    EXPECT_FALSE(server().dataFolder().readBlock(uuid, 0));
    EXPECT_FALSE(fs::exists(server().dataFolder().blockPath(uuid, 0).parent_path()));
    EXPECT_FALSE(uploader.engine->resumeJobs({*jobID}).at(*jobID));
    EXPECT_TRUE(uploader.newRequests().empty());
}

TEST(FileUpload, AnAbortBeforeTheServerNamedTheFileSendsNothingMore) {
    server();
    LocalFiles files;
    Uploader uploader;
    const auto path = files.write("early.bin", randomBytes(100));
    devserver::Fault refused = devserver::Fault::exception(500, "InternalServerError", "No");
    refused.stall = true;
    refused.times = 1;
    server().setFault("GET", kPrepare, refused);
    const auto jobID = uploader.upload(path);
    ASSERT_TRUE(jobID);
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    EXPECT_TRUE(uploader.engine->abortJobs({*jobID}).at(*jobID));
    server().releaseStalls();
    ASSERT_TRUE(uploader.recorder.waitIdle());
    server().clearFaults();
    EXPECT_EQ(uploader.results().back(), xfer::kAborted);
    EXPECT_EQ(requestLines(uploader.newRequests()), Lines{"GET /filesend/prepare/"});
}

TEST(FileUpload, AResumedUploadSendsTheRefusedBlockAgain) {
    server();
    LocalFiles files;
    Uploader uploader;
    const Bytes content = randomBytes(kBlock + 300);
    const auto path = files.write("resumed.bin", content);
    // The first block is held until the second one's refusal is in place.
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("PUT", kStore, stall);
    const auto jobID = uploader.upload(path);
    ASSERT_TRUE(jobID);
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    devserver::Fault broken = devserver::Fault::exception(500, "InternalServerError", "Disk full");
    broken.times = 1;
    server().setFault("PUT", kStore, broken);
    server().releaseStalls();
    ASSERT_TRUE(uploader.recorder.waitIdle());
    ASSERT_EQ(uploader.results().back(), xfer::kError);
    server().clearFaults();

    uploader.recorder.clear();
    EXPECT_TRUE(uploader.engine->resumeJobs({*jobID}).at(*jobID));
    ASSERT_TRUE(uploader.recorder.waitIdle());
    ASSERT_EQ(uploader.results().back(), xfer::kSent);
    const auto posted = uploader.recorder.all();
    ASSERT_GE(posted.size(), 2u);
    EXPECT_TRUE(entry<bool>(posted[0], xfer::kIsResumedKey));
    for (std::size_t i = 1; i < posted.size(); ++i) EXPECT_FALSE(entry<bool>(posted[i], xfer::kIsResumedKey));

    EXPECT_EQ(storedBlockNumbers(uploader.newRequests()), (Lines{"0", "1", "1"}));
    expectStoredAs(uploader, content);
}

TEST(FileUpload, AnExpiredSessionOnABlockLogsInAndSendsThatBlockAgain) {
    server();
    LocalFiles files;
    Uploader uploader;
    const Bytes content = randomBytes(kBlock + 7);
    const auto path = files.write("renewed.bin", content);
    devserver::Fault expired = devserver::Fault::sessionExpired();
    expired.times = 1;
    server().setFault("PUT", kStore, expired);
    ASSERT_TRUE(uploader.upload(path));
    ASSERT_TRUE(uploader.recorder.waitIdle());
    server().clearFaults();
    ASSERT_EQ(uploader.results().back(), xfer::kSent);

    const auto requests = uploader.newRequests();
    EXPECT_EQ(requestLines(requests),
              (Lines{"GET /filesend/prepare/", "PUT /filesend/store/", "GET /authenticate/", "POST /authenticate/",
                     "PUT /filesend/store/", "PUT /filesend/store/", "GET /filesend/finalize/",
                     "PUT /filesend/terminate/"}));
    EXPECT_EQ(storedBlockNumbers(requests), (Lines{"0", "0", "1"}));
    expectStoredAs(uploader, content);
}

TEST(FileUpload, OnlyARegularFileIsQueued) {
    server();
    LocalFiles files;
    Uploader uploader;
    const fs::path fifo = files.path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path folder = files.path("folder");
    fs::create_directories(folder);
    struct Case {
        fs::path path;
        std::string reason;
    };
    for (const auto& c : {Case{fifo, "Not a regular file"}, Case{folder, "Is a directory"},
                          Case{files.path("missing"), "No such file or directory"}}) {
        SCOPED_TRACE(c.path.string());
        EXPECT_FALSE(uploader.upload(c.path));
        EXPECT_EQ(lastError(*uploader.engine), "Unable to read file: " + c.reason);
    }
    EXPECT_FALSE(uploader.engine->queue()->getNextJob().first.has_value());
    EXPECT_TRUE(uploader.newRequests().empty());
    EXPECT_TRUE(uploader.recorder.all().empty());
}

TEST(FileUpload, AFileThatChangesWhileHeldEndsInError) {
    server();
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> change;
    };
    const std::vector<Case> cases = {
        {"grows", [](const fs::path& p) { fs::resize_file(p, kBlock + 2); }},
        {"shrinks", [](const fs::path& p) { fs::resize_file(p, kBlock); }},
    };
    LocalFiles files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Uploader uploader;
        const auto path = files.write(std::string(c.what) + ".bin", randomBytes(kBlock + 1));
        devserver::Fault stall = devserver::Fault::stalled();
        stall.times = 1;
        server().setFault("PUT", kStore, stall);
        ASSERT_TRUE(uploader.upload(path));
        holdAfterFirstBlock(uploader);
        c.change(path);
        uploader.engine->holdResume();
        ASSERT_TRUE(uploader.recorder.waitIdle());
        server().clearFaults();
        EXPECT_EQ(uploader.results().back(), xfer::kError);
        EXPECT_EQ(lastError(*uploader.engine), FileSendBlockReader::kChanged);
        for (const auto& r : uploader.newRequests()) EXPECT_NE(r.path, "/filesend/finalize/");
    }
}

// Slow by nature (over 30 s): a block's answer that keeps moving, one byte at
// a time, for longer than any limit on a whole request, still completes.
TEST(FileUpload, ABlockThatKeepsMovingIsNotCutOff) {
    server();
    LocalFiles files;
    Uploader uploader;
    const auto path = files.write("slow.bin", randomBytes(64));
    devserver::Fault trickle;
    trickle.trickle = true;
    trickle.trickleInterval = std::chrono::milliseconds(400);
    trickle.times = 1;
    server().setFault("PUT", kStore, trickle);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(uploader.upload(path));
    // Each wait is bounded by the recorder's guard; the trickle outlasts one.
    bool ended = false;
    for (int i = 0; i < 4 && !ended; ++i)
        ended = uploader.recorder.waitUntil([](const std::vector<Posted>& posted) {
            return !posted.empty() && posted.back().result != xfer::kSending;
        });
    ASSERT_TRUE(ended);
    // The engine posts its end of queue just after: the recorder must still
    // be there for it.
    ASSERT_TRUE(uploader.recorder.waitIdle());
    server().clearFaults();
    EXPECT_EQ(uploader.results().back(), xfer::kSent) << lastError(*uploader.engine).value_or("");
    // The check that the trickle outlasted the whole-request limit, not a
    // timing claim about the client.
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

}  // namespace
}  // namespace ostrelcomm
