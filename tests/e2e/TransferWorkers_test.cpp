// The workers that prepare an upload's next block and decrypt and write a
// download's last block while a request is on its way: caught halfway by an
// abort, an error or the engine's end, they end by themselves, touch nothing
// of the job, and leave the job's running digest exactly as the blocks sent;
// a block that fails on one still ends its download with its own message.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DownloadTestSupport.h"
#include "devserver/DevServer.h"
#include "devserver/Fault.h"
#include "jobs/SrvComm.h"
#include "platform/UrlSession.h"
#include "support/WorkerGate.h"
#include "xfer/FileReceiveBlockWriter.h"
#include "xfer/FileSendBlockPrefetch.h"
#include "xfer/XferNotifications.h"

namespace ostrelcomm::downloadtest {
namespace {

constexpr auto kGuard = std::chrono::seconds(30);
constexpr char kStore[] = "/filesend/store/";

// Holds every upload worker that prepares block `blockNum` until the end of
// the scope (or open()).
struct HeldPreparation {
    std::shared_ptr<testsupport::WorkerGate> gate = std::make_shared<testsupport::WorkerGate>();
    explicit HeldPreparation(std::uint64_t blockNum) {
        FileSendBlockPrefetch::replaceWorkerHook([gate = gate, blockNum](std::uint64_t n) {
            if (n == blockNum) gate->arriveAndWait();
        });
    }
    ~HeldPreparation() { open(); }
    void open() {
        FileSendBlockPrefetch::replaceWorkerHook(nullptr);
        gate->open();
    }
};

std::optional<std::string> upload(DownloadSession& session, const fs::path& path) {
    return session.engine->fileSend_add(path, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "tag");
}

std::string lastUploadResult(const DownloadSession& session) {
    auto end = session.transfers.last(xfer::kLocalFileUploadNotification);
    return end ? end->result : std::string();
}

std::string uploadedUuid(const DownloadSession& session) {
    auto end = session.transfers.last(xfer::kLocalFileUploadNotification);
    const auto* data = end ? end->data<xfer::LocalFileUploadPayload>() : nullptr;
    return data ? std::any_cast<std::string>(data->at(xfer::kUUIDKey)) : std::string();
}

// The last upload's file is stored with the digest of `content` in its
// metadata and comes back byte for byte.
void expectStoredWhole(DownloadSession& session, const Bytes& content) {
    const std::string uuid = uploadedUuid(session);
    const auto item = session.stored(uuid);
    ASSERT_TRUE(item);
    const auto metadata = session.oracle().openMetadata(item->itemkey, item->metadata);
    ASSERT_TRUE(metadata);
    EXPECT_EQ((*metadata)["filehash-SHA256"], sha256Hex(content));
    const Outcome back = session.download(uuid);
    ASSERT_EQ(back.result, xfer::kReceived);
    EXPECT_TRUE(readFile(back.localURL()) == content);
    EXPECT_EQ(back.value<std::string>(xfer::kComputedFileHashKey), sha256Hex(content));
}

TEST(TransferWorkers, AnUploadAbortedWhileItsNextBlockIsPreparedEndsAndSoDoesTheWorker) {
    DownloadSession session("prep-abort");
    const fs::path path = session.folder.root / "two.bin";
    writeFile(path, patterned(kBlock + 10));
    HeldPreparation held(1);
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("PUT", kStore, stall);
    const auto id = upload(session, path);
    ASSERT_TRUE(id);
    // Block 0 on its way (held by the server), block 1 being prepared.
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    ASSERT_TRUE(held.gate->waitForArrivals());
    EXPECT_TRUE(session.engine->abortJobs({*id}).at(*id));
    server().releaseStalls();
    ASSERT_TRUE(session.recorder.waitIdle());
    server().clearFaults();
    EXPECT_EQ(lastUploadResult(session), xfer::kAborted);
    held.open();
    EXPECT_TRUE(FileSendBlockPrefetch::waitForNoLiveWorkers(kGuard));
    EXPECT_FALSE(session.stored(uploadedUuid(session)));
}

TEST(TransferWorkers, AnEngineGoneWhileABlockIsPreparedLeavesNoWorker) {
    auto session = std::make_unique<DownloadSession>("prep-gone");
    const fs::path path = session->folder.root / "two.bin";
    writeFile(path, patterned(kBlock + 10));
    HeldPreparation held(1);
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("PUT", kStore, stall);
    ASSERT_TRUE(upload(*session, path));
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    ASSERT_TRUE(held.gate->waitForArrivals());
    session.reset();
    server().releaseStalls();
    server().clearFaults();
    held.open();
    EXPECT_TRUE(FileSendBlockPrefetch::waitForNoLiveWorkers(kGuard));
    EXPECT_TRUE(UrlSession::waitForNoLiveWorkers(kGuard));
}

// Block 1 is prepared (its clear bytes fed to the worker's copy of the
// digest) while block 0 fails: the resumed job sends block 0 again, then
// block 1, and the file's digest takes each block exactly once.
TEST(TransferWorkers, AnUploadThatFailsWithItsNextBlockPreparedResumesToTheSameFile) {
    DownloadSession session("prep-resume");
    const Bytes content = patterned(2 * kBlock + 300, 3);
    const fs::path path = session.folder.root / "three.bin";
    writeFile(path, content);
    HeldPreparation held(1);
    devserver::Fault broken = devserver::Fault::exception(500, "InternalServerError", "Disk full");
    broken.stall = true;
    broken.times = 1;
    server().setFault("PUT", kStore, broken);
    const auto id = upload(session, path);
    ASSERT_TRUE(id);
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    ASSERT_TRUE(held.gate->waitForArrivals());
    held.open();
    server().releaseStalls();
    ASSERT_TRUE(session.recorder.waitIdle());
    server().clearFaults();
    ASSERT_EQ(lastUploadResult(session), xfer::kError);

    EXPECT_TRUE(session.engine->resumeJobs({*id}).at(*id));
    ASSERT_TRUE(session.recorder.waitIdle());
    ASSERT_EQ(lastUploadResult(session), xfer::kSent);
    expectStoredWhole(session, content);
    EXPECT_TRUE(FileSendBlockPrefetch::waitForNoLiveWorkers(kGuard));
}

// The server finds block 0 damaged on its way: the block sent again is
// prepared once more by a worker, not read in line by the engine, from the
// digest as the job holds it, and the file is stored whole, its digest
// taking each block once.
TEST(TransferWorkers, ABlockSentAgainIsPreparedOnAWorker) {
    DownloadSession session("resend-worker");
    const Bytes content = patterned(kBlock + 500, 7);
    const fs::path path = session.folder.root / "resent.bin";
    writeFile(path, content);
    struct Prepared {
        std::mutex mutex;
        std::vector<std::uint64_t> blocks;
    };
    auto prepared = std::make_shared<Prepared>();
    FileSendBlockPrefetch::replaceWorkerHook([prepared](std::uint64_t n) {
        std::lock_guard lock(prepared->mutex);
        prepared->blocks.push_back(n);
    });
    devserver::Fault damaged = devserver::Fault::badChecksum();
    damaged.times = 1;
    server().setFault("PUT", kStore, damaged);
    ASSERT_TRUE(upload(session, path));
    ASSERT_TRUE(session.recorder.waitIdle());
    server().clearFaults();
    FileSendBlockPrefetch::replaceWorkerHook(nullptr);
    ASSERT_EQ(lastUploadResult(session), xfer::kSent);
    {
        std::lock_guard lock(prepared->mutex);
        EXPECT_EQ(std::count(prepared->blocks.begin(), prepared->blocks.end(), 0u), 2);
    }

    expectStoredWhole(session, content);
    EXPECT_TRUE(FileSendBlockPrefetch::waitForNoLiveWorkers(kGuard));
}

// The job waits, with nothing in flight, for its first block's preparation
// (held) when the abort comes: it ends aborted once the block is ready, sends
// no block, and drops the file the server named.
TEST(TransferWorkers, AnUploadAbortedWhileItWaitsForABlockEndsWithoutSendingIt) {
    DownloadSession session("prep-wait-abort");
    const fs::path path = session.folder.root / "two.bin";
    writeFile(path, patterned(kBlock + 10));
    HeldPreparation held(0);
    server().clearRequests();
    const auto id = upload(session, path);
    ASSERT_TRUE(id);
    ASSERT_TRUE(held.gate->waitForArrivals());
    // The prepare answer has been taken (the block is started from it).
    EXPECT_TRUE(session.engine->abortJobs({*id}).at(*id));
    held.open();
    ASSERT_TRUE(session.recorder.waitIdle());
    EXPECT_EQ(lastUploadResult(session), xfer::kAborted);
    std::vector<std::string> lines;
    for (const auto& request : server().requests()) lines.push_back(request.method + " " + request.path);
    EXPECT_EQ(lines, (std::vector<std::string>{"GET /filesend/prepare/", "DELETE /filesend/"}));
    EXPECT_TRUE(FileSendBlockPrefetch::waitForNoLiveWorkers(kGuard));
}

// Two blocks are prepared side by side while one is sent; the first of them
// is held in its preparation while the one after it reads on. The blocks go
// out in their order, each once, and the file's digest takes each once.
TEST(TransferWorkers, BlocksPreparedSideBySideGoOutInOrderWhicheverIsSlower) {
    for (const std::uint64_t slow : {1u, 2u}) {
        SCOPED_TRACE("held block " + std::to_string(slow));
        DownloadSession session(slow == 1 ? "side-by-side-1" : "side-by-side-2");
        const Bytes content = patterned(3 * kBlock + 77, 5);
        const fs::path path = session.folder.root / "four.bin";
        writeFile(path, content);
        HeldPreparation held(slow);
        server().clearRequests();
        const auto id = upload(session, path);
        ASSERT_TRUE(id);
        ASSERT_TRUE(held.gate->waitForArrivals());
        held.open();
        ASSERT_TRUE(session.recorder.waitIdle());
        ASSERT_EQ(lastUploadResult(session), xfer::kSent);

        std::vector<std::string> sent;
        for (const auto& request : server().requests()) {
            if (request.path != kStore) continue;
            for (const auto& [name, value] : request.headers)
                if (name == "x-sb-blocknum") sent.push_back(value);
        }
        EXPECT_EQ(sent, (std::vector<std::string>{"0", "1", "2", "3"}));
        expectStoredWhole(session, content);
        EXPECT_TRUE(FileSendBlockPrefetch::waitForNoLiveWorkers(kGuard));
    }
}

// The download is aborted (by an observer, on the engine's thread), or its
// engine goes, while its first block is held on the way to the disk: the
// temporary file goes with the abort, and the worker ends either way.
TEST(TransferWorkers, ADownloadAbortedWhileABlockIsWrittenLeavesNothingBehind) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "engine gone" : "aborted");
        auto session = std::make_unique<DownloadSession>(destroy ? "write-gone" : "write-abort");
        const StoredFile file = session->store(patterned(kBlock * 2), "held.bin");
        const fs::path destination = session->folder.destination();
        const fs::path temporary = session->temporaryFile(file.uuid);
        auto gate = std::make_shared<testsupport::WorkerGate>();
        FileReceiveBlockWriter::replaceWorkerHook([gate] { gate->arriveAndWait(); });
        std::optional<std::string> id;
        bool acted = false;
        DownloadSession* raw = session.get();
        // At the move to block 1, before its request goes out: the abort, or
        // (for the engine's end) a stall that holds that request.
        auto token = session->engine->notifications()->addObserver(
            xfer::kRemoteFileDownloadNotification, [&, raw](const Notification& n) {
                const auto* data = userInfoValue<xfer::RemoteFileDownloadPayload>(n.userInfo, "CustomData");
                if (acted || !id || !data || !data->count(xfer::kDownloadBlockNumKey)) return;
                if (std::any_cast<std::uint64_t>(data->at(xfer::kDownloadBlockNumKey)) != 1) return;
                acted = true;
                if (!destroy) {
                    raw->engine->abortJobs({*id});
                    return;
                }
                devserver::Fault stall = devserver::Fault::stalled();
                stall.times = 1;
                server().setFault("GET", "/filerecv/getblock/", stall);
            });
        {
            std::lock_guard lock(session->engine->mutex());
            id = session->engine->fileReceive_add(file.uuid, destination, "n", std::nullopt);
        }
        ASSERT_TRUE(id);
        ASSERT_TRUE(gate->waitForArrivals());
        if (destroy) {
            ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
            session->engine->notifications()->removeObserver(token);
            session.reset();
            server().releaseStalls();
            server().clearFaults();
        } else {
            ASSERT_TRUE(session->recorder.waitIdle());
            session->engine->notifications()->removeObserver(token);
            auto end = session->transfers.last(xfer::kRemoteFileDownloadNotification);
            ASSERT_TRUE(end);
            EXPECT_EQ(end->result, xfer::kAborted);
        }
        FileReceiveBlockWriter::replaceWorkerHook(nullptr);
        gate->open();
        EXPECT_TRUE(FileReceiveBlockWriter::waitForNoLiveWorkers(kGuard));
        if (!destroy) {
            EXPECT_FALSE(fs::exists(temporary));
            EXPECT_EQ(entriesOf(destination), std::set<std::string>{});
        }
    }
}

