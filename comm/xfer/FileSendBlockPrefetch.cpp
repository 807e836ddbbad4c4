#include "xfer/FileSendBlockPrefetch.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>

#include "xfer/DetachedWorkers.h"

namespace ostrelcomm {

namespace {

DetachedWorkers<FileSendBlockPrefetch::WorkerHook>& workers() {
    static auto* all = new DetachedWorkers<FileSendBlockPrefetch::WorkerHook>;
    return *all;
}

}  // namespace

struct FileSendBlockPrefetch::Slot {
    std::uint64_t blockNum = 0;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::optional<Prepared> result;
    std::exception_ptr failure;
};

namespace {

// What a worker needs, all its own.
struct Work {
    std::filesystem::path localURL;
    std::int64_t fileSize = 0;
    std::int32_t blockSize = 0;
    std::uint64_t blockNum = 0;
    EncryptionKey fileKey;
    Digest clearHash;
    std::uint64_t hashedBlocks = 0;
    Bytes buffer;
};

}  // namespace

namespace {

template <class Slot, class Prepared>
void prepare(Slot& slot, Work work) {
    if (const auto hook = workers().hook()) hook(work.blockNum);

    std::optional<Prepared> result;
    std::exception_ptr failure;
    if (!slot.cancelled.load()) {
        try {
            Prepared prepared;
            const std::uint64_t hashedBefore = work.hashedBlocks;
            prepared.block = FileSendBlockReader::read(work.localURL, work.fileSize, work.blockSize, work.blockNum,
                                                       work.fileKey, work.clearHash, work.hashedBlocks,
                                                       std::move(work.buffer));
            if (prepared.block) prepared.bodyDigest = std::move(prepared.block->bodyDigest);
            if (work.hashedBlocks != hashedBefore) prepared.clearHash.emplace(std::move(work.clearHash));
            prepared.hashedBlocks = work.hashedBlocks;
            result.emplace(std::move(prepared));
        } catch (...) {
            failure = std::current_exception();
        }
    }
    {
        std::lock_guard lock(slot.mutex);
        // A cancelled block is dropped here, with the worker's last reference.
        if (!slot.cancelled.load()) {
            slot.result = std::move(result);
            slot.failure = std::move(failure);
        }
        slot.done = true;
    }
    slot.ended.notify_all();
}

}  // namespace

FileSendBlockPrefetch::~FileSendBlockPrefetch() { cancel(); }

void FileSendBlockPrefetch::start(const std::filesystem::path& localURL, std::int64_t fileSize,
                                  std::int32_t blockSize, std::uint64_t blockNum, const EncryptionKey& fileKey,
                                  const Digest& clearHash, std::uint64_t hashedBlocks) {
    if (slot_) return;
    auto slot = std::make_shared<Slot>();
    slot->blockNum = blockNum;
    // The block's memory comes from this thread, not from the short-lived
    // worker's: the allocator keeps freed memory per thread, and a block per
    // worker would leave megabytes behind with each one.
    Bytes buffer;
    buffer.reserve(blockSize > 0 ? static_cast<std::size_t>(blockSize) + 16 : 0);
    Work work{localURL, fileSize, blockSize, blockNum, fileKey, Digest(clearHash), hashedBlocks, std::move(buffer)};
    // Without a thread the block is read in line when its turn comes.
    if (!workers().launch([slot, work = std::move(work)]() mutable { prepare<Slot, Prepared>(*slot, std::move(work)); }))
        return;
    slot_ = std::move(slot);
}

std::optional<FileSendBlockPrefetch::Prepared> FileSendBlockPrefetch::take(std::uint64_t blockNum) {
    if (!slot_ || slot_->blockNum > blockNum) return std::nullopt;
    std::shared_ptr<Slot> slot = std::move(slot_);
    slot_.reset();
    if (slot->blockNum < blockNum) {
        slot->cancelled = true;
        return std::nullopt;
    }
    std::unique_lock lock(slot->mutex);
    slot->ended.wait(lock, [&] { return slot->done; });
    // Taken out of the slot: the worker may drop the slot last, and the
    // exception must not be released on its thread while this one reads it.
    if (std::exception_ptr failure = std::exchange(slot->failure, nullptr)) std::rethrow_exception(failure);
    return std::move(slot->result);
}

void FileSendBlockPrefetch::cancel() {
    if (!slot_) return;
    slot_->cancelled = true;
    slot_.reset();
}

std::size_t FileSendBlockPrefetch::liveWorkers() { return workers().live(); }

bool FileSendBlockPrefetch::waitForNoLiveWorkers(std::chrono::milliseconds guard) {
    return workers().waitForNone(guard);
}

FileSendBlockPrefetch::WorkerHook FileSendBlockPrefetch::replaceWorkerHook(WorkerHook hook) {
    return workers().replaceHook(std::move(hook));
}

}  // namespace ostrelcomm
