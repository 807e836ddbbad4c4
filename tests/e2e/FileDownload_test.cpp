// Downloads through the real engine against the stand-in over TLS, by a user
// logged in by SRP: files the engine uploaded itself and files stored by the
// test's own OpenSSL code come back byte for byte; hostile names, taken
// names, damaged or misnumbered blocks, wrong tree hashes, a full disk and a
// failing write each end as the download's rules say, and nothing is ever
// written outside the destination folder or over an existing file.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DownloadTestSupport.h"
#include "xfer/DownloadFileSystem.h"

namespace ostrelcomm::downloadtest {
namespace {

using devserver::Fault;
using devserver::HeaderTamper;

constexpr char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// The capacity reader a test puts in place for its own duration.
struct ReplacedCapacity {
    explicit ReplacedCapacity(DownloadFileSystem::CapacityReader reader)
        : previous(DownloadFileSystem::replaceCapacityReader(std::move(reader))) {}
    ~ReplacedCapacity() { DownloadFileSystem::replaceCapacityReader(previous); }
    DownloadFileSystem::CapacityReader previous;
};

struct FaultFor {
    FaultFor(const char* path, Fault fault) : path_(path) { server().setFault("GET", path_, std::move(fault)); }
    ~FaultFor() { server().clearFault("GET", path_); }
    std::string path_;
};

Fault headerFault(const std::string& header, HeaderTamper how, int times) {
    Fault fault;
    fault.answerHeaders[header] = std::move(how);
    fault.times = times;
    return fault;
}

void expectReceived(DownloadSession& session, const StoredFile& file, const Outcome& outcome, std::int8_t signature) {
    ASSERT_EQ(outcome.result, xfer::kReceived) << outcome.error.value_or("");
    EXPECT_EQ(readFile(outcome.localURL()), file.clear);
    EXPECT_EQ(outcome.value<std::string>(xfer::kComputedFileHashKey), sha256Hex(file.clear));
    EXPECT_EQ(outcome.value<std::int8_t>(xfer::kSignatureKey), signature);
    EXPECT_FALSE(fs::exists(session.temporaryFile(file.uuid)));
}

TEST(FileDownload, FilesTheEngineUploadedComeBackByteForByte) {
    DownloadSession session("roundtrip");
    for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{1}, kBlock, kBlock + 1, std::uint64_t{10} << 20}) {
        SCOPED_TRACE(size);
        const Bytes clear = patterned(size, static_cast<std::uint8_t>(size));
        const fs::path local = session.folder.root / ("up-" + std::to_string(size) + ".bin");
        writeFile(local, clear);
        session.transfers.clear();
        ASSERT_TRUE(session.engine->fileSend_add(local, std::nullopt));
        ASSERT_TRUE(session.recorder.waitIdle());
        auto sent = session.transfers.last(xfer::kLocalFileUploadNotification);
        ASSERT_TRUE(sent && sent->result == xfer::kSent);
        const auto uuid = std::any_cast<std::string>(sent->data<xfer::LocalFileUploadPayload>()->at(xfer::kUUIDKey));

        const Outcome outcome = session.download(uuid);
        StoredFile file;
        file.uuid = uuid;
        file.clear = clear;
        // An empty file has no blocks, so no tree hash is compared.
        expectReceived(session, file, outcome, size == 0 ? -1 : 1);
        EXPECT_EQ(fs::path(outcome.localURL()), session.folder.destination() / local.filename());
    }
}

TEST(FileDownload, ProgressReportsNoPathAndOneBlockUntilTheServerHasSaid) {
    DownloadSession session("progress");
    const StoredFile file = session.store(patterned(kBlock + 10), "two blocks.bin");
    const Outcome outcome = session.download(file.uuid);
    expectReceived(session, file, outcome, 1);
    std::vector<std::int64_t> totals;
    for (const auto& posted : session.transfers.all()) {
        if (posted.result != xfer::kDownloading) continue;
        const auto& data = *posted.data<xfer::RemoteFileDownloadPayload>();
        EXPECT_EQ(data.size(), 5u);
        EXPECT_EQ(std::any_cast<std::string>(data.at(xfer::kDownloadLocalURLKey)), xfer::kNoLocalURL);
        EXPECT_EQ(std::any_cast<std::string>(data.at(xfer::kSourceKey)), "dl-tag");
        totals.push_back(std::any_cast<std::int64_t>(data.at(xfer::kDownloadTotalBlocksKey)));
    }
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(totals.front(), 1);
    EXPECT_EQ(totals.back(), 2);
    EXPECT_EQ(outcome.end->data<xfer::RemoteFileDownloadPayload>()->size(), 8u);
    EXPECT_EQ(outcome.value<std::uint64_t>(xfer::kDownloadBlockNumKey), 2u);
}

