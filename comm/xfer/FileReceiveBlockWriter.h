#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "crypto/Digest.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// A download's decrypted block fed to the running clear digest and written to
// the temporary file on a thread of its own, while the next block's request
// is on its way. One block at a time: the next one is handed over only once
// the one before has been finished, so a download holds two blocks at most
// (the one written, the one arriving) and feeds its digest in block order.
//
// The worker touches nothing of the job: it writes through a descriptor
// opened for it and feeds its own copy of the digest, which the job takes
// back when it finishes the block. Owned by the download's context and used
// under the engine's lock. Nothing joins the worker: cancel() (and
// destruction) only flags it; a cancelled block is not written, and the
// worker ends by itself within one block's work.
class FileReceiveBlockWriter {
public:
    FileReceiveBlockWriter() = default;
    ~FileReceiveBlockWriter();
    FileReceiveBlockWriter(const FileReceiveBlockWriter&) = delete;
    FileReceiveBlockWriter& operator=(const FileReceiveBlockWriter&) = delete;

    // Hands `clear` over to be fed to a copy of `clearHash` and written at
    // `offset` through `fd`, which the worker closes (DownloadFileSystem::
    // writeAtAndClose). The block before must have been finished.
    void start(int fd, Bytes clear, std::uint64_t offset, const Digest& clearHash);

    // Waits for the block handed over last (at most one block's work): absent
    // when there is none, else whether it was written whole; its digest then
    // replaces `clearHash`.
    std::optional<bool> finish(Digest& clearHash);

    // Drops the block handed over: not written if it has not been yet.
    void cancel();

    // Workers still running, in all downloads; for tests, which wait for none.
    static std::size_t liveWorkers();
    // Waits (at most `guard`) until no worker runs; true when none does.
    static bool waitForNoLiveWorkers(std::chrono::milliseconds guard);

    // Called by every worker, on its own thread, before it hashes or writes
    // anything. Returns the hook it replaces; an empty one removes it. For
    // tests that need a block caught on its way to the disk.
    using WorkerHook = std::function<void()>;
    static WorkerHook replaceWorkerHook(WorkerHook hook);

private:
    struct Slot;
    std::shared_ptr<Slot> slot_;
};

}  // namespace ostrelcomm
