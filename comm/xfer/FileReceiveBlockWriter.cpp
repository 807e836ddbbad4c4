#include "xfer/FileReceiveBlockWriter.h"

#include <openssl/err.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>

#include "crypto/StreamCryptor.h"
#include "platform/ReusedThreads.h"
#include "xfer/DetachedWorkers.h"
#include "xfer/DownloadFileSystem.h"

namespace ostrelcomm {

namespace {

DetachedWorkers<FileReceiveBlockWriter::WorkerHook>& workers() {
    static auto* all = new DetachedWorkers<FileReceiveBlockWriter::WorkerHook>;
    return *all;
}

// AES's block: decryption in place needs this much room past the cipher.
constexpr std::size_t kCipherBlock = 16;

// Decrypts `buffer` in place; its capacity already holds one cipher block
// more, so nothing is allocated here. Every clear byte lands no later than
// its cipher byte was read.
std::optional<std::string> decryptInPlace(Bytes& buffer, const SecretBytes& key, const SecretBytes& iv) {
    std::optional<StreamCryptor> cryptor;
    try {
        // The cipher library's error queue is per thread: this worker's own
        // is the one that tells why the cryptor failed.
        ERR_clear_error();
        cryptor.emplace(StreamCryptor::Operation::decrypt, CipherAlgorithm::aes256, key.view(), iv.view());
    } catch (const std::exception& error) {
        return "Cryptor error " + std::to_string(ERR_peek_last_error()) + ": " + error.what();
    }
    try {
        const std::size_t cipherSize = buffer.size();
        buffer.resize(cipherSize + kCipherBlock);
        std::size_t written = cryptor->update(ByteView(buffer.data(), cipherSize), buffer.data());
        written += cryptor->final(buffer.data() + written);
        buffer.resize(written);
    } catch (const std::exception& error) {
        return std::string("Non cryptor error: ") + error.what();
    }
    return std::nullopt;
}

}  // namespace

struct FileReceiveBlockWriter::Slot {
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::optional<std::string> failure;
    std::optional<Digest> clearHash;
    // Called once `done` is set.
    std::function<void()> then;
};

namespace {

using Block = FileReceiveBlockWriter::Block;

// The block's work, short of handing the outcome over: a failure message,
// or none, with `written` set once the block is in the file and in `digest`.
std::optional<std::string> work(const std::atomic<bool>& cancelled, Block& block, Digest& digest, bool& written) {
    if (cancelled.load()) return std::nullopt;
    if (auto failure = decryptInPlace(block.cipher, block.key, block.iv)) return failure;
    const Bytes& clear = block.cipher;
    if (clear.size() != block.clearLength) return FileReceiveBlockWriter::kBlockLength;
    if (block.fd < 0) return FileReceiveBlockWriter::kUnwritable;
    if (cancelled.load()) return std::nullopt;
    // The digest and the write only read the clear bytes: side by side, the
    // block costs the longer of the two instead of both.
    std::optional<std::string> hashFailure;
    const auto hash = [&] {
        try {
            digest.update(clear);
        } catch (const std::exception& error) {
            hashFailure = std::string("Non cryptor error: ") + error.what();
        }
    };
    ReusedThreads::Task hashing;
    bool beside = false;
    try {
        beside = hashing.start(hash);
    } catch (...) {
        // No memory to hand it over: one after the other, as without a thread.
    }
    if (!beside) hash();
    const bool stored = DownloadFileSystem::writeAtAndClose(std::exchange(block.fd, -1), clear, block.offset);
    hashing.wait();
    if (hashFailure) return hashFailure;
    if (!stored) return FileReceiveBlockWriter::kUnwritable;
    written = true;
    return std::nullopt;
}

template <class Slot>
void writeBlock(Slot& slot, Block block, Digest digest) {
    if (const auto hook = workers().hook()) hook();

    bool written = false;
    std::optional<std::string> failure = work(slot.cancelled, block, digest, written);
    if (block.fd >= 0) ::close(block.fd);
    std::function<void()> then;
    {
        std::lock_guard lock(slot.mutex);
        slot.failure = std::move(failure);
        if (written) slot.clearHash.emplace(std::move(digest));
        slot.done = true;
        then = std::move(slot.then);
    }
    slot.ended.notify_all();
    if (then) then();
}

}  // namespace

FileReceiveBlockWriter::~FileReceiveBlockWriter() { cancel(); }

void FileReceiveBlockWriter::start(Block block, const Digest& clearHash) {
    cancel();
    auto slot = std::make_shared<Slot>();
    // The room for decryption in place comes from this thread, not from the
    // short-lived worker's: the allocator keeps freed memory per thread, and
    // a block per worker would leave megabytes behind with each one.
    block.cipher.reserve(block.cipher.size() + kCipherBlock);
    auto job = std::make_shared<std::pair<Block, Digest>>(std::move(block), Digest(clearHash));
    slot_ = slot;
    const auto write = [slot, job] { writeBlock(*slot, std::move(job->first), std::move(job->second)); };
    // No thread to be had: the block is done here and now.
    if (!workers().launch(write)) write();
}

std::optional<std::string> FileReceiveBlockWriter::finish(Digest& clearHash) {
    if (!slot_) return std::nullopt;
    std::shared_ptr<Slot> slot = std::move(slot_);
    slot_.reset();
    std::unique_lock lock(slot->mutex);
    slot->ended.wait(lock, [&] { return slot->done; });
    if (slot->failure) return std::move(slot->failure);
    if (slot->clearHash) clearHash = std::move(*slot->clearHash);
    return std::nullopt;
}

bool FileReceiveBlockWriter::whenFinished(std::function<void()> then) {
    if (!slot_) return false;
    std::lock_guard lock(slot_->mutex);
    if (slot_->done) return false;
    slot_->then = std::move(then);
    return true;
}

void FileReceiveBlockWriter::cancel() {
    if (!slot_) return;
    slot_->cancelled = true;
    slot_.reset();
}

std::size_t FileReceiveBlockWriter::liveWorkers() { return workers().live(); }

bool FileReceiveBlockWriter::waitForNoLiveWorkers(std::chrono::milliseconds guard) {
    return workers().waitForNone(guard);
}

FileReceiveBlockWriter::WorkerHook FileReceiveBlockWriter::replaceWorkerHook(WorkerHook hook) {
    return workers().replaceHook(std::move(hook));
}

}  // namespace ostrelcomm