TEST(FileDownload, AFileSharedWithTheUserOpensUnderTheKeyTheTwoShare) {
    DownloadSession owner("share-owner");
    DownloadSession reader("share-reader");
    const StoredFile file = owner.store(patterned(kBlock + 3), "shared.bin");
    ASSERT_TRUE(filetest::grantFile(owner, file.item, file.uuid, reader));
    expectReceived(reader, file, reader.download(file.uuid), 1);

    // The same answer without one of the sharing keys.
    for (const char* missing : {"pubshkey", "privshkey"}) {
        SCOPED_TRACE(missing);
        nlohmann::json body{{"itemUUID", file.uuid},       {"fileSize", file.clear.size()},
                            {"attrib", nlohmann::json::array()}, {"chunks", nlohmann::json::array()},
                            {"metadata", devserver::base64Encode(owner.oracle().sealedMetadata(file.item))},
                            {"itemkey", "{}"},             {"treehash-SHA256", ""},
                            {"pubshkey", devserver::base64Encode(owner.publicKey())},
                            {"privshkey", reader.account().privshkey}};
        body.erase(missing);
        Fault fault;
        fault.rawBody = body.dump();
        fault.times = 1;
        FaultFor injected("/filerecv/prepare/", fault);
        const Outcome outcome = reader.download(file.uuid);
        EXPECT_EQ(outcome.result, xfer::kError);
        EXPECT_EQ(outcome.error, std::string(missing) == "pubshkey" ? "Owner public shared key not present"
                                                                      : "User's private shared key not present");
    }

    // Another user's file that is not shared is as absent as none.
    DownloadSession stranger("share-stranger");
    EXPECT_EQ(stranger.download(file.uuid).result, xfer::kError);
}

TEST(FileDownload, HostileNamesLandAsOneFileDirectlyInTheDestination) {
    DownloadSession session("names");
    const std::string nul("x\0y", 3);
    for (const std::string& name : {std::string("../x"), std::string("../../x"), std::string("a/b"),
                                    std::string("/etc/x"), std::string(""), std::string("."), std::string(".."), nul}) {
        SCOPED_TRACE(name);
        fs::create_directories(session.folder.destination());
        const auto aboveBefore = entriesOf(session.folder.root);
        const auto before = entriesOf(session.folder.destination());
        const StoredFile file = session.store(patterned(100), name);
        const Outcome outcome = session.download(file.uuid);
        ASSERT_EQ(outcome.result, xfer::kReceived) << outcome.error.value_or("");
        const fs::path written(outcome.localURL());
        EXPECT_EQ(written.parent_path(), session.folder.destination());
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(written)));
        EXPECT_EQ(readFile(written), file.clear);
        auto after = entriesOf(session.folder.destination());
        after.erase(written.filename().string());
        EXPECT_EQ(after, before);
        EXPECT_EQ(entriesOf(session.folder.root), aboveBefore);
        fs::remove_all(session.folder.destination());
    }
}

TEST(FileDownload, ALinkPlantedAtTheTemporaryNameIsNotWrittenThrough) {
    DownloadSession session("link");
    const StoredFile file = session.store(patterned(5000), "linked.bin");
    fs::create_directories(session.folder.destination());
    const fs::path outside = session.folder.root / "outside.txt";
    writeFile(outside, toBytes("keep me"));
    fs::create_symlink(outside, session.temporaryFile(file.uuid));

    expectReceived(session, file, session.download(file.uuid), 1);
    EXPECT_EQ(readFile(outside), toBytes("keep me"));
}

TEST(FileDownload, ATakenNameGivesTheNextFreeOneAndTheOldFileStays) {
    DownloadSession session("taken");
    fs::create_directories(session.folder.destination());
    const fs::path existing = session.folder.destination() / "report.pdf";
    writeFile(existing, toBytes("the old report"));
    fs::create_directory(session.folder.destination() / "report (1).pdf");

    const StoredFile file = session.store(patterned(3000), "report.pdf");
    const Outcome outcome = session.download(file.uuid);
    expectReceived(session, file, outcome, 1);
    EXPECT_EQ(fs::path(outcome.localURL()), session.folder.destination() / "report (2).pdf");
    EXPECT_EQ(readFile(existing), toBytes("the old report"));
}

