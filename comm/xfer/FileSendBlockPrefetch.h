#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/Digest.h"
#include "crypto/EncryptionKey.h"
#include "platform/Bytes.h"
#include "xfer/FileSendBlockReader.h"

namespace ostrelcomm {

// The next blocks of an upload, read, hashed and encrypted on threads of
// their own while the block before them is on its way: the protocol allows
// one request at a time, not one block in memory at a time. At most `depth`
// blocks are prepared ahead, each on its own thread (a block's encryption is
// serial, so blocks side by side are what makes it faster), and an upload
// holds depth + 1 blocks at most (the one sent, the ones prepared).
//
// The workers touch nothing of the job: each reads the file through its own
// descriptor and feeds its own copy of the running clear digest, handed on
// from the worker of the block before once that one's clear bytes are fed;
// the job adopts it only when it takes the block. A block prepared and then
// not taken (a resend of an earlier block, an end, an abort) leaves the job's
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

    // Prepares up to `depth` blocks ahead (at least one).
    explicit FileSendBlockPrefetch(std::size_t depth = 1);
    ~FileSendBlockPrefetch();
    FileSendBlockPrefetch(const FileSendBlockPrefetch&) = delete;
    FileSendBlockPrefetch& operator=(const FileSendBlockPrefetch&) = delete;

    // Starts preparing block `blockNum` and the blocks after it, up to the
    // depth and the end's check, unless a later block is already held. Held
    // blocks before `blockNum` are dropped; the held ones from `blockNum` on
    // are kept and the next are chained to them. `clearHash` and
    // `hashedBlocks` are the job's as they stand (copied), used when nothing
    // is held.
    void start(const std::filesystem::path& localURL, std::int64_t fileSize, std::int32_t blockSize,
               std::uint64_t blockNum, const EncryptionKey& fileKey, const Digest& clearHash,
               std::uint64_t hashedBlocks);

    // Prepares block `blockNum` once more, in front of the blocks held after
    // it (which are kept; held ones up to it are dropped): a block sent again
    // after the server found it damaged, or one that lost its turn in the
    // clear digest. `clearHash` and `hashedBlocks` are the job's as they
    // stand (copied): the block feeds the digest only when it is the next
    // one the digest has not taken. Holds one block more than the depth
    // until it is taken. Without a thread nothing is prepared.
    void again(const std::filesystem::path& localURL, std::int64_t fileSize, std::int32_t blockSize,
               std::uint64_t blockNum, const EncryptionKey& fileKey, const Digest& clearHash,
               std::uint64_t hashedBlocks);

    // Block `blockNum` when it is the first one held, once its preparation
    // has ended (waiting at most one block's work); throws
    // FileSendBlockReader::Failure as the read would have. Absent when
    // another block is held first: one for an earlier block is dropped, one
    // for a later block kept. The job checks that the digest it comes with
    // fits its own (hashedBlocks) before it adopts it: a block whose turn in
    // the digest was lost (the block before dropped, failed) comes without.
    std::optional<Prepared> take(std::uint64_t blockNum);

    // When block `blockNum` is the first one held and still being prepared:
    // `then` is called once its preparation has ended (on the worker's
    // thread, whether or not the block is still wanted by then), and true is
    // returned. False, with `then` dropped, when take(blockNum) would not
    // wait. Lets the job wait for its block without holding anything.
    bool whenPrepared(std::uint64_t blockNum, std::function<void()> then);

    // Drops whatever is held or being prepared, and the spare buffers.
    void cancel();

    // The storage of a block once sent, for a block prepared later (as many
    // as the depth are kept, the rest let go). An upload so works in the same
    // few buffers from its first block to its last: blocks made anew would
    // each come from the allocator of whichever thread ran the step, which
    // keeps what is freed per thread, and the upload's memory would grow with
    // the threads it met.
    void reuse(Bytes buffer);

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
    // A spare buffer, or a new one, for a block of `blockSize` bytes.
    Bytes blockBuffer(std::int32_t blockSize);

    std::size_t depth_;
    std::vector<Bytes> spares_;
    // In block order, consecutive.
    std::deque<std::shared_ptr<Slot>> slots_;
};

}  // namespace ostrelcomm
