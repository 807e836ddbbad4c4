#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "crypto/Digest.h"
#include "crypto/SecretBytes.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// A download's block decrypted, fed to the running clear digest and written
// to the temporary file on a thread of its own, while the next block's request
// is on its way. One block at a time: the next one is handed over only once
// the one before has been finished, so a download holds two blocks at most
// (the one worked on, the one arriving) and feeds its digest in block order.
//
// The worker touches nothing of the job: it decrypts its own copy of the key,
// writes through a descriptor opened for it and feeds its own copy of the
// digest, which the job takes back when it finishes the block. Owned by the
// download's context and used under the engine's lock. Nothing joins the
// worker: cancel() (and destruction) only flags it; a cancelled block is not
// written, and the worker ends by itself within one block's work.
class FileReceiveBlockWriter {
public:
    static constexpr const char* kUnwritable = "Unable to write to local destination path!";
    static constexpr const char* kBlockLength = "Block length does not match its range!";

    // One block as it arrived, with all the worker needs of it.
    struct Block {
        // Opened for the worker, which closes it (DownloadFileSystem::
        // writeAtAndClose); -1 when the file could not be opened, which is
        // reported once the block is known to decrypt, as a block that does
        // not decrypt is the fault reported first.
        int fd = -1;
        // The answer's body: AES-256-CBC/PKCS#7, decrypted in place.
        Bytes cipher;
        // Where its clear bytes go in the file, and how many there must be.
        std::uint64_t offset = 0;
        std::uint64_t clearLength = 0;
        // The file key's key and IV.
        SecretBytes key;
        SecretBytes iv;
    };

    FileReceiveBlockWriter() = default;
    ~FileReceiveBlockWriter();
    FileReceiveBlockWriter(const FileReceiveBlockWriter&) = delete;
    FileReceiveBlockWriter& operator=(const FileReceiveBlockWriter&) = delete;

    // Hands `block` over to be decrypted, fed to a copy of `clearHash` and
    // written. The block before must have been finished.
    void start(Block block, const Digest& clearHash);

    // Waits for the block handed over last (at most one block's work). Absent
    // when there is none or it was written whole, its digest then replacing
    // `clearHash`; else the message the download ends with: the cipher's
    // ("Cryptor error …", "Non cryptor error: …"), kBlockLength for a clear
    // length other than the range's, kUnwritable. A failed block leaves
    // `clearHash` as it was and nothing of it in the file.
    std::optional<std::string> finish(Digest& clearHash);

    // When the block handed over last is still being worked on: `then` is
    // called once it is done (on the worker's thread, whether or not it is
    // still wanted by then), and true is returned. False, with `then`
    // dropped, when finish() would not wait. Lets the job wait for the block
    // without holding anything.
    bool whenFinished(std::function<void()> then);

    // Drops the block handed over: not written if it has not been yet.
    void cancel();

    // Workers still running, in all downloads; for tests, which wait for none.
    static std::size_t liveWorkers();
    // Waits (at most `guard`) until no worker runs; true when none does.
    static bool waitForNoLiveWorkers(std::chrono::milliseconds guard);

    // Called by every worker, on its own thread, before it decrypts, hashes or
    // writes anything. Returns the hook it replaces; an empty one removes it.
    // For tests that need a block caught on its way to the disk.
    using WorkerHook = std::function<void()>;
    static WorkerHook replaceWorkerHook(WorkerHook hook);

private:
    struct Slot;
    std::shared_ptr<Slot> slot_;
};

}  // namespace ostrelcomm
