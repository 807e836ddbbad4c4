#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "crypto/Digest.h"
#include "crypto/EncryptionKey.h"
#include "platform/Bytes.h"
#include "xfer/FileSendBlockReader.h"

namespace ostrelcomm {

// The next block of an upload, read, hashed and encrypted on a thread of its
// own while the block before it is on its way: the protocol allows one
// request at a time, not one block in memory at a time. At most one block is
// prepared ahead, so an upload holds two at most (the one sent, the one
// prepared).
//
// The worker touches nothing of the job: it reads the file through its own
// descriptor and feeds its own copy of the running clear digest, which the
// job adopts only when it takes the block. A block prepared and then not
// taken (a resend of an earlier block, an end, an abort) leaves the job's
// digest as it was.
//
// Owned by the upload's context and used under the engine's lock. Nothing
// joins the worker: cancel() (and destruction) only flags it, and it stops
// before its next piece of work, dropping what it made; it ends by itself
// within one block's work.
class FileSendBlockPrefetch {
public:
    struct Prepared {
        // The block, or none past the file's end (checked unchanged).
        std::optional<FileSendBlockReader::Block> block;
        // SHA-256 of the encrypted block: the request's body digest.
        Bytes bodyDigest;
        // The job's running digest with this block fed, when it was the next
        // one the digest had not taken; hashedBlocks counts it then.
        std::optional<Digest> clearHash;
        std::uint64_t hashedBlocks = 0;
    };

    FileSendBlockPrefetch() = default;
    ~FileSendBlockPrefetch();
    FileSendBlockPrefetch(const FileSendBlockPrefetch&) = delete;
    FileSendBlockPrefetch& operator=(const FileSendBlockPrefetch&) = delete;

    // Starts preparing block `blockNum` unless a block is already held or
    // being prepared. `clearHash` and `hashedBlocks` are the job's as they
    // stand (copied).
    void start(const std::filesystem::path& localURL, std::int64_t fileSize, std::int32_t blockSize,
               std::uint64_t blockNum, const EncryptionKey& fileKey, const Digest& clearHash,
               std::uint64_t hashedBlocks);

    // Block `blockNum` when it is the one held, once its preparation has ended
    // (waiting at most one block's work); throws FileSendBlockReader::Failure
    // as the read would have. Absent when another block is held: one for an
    // earlier block is dropped, one for a later block kept.
    std::optional<Prepared> take(std::uint64_t blockNum);

    // Drops whatever is held or being prepared.
    void cancel();

    // Workers still running, in all uploads; for tests, which wait for none.
    static std::size_t liveWorkers();
    // Waits (at most `guard`) until no worker runs; true when none does.
    static bool waitForNoLiveWorkers(std::chrono::milliseconds guard);

    // Called by every worker, on its own thread, with the block number before
    // it reads anything. Returns the hook it replaces; an empty one removes
    // it. For tests that need a block caught in preparation.
    using WorkerHook = std::function<void(std::uint64_t blockNum)>;
    static WorkerHook replaceWorkerHook(WorkerHook hook);

private:
    struct Slot;
    std::shared_ptr<Slot> slot_;
};

}  // namespace ostrelcomm