TEST(FileDownload, MisnumberedBlocksAreAskedAgainWithinTheJobsBudget) {
    DownloadSession session("blocknum");
    const StoredFile file = session.store(patterned(kBlock + 5), "numbered.bin");
    {
        FaultFor wrong("/filerecv/getblock/", headerFault("x-sb-blocknum", HeaderTamper::replace("7"), 2));
        expectReceived(session, file, session.download(file.uuid), 1);
    }
    // Two bad answers for the first block, and a third for the second: the
    // budget is the job's, not the block's.
    FaultFor wrong("/filerecv/getblock/", headerFault("x-sb-blocknum", HeaderTamper::drop(), 2));
    auto token = session.engine->notifications()->addObserver(
        xfer::kRemoteFileDownloadNotification, [](const Notification& n) {
            const auto* data = userInfoValue<xfer::RemoteFileDownloadPayload>(n.userInfo, "CustomData");
            if (data && data->count(xfer::kDownloadBlockNumKey) &&
                std::any_cast<std::uint64_t>(data->at(xfer::kDownloadBlockNumKey)) == 1)
                server().setFault("GET", "/filerecv/getblock/",
                                  headerFault("x-sb-blocknum", HeaderTamper::replace("-1"), 1));
        });
    const Outcome outcome = session.download(file.uuid);
    EXPECT_EQ(outcome.result, xfer::kError);
    session.engine->notifications()->removeObserver(token);
    EXPECT_EQ(outcome.error, "Repetitive received wrong block number!");
}

TEST(FileDownload, ABlockDamagedAtItsSourceIsAskedAgainThenFails) {
    DownloadSession session("damaged");
    const StoredFile file = session.store(patterned(20000), "damaged.bin");
    Fault flip;
    flip.flipBodyByte = true;
    flip.times = 2;
    {
        FaultFor damaged("/filerecv/getblock/", flip);
        expectReceived(session, file, session.download(file.uuid), 1);
    }
    flip.times = 3;
    FaultFor damaged("/filerecv/getblock/", flip);
    const Outcome outcome = session.download(file.uuid);
    EXPECT_EQ(outcome.result, xfer::kError);
    EXPECT_EQ(outcome.error, "Repetitive block receive error!");
    // Nothing of the damaged block was written.
    EXPECT_EQ(fs::file_size(session.temporaryFile(file.uuid)), 0u);
}