// Block 1's answer arrives while block 0 is held on its way to the disk, and
// waits for it; the abort comes as it arrives (before or after it is set to
// wait). Either way the download ends aborted once block 0 is done, block 1
// is never written, no further block is asked for, and nothing is left.
TEST(TransferWorkers, ADownloadAbortedWhileAnAnswerWaitsForTheBlockBeforeLeavesNothingBehind) {
    DownloadSession session("answer-wait-abort");
    const StoredFile file = session.store(patterned(kBlock * 3), "waiting.bin");
    const fs::path destination = session.folder.destination();
    const fs::path temporary = session.temporaryFile(file.uuid);
    auto gate = std::make_shared<testsupport::WorkerGate>();
    FileReceiveBlockWriter::replaceWorkerHook([gate] { gate->arriveAndWait(); });
    server().clearRequests();
    const auto id = session.engine->fileReceive_add(file.uuid, destination, "n", std::nullopt);
    ASSERT_TRUE(id);
    ASSERT_TRUE(gate->waitForArrivals());
    // The preparation, block 0, block 1.
    ASSERT_TRUE(server().waitForRequestCount(3, kGuard));
    EXPECT_TRUE(session.engine->abortJobs({*id}).at(*id));
    FileReceiveBlockWriter::replaceWorkerHook(nullptr);
    gate->open();
    ASSERT_TRUE(session.recorder.waitIdle());
    auto end = session.transfers.last(xfer::kRemoteFileDownloadNotification);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->result, xfer::kAborted);
    std::size_t blockRequests = 0;
    for (const auto& request : server().requests()) blockRequests += request.path == "/filerecv/getblock/";
    EXPECT_EQ(blockRequests, 2u);
    EXPECT_TRUE(FileReceiveBlockWriter::waitForNoLiveWorkers(kGuard));
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_EQ(entriesOf(destination), std::set<std::string>{});
}