TEST(FileDownload, TheBlockRangeIsReadAsTheRulesSay) {
    DownloadSession session("range");
    const StoredFile file = session.store(patterned(kBlock), "ranged.bin");
    struct Case {
        HeaderTamper how;
        std::optional<std::string> error;
    };
    const std::vector<Case> cases{
        {HeaderTamper::replace("0 - 4194303"), std::nullopt},
        {HeaderTamper::replace("0-4194303-1"), "Block range elements are not valid!"},
        {HeaderTamper::replace("-5"), "Block begin element is not valid!"},
        {HeaderTamper::replace("a-5"), "Block begin element is not valid!"},
        {HeaderTamper::replace("5-b"), "Block end element is not valid!"},
        {HeaderTamper::replace("0\t-4194303"), "Block begin element is not valid!"},
        {HeaderTamper::drop(), "Block range is not valid!"},
        // A range other than the list's is never written.
        {HeaderTamper::replace("1-4194304"), "Block range is not the one of the file's block list!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how.value);
        FaultFor spoiled("/filerecv/getblock/", headerFault("x-sb-blockrange", c.how, 1));
        const Outcome outcome = session.download(file.uuid);
        if (!c.error) {
            expectReceived(session, file, outcome, 1);
            fs::remove(outcome.localURL());
            continue;
        }
        EXPECT_EQ(outcome.result, xfer::kError);
        EXPECT_EQ(outcome.error, *c.error);
        EXPECT_EQ(fs::file_size(session.temporaryFile(file.uuid)), 0u);
    }
}

TEST(FileDownload, AnUpperCaseFingerprintFailsTheTransportsCheck) {
    DownloadSession session("upper");
    const StoredFile file = session.store(patterned(100), "upper.bin");
    Fault upper;
    upper.payloadSha256 = HeaderTamper::upperCase();
    upper.times = 1;
    FaultFor spoiled("/filerecv/getblock/", upper);
    const Outcome outcome = session.download(file.uuid);
    EXPECT_EQ(outcome.result, xfer::kError);
    EXPECT_TRUE(outcome.end->httpError);
}

TEST(FileDownload, TreeHashesDecideTheEndAndTheSignature) {
    DownloadSession session("treehash");
    const Bytes clear = patterned(kBlock * 2 + 1);
    {
        Spoil spoil;
        spoil.serverTreehash = std::string(64, 'a');
        const Outcome outcome = session.download(session.store(clear, "server.bin", spoil).uuid);
        EXPECT_EQ(outcome.result, xfer::kError);
        EXPECT_EQ(outcome.error, "File treehashes doesn't match!");
    }
    {
        Spoil spoil;
        spoil.metadataTreehash = std::optional<std::string>(std::string(64, 'b'));
        const StoredFile file = session.store(clear, "metadata.bin", spoil);
        expectReceived(session, file, session.download(file.uuid), 0);
    }
    {
        Spoil spoil;
        spoil.metadataTreehash = std::optional<std::string>();
        const StoredFile file = session.store(clear, "none.bin", spoil);
        expectReceived(session, file, session.download(file.uuid), -1);
    }
    {
        Spoil spoil;
        spoil.chunks = std::vector<devserver::Chunk>{};
        const StoredFile file = session.store(clear, "empty.bin", spoil);
        const Outcome outcome = session.download(file.uuid);
        ASSERT_EQ(outcome.result, xfer::kReceived);
        EXPECT_EQ(fs::file_size(outcome.localURL()), 0u);
        EXPECT_EQ(outcome.value<std::int8_t>(xfer::kSignatureKey), -1);
        EXPECT_EQ(outcome.value<std::string>(xfer::kComputedFileHashKey), kEmptyDigest);
    }
    {
        // Blocks listed for a file of no bytes.
        Spoil spoil;
        spoil.size = 0;
        const Outcome outcome = session.download(session.store(clear, "zero.bin", spoil).uuid);
        EXPECT_EQ(outcome.result, xfer::kError);
    }
}

TEST(FileDownload, TheVolumeMustHoldMoreThanTheFile) {
    DownloadSession session("room");
    const StoredFile file = session.store(patterned(1000), "room.bin");
    const StoredFile empty = session.store(Bytes{}, "empty.bin");
    const auto check = [&](const StoredFile& stored, DownloadFileSystem::Capacity capacity,
                           const std::optional<std::string>& error) {
        SCOPED_TRACE(error.value_or("room enough"));
        ReplacedCapacity replaced([capacity](const fs::path&) { return capacity; });
        const Outcome outcome = session.download(stored.uuid);
        if (error) {
            EXPECT_EQ(outcome.result, xfer::kError);
            EXPECT_EQ(outcome.error, *error);
        } else {
            expectReceived(session, stored, outcome, 1);
        }
    };
    const auto available = [](std::int64_t bytes) {
        DownloadFileSystem::Capacity capacity;
        capacity.available = bytes;
        return capacity;
    };
    DownloadFileSystem::Capacity failing;
    failing.error = "Permission denied";
    check(file, available(1000),
          "Unable to store downloaded file: No room on volume; required: 1 KB, available: 1 KB!");
    check(empty, available(0),
          "Unable to store downloaded file: No room on volume; required: Zero KB, available: Zero KB!");
    check(file, failing, "Unable to store downloaded file; Error retrieving capacity: Permission denied");
    check(file, DownloadFileSystem::Capacity{}, "Unable to store downloaded file: Volume capacity is unavailable!");
    check(file, available(1001), std::nullopt);
}

TEST(FileDownload, AnAbortedDownloadTakesItsTemporaryFileWithIt) {
    DownloadSession session("abort");
    const StoredFile file = session.store(patterned(kBlock * 3), "aborted.bin");
    std::optional<std::string> id;
    // Aborted from the observer of the first stored block, on the engine's
    // thread, so the job is surely running then.
    auto token = session.engine->notifications()->addObserver(
        xfer::kRemoteFileDownloadNotification, [&](const Notification& n) {
            const auto* data = userInfoValue<xfer::RemoteFileDownloadPayload>(n.userInfo, "CustomData");
            if (!id || !data || !data->count(xfer::kDownloadBlockNumKey)) return;
            if (std::any_cast<std::uint64_t>(data->at(xfer::kDownloadBlockNumKey)) == 1)
                session.engine->abortJobs({*id});
        });
    {
        std::lock_guard lock(session.engine->mutex());
        id = session.engine->fileReceive_add(file.uuid, session.folder.destination(), "n", std::nullopt);
    }
    ASSERT_TRUE(session.recorder.waitIdle());
    session.engine->notifications()->removeObserver(token);
    auto end = session.transfers.last(xfer::kRemoteFileDownloadNotification);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->result, xfer::kAborted);
    EXPECT_FALSE(fs::exists(session.temporaryFile(file.uuid)));
    EXPECT_EQ(entriesOf(session.folder.destination()), std::set<std::string>{});

    // After an error the blocks written so far stay.
    Spoil spoil;
    spoil.serverTreehash = std::string(64, 'c');
    const StoredFile failing = session.store(patterned(kBlock + 1), "failing.bin", spoil);
    EXPECT_EQ(session.download(failing.uuid).result, xfer::kError);
    EXPECT_EQ(fs::file_size(session.temporaryFile(failing.uuid)), kBlock + 1);
}

TEST(FileDownload, AFailedWriteOrABlockThatDoesNotDecryptIsAnError) {
    DownloadSession session("write");
    {
        const StoredFile file = session.store(patterned(kBlock + 1), "big.bin");
        // Files of this process may not grow past 1 MiB for the download.
        struct rlimit before {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
        auto previous = ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit low = before;
        low.rlim_cur = 1 << 20;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &low), 0);
        const Outcome outcome = session.download(file.uuid);
        ::setrlimit(RLIMIT_FSIZE, &before);
        ::signal(SIGXFSZ, previous);
        EXPECT_EQ(outcome.result, xfer::kError);
        EXPECT_EQ(outcome.error, "Unable to write to local destination path!");
    }
    {
        // The stored blocks are under another key than the item's.
        StoredFile file = session.store(patterned(100), "other key.bin");
        const Bytes otherKey = testsupport::oracleRandom(32);
        const Bytes iv = testsupport::oracleRandom(16);
        const Bytes cipher = testsupport::oracleCbcEncrypt(otherKey, iv, patterned(100));
        std::vector<devserver::Chunk> chunks{{0, 99, sha256Hex(cipher)}};
        devserver::Item item = *server().items().find(session.owner(), file.uuid);
        item.uuid.clear();
        item.chunks = chunks;
        item.treehash = devserver::treeHashHex(chunks);
        auto stored = devserver::storeFile(server(), item, {std::string(cipher.begin(), cipher.end())});
        ASSERT_TRUE(stored);
        const Outcome outcome = session.download(stored->uuid);
        EXPECT_EQ(outcome.result, xfer::kError);
        EXPECT_NE(outcome.result, xfer::kReceived);
    }
}

// A slow link: the block's answer trickles in for longer than the 30 s a
// request may take in all, but never stops moving, so it is not cut off.
TEST(FileDownload, ABlockThatKeepsMovingIsNotCutOff) {
    DownloadSession session("trickle");
    const StoredFile file = session.store(patterned(64), "slow.bin");
    Fault trickle;
    trickle.trickle = true;
    trickle.trickleInterval = std::chrono::milliseconds(400);
    trickle.times = 1;
    FaultFor slow("/filerecv/getblock/", trickle);
    const auto started = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(session.engine->mutex());
        ASSERT_TRUE(session.engine->fileReceive_add(file.uuid, session.folder.destination(), "n", std::nullopt));
    }
    // Each wait is bounded by the recorder's guard; the trickle outlasts one.
    bool ended = false;
    for (int i = 0; i < 4 && !ended; ++i)
        ended = session.transfers.waitUntil([](const std::vector<testsupport::PostedNotification>& posted) {
            return !posted.empty() && posted.back().result != xfer::kDownloading;
        });
    ASSERT_TRUE(ended);
    // The engine posts its end of queue just after: both recorders must still
    // be there for it.
    ASSERT_TRUE(session.recorder.waitIdle());
    ASSERT_TRUE(session.transfers.waitIdle());
    const auto end = session.transfers.last(xfer::kRemoteFileDownloadNotification);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->result, xfer::kReceived) << testsupport::lastError(*session.engine).value_or("");
    // The check that the trickle outlasted the whole-request limit, not a
    // timing claim about the client.
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

TEST(FileDownload, AnIdentifierThatIsNotAUuidQueuesNothing) {
    DownloadSession session("uuid");
    for (const char* id : {"../../etc/passwd", "", "root"}) {
        EXPECT_FALSE(session.engine->fileReceive_add(id, session.folder.destination(), "n", std::nullopt));
    }
    EXPECT_FALSE(fs::exists(session.folder.destination()));
}

}  // namespace
}  // namespace ostrelcomm::downloadtest