// Block 0 does not decrypt (its body, fingerprinted as it is, cut short of a
// whole cipher block); its worker is held until the request for block 1 has
// reached the server, which answers it or fails it. Whichever comes first,
// the job ends with the decryption's message, block 1 is not written, and no
// further block is asked for.
TEST(TransferWorkers, ABlockThatDoesNotDecryptEndsTheDownloadWithItsOwnMessage) {
    for (const bool nextFails : {false, true}) {
        SCOPED_TRACE(nextFails ? "next request fails" : "next answer arrives");
        DownloadSession session(nextFails ? "undecryptable-next-fails" : "undecryptable");
        const StoredFile sound = session.store(patterned(kBlock * 2 + 10), "spoilt.bin");
        std::vector<std::string> bodies = sound.bodies;
        bodies[0].pop_back();
        std::vector<devserver::Chunk> chunks = sound.chunks;
        chunks[0].chksum = sha256Hex(Bytes(bodies[0].begin(), bodies[0].end()));
        devserver::Item item = *server().items().find(session.owner(), sound.uuid);
        item.uuid.clear();
        item.chunks = chunks;
        item.treehash = devserver::treeHashHex(chunks);
        const auto stored = devserver::storeFile(server(), item, bodies);
        ASSERT_TRUE(stored);

        auto gate = std::make_shared<testsupport::WorkerGate>();
        FileReceiveBlockWriter::replaceWorkerHook([gate] { gate->arriveAndWait(); });
        // At the move to block 1, on the engine's thread, before its request goes out.
        bool armed = false;
        auto token = session.engine->notifications()->addObserver(
            xfer::kRemoteFileDownloadNotification, [&](const Notification& n) {
                const auto* data = userInfoValue<xfer::RemoteFileDownloadPayload>(n.userInfo, "CustomData");
                if (armed || !nextFails || !data || !data->count(xfer::kDownloadBlockNumKey)) return;
                if (std::any_cast<std::uint64_t>(data->at(xfer::kDownloadBlockNumKey)) != 1) return;
                armed = true;
                devserver::Fault broken = devserver::Fault::exception(500, "InternalServerError", "Disk full");
                broken.times = 1;
                server().setFault("GET", "/filerecv/getblock/", broken);
            });
        server().clearRequests();
        const auto id = session.engine->fileReceive_add(stored->uuid, session.folder.destination(), "n", std::nullopt);
        ASSERT_TRUE(id);
        ASSERT_TRUE(gate->waitForArrivals());
        // The preparation, block 0, block 1.
        ASSERT_TRUE(server().waitForRequestCount(3, kGuard));
        FileReceiveBlockWriter::replaceWorkerHook(nullptr);
        gate->open();
        ASSERT_TRUE(session.recorder.waitIdle());
        session.engine->notifications()->removeObserver(token);
        server().clearFaults();

        auto end = session.transfers.last(xfer::kRemoteFileDownloadNotification);
        ASSERT_TRUE(end);
        EXPECT_EQ(end->result, xfer::kError);
        EXPECT_EQ(testsupport::lastError(*session.engine).value_or("").rfind("Non cryptor error: ", 0), 0u)
            << testsupport::lastError(*session.engine).value_or("");
        EXPECT_EQ(fs::file_size(session.temporaryFile(stored->uuid)), 0u);
        std::size_t blockRequests = 0;
        for (const auto& request : server().requests()) blockRequests += request.path == "/filerecv/getblock/";
        EXPECT_EQ(blockRequests, 2u);
        EXPECT_TRUE(FileReceiveBlockWriter::waitForNoLiveWorkers(kGuard));
    }
}

}  // namespace
}  // namespace ostrelcomm::downloadtest
