#include "xfer/FileSendBlockPrefetch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>

#include "platform/ReusedThreads.h"
#include "xfer/DetachedWorkers.h"

namespace ostrelcomm {

namespace {

DetachedWorkers<FileSendBlockPrefetch::WorkerHook>& workers() {
    static auto* all = new DetachedWorkers<FileSendBlockPrefetch::WorkerHook>;
    return *all;
}

// The running clear digest as it stands after one block, published once by
// that block's worker (or, for the first block of a start, by the start
// itself). Absent digest: the state after that block is not known (its read
// failed or was cancelled before its clear bytes were fed); the blocks after
// it are then prepared without feeding it.
struct ClearLink {
    std::mutex mutex;
    std::condition_variable published;
    bool isPublished = false;
    std::optional<Digest> digest;
    std::uint64_t hashedBlocks = 0;

    void publish(std::optional<Digest> value, std::uint64_t hashed) {
        {
            std::lock_guard lock(mutex);
            if (isPublished) return;
            digest = std::move(value);
            hashedBlocks = hashed;
            isPublished = true;
        }
        published.notify_all();
    }
    bool ready() {
        std::lock_guard lock(mutex);
        return isPublished;
    }
    // Waits until published; the link is not written afterwards.
    ClearLink& wait() {
        std::unique_lock lock(mutex);
        published.wait(lock, [this] { return isPublished; });
        return *this;
    }
};

std::shared_ptr<ClearLink> publishedLink(const Digest& clearHash, std::uint64_t hashedBlocks) {
    auto link = std::make_shared<ClearLink>();
    link->publish(Digest(clearHash), hashedBlocks);
    return link;
}

// One block's turn in the chain: the digest from the block before (`in`),
// fed with this block's clear bytes when it is the next one it has not
// taken, then handed on (`out`). Every worker publishes `out` whatever
// happens to it, so no worker after it waits for ever.
class ChainTurn : public FileSendBlockReader::ClearDigestTurn {
public:
    ChainTurn(std::shared_ptr<ClearLink> in, std::shared_ptr<ClearLink> out, std::uint64_t blockNum)
        : in_(std::move(in)), out_(std::move(out)), blockNum_(blockNum) {}

    bool ready() override { return in_->ready(); }
    Digest* take() override {
        ClearLink& in = in_->wait();
        if (in.digest && in.hashedBlocks == blockNum_) {
            mine_.emplace(*in.digest);
            return &*mine_;
        }
        return nullptr;
    }
    void done(bool fed) override {
        if (fed && mine_) {
            out_->publish(Digest(*mine_), blockNum_ + 1);
            fedWhole_ = true;
            return;
        }
        mine_.reset();
        if (!fed) out_->publish(std::nullopt, 0);
        else passOn();
    }
    // Publishes `out` if the read did not: a block that fed nothing hands
    // on what it was given when that already holds it, else nothing.
    void finish() {
        if (!fedWhole_) mine_.reset();
        passOn();
    }
    // The digest after this block when this block fed it whole.
    std::optional<Digest> takeFed() { return fedWhole_ ? std::move(mine_) : std::nullopt; }
    // The count the digest handed on stands at, when it is known.
    std::optional<std::uint64_t> handedCount() {
        ClearLink& out = out_->wait();
        return out.digest ? std::optional<std::uint64_t>(out.hashedBlocks) : std::nullopt;
    }

private:
    void passOn() {
        ClearLink& in = in_->wait();
        if (in.digest && in.hashedBlocks > blockNum_) out_->publish(Digest(*in.digest), in.hashedBlocks);
        else out_->publish(std::nullopt, 0);
    }

    std::shared_ptr<ClearLink> in_;
    std::shared_ptr<ClearLink> out_;
    const std::uint64_t blockNum_;
    std::optional<Digest> mine_;
    bool fedWhole_ = false;
};

}  // namespace

struct FileSendBlockPrefetch::Slot {
    std::uint64_t blockNum = 0;
    std::atomic<bool> cancelled{false};
    // The digest after this block, for the block after it.
    std::shared_ptr<ClearLink> clearAfter = std::make_shared<ClearLink>();
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::optional<Prepared> result;
    std::exception_ptr failure;
    // Called once `done` is set.
    std::function<void()> then;
};

namespace {

// What a worker needs, all its own.
struct Work {
    std::filesystem::path localURL;
    std::int64_t fileSize = 0;
    std::int32_t blockSize = 0;
    std::uint64_t blockNum = 0;
    EncryptionKey fileKey;
    std::shared_ptr<ClearLink> clearBefore;
    Bytes buffer;
};

template <class Slot, class Prepared>
void prepare(Slot& slot, Work work) {
    if (const auto hook = workers().hook()) hook(work.blockNum);

    ChainTurn turn(std::move(work.clearBefore), slot.clearAfter, work.blockNum);
    std::optional<Prepared> result;
    std::exception_ptr failure;
    if (!slot.cancelled.load()) {
        try {
            Prepared prepared;
            prepared.block = FileSendBlockReader::read(work.localURL, work.fileSize, work.blockSize, work.blockNum,
                                                       work.fileKey, turn, std::move(work.buffer));
            if (prepared.block) prepared.bodyDigest = std::move(prepared.block->bodyDigest);
            result.emplace(std::move(prepared));
        } catch (...) {
            failure = std::current_exception();
        }
    }
    // Read, failed or cancelled: the turn is handed on here, once.
    turn.finish();
    if (result) {
        result->clearHash = turn.takeFed();
        result->hashedBlocks = turn.handedCount().value_or(0);
    }
    std::function<void()> then;
    {
        std::lock_guard lock(slot.mutex);
        // A cancelled block is dropped here, with the worker's last reference.
        if (!slot.cancelled.load()) {
            slot.result = std::move(result);
            slot.failure = std::move(failure);
        }
        slot.done = true;
        then = std::move(slot.then);
    }
    slot.ended.notify_all();
    if (then) then();
}

// The number of the block that only checks the file's end: no block after
// it is ever needed. None when the sizes make no sense (the read says why).
std::optional<std::uint64_t> endCheckBlock(std::int64_t fileSize, std::int32_t blockSize) {
    if (fileSize < 0 || blockSize <= 0) return std::nullopt;
    const auto size = static_cast<std::uint64_t>(fileSize);
    const auto block = static_cast<std::uint64_t>(blockSize);
    return (size + block - 1) / block;
}

}  // namespace

FileSendBlockPrefetch::FileSendBlockPrefetch(std::size_t depth) : depth_(std::max<std::size_t>(depth, 1)) {}

FileSendBlockPrefetch::~FileSendBlockPrefetch() { cancel(); }

void FileSendBlockPrefetch::start(const std::filesystem::path& localURL, std::int64_t fileSize,
                                  std::int32_t blockSize, std::uint64_t blockNum, const EncryptionKey& fileKey,
                                  const Digest& clearHash, std::uint64_t hashedBlocks) {
    while (!slots_.empty() && slots_.front()->blockNum < blockNum) {
        slots_.front()->cancelled = true;
        slots_.pop_front();
    }
    if (!slots_.empty() && slots_.front()->blockNum > blockNum) return;

    const std::optional<std::uint64_t> endCheck = endCheckBlock(fileSize, blockSize);
    std::uint64_t next = slots_.empty() ? blockNum : slots_.back()->blockNum + 1;
    std::shared_ptr<ClearLink> before =
        slots_.empty() ? publishedLink(clearHash, hashedBlocks) : slots_.back()->clearAfter;
    while (slots_.size() < depth_) {
        // The first block is always prepared (its read reports a file that
        // makes no sense); none is prepared past the end's check.
        if (!slots_.empty() && (!endCheck || next > *endCheck)) return;
        auto slot = std::make_shared<Slot>();
        slot->blockNum = next;
        Work work{localURL, fileSize, blockSize, next, fileKey, before, blockBuffer(blockSize)};
        // Without a thread the block is read in line when its turn comes.
        if (!workers().launch(
                [slot, work = std::move(work)]() mutable { prepare<Slot, Prepared>(*slot, std::move(work)); }))
            return;
        before = slot->clearAfter;
        slots_.push_back(std::move(slot));
        ++next;
    }
}

void FileSendBlockPrefetch::again(const std::filesystem::path& localURL, std::int64_t fileSize,
                                  std::int32_t blockSize, std::uint64_t blockNum, const EncryptionKey& fileKey,
                                  const Digest& clearHash, std::uint64_t hashedBlocks) {
    while (!slots_.empty() && slots_.front()->blockNum <= blockNum) {
        slots_.front()->cancelled = true;
        slots_.pop_front();
    }
    auto slot = std::make_shared<Slot>();
    slot->blockNum = blockNum;
    Work work{localURL, fileSize, blockSize, blockNum, fileKey, publishedLink(clearHash, hashedBlocks),
              blockBuffer(blockSize)};
    if (!workers().launch(
            [slot, work = std::move(work)]() mutable { prepare<Slot, Prepared>(*slot, std::move(work)); }))
        return;
    slots_.push_front(std::move(slot));
}

void FileSendBlockPrefetch::reuse(Bytes buffer) {
    if (spares_.size() < depth_ && buffer.capacity() > 0) spares_.push_back(std::move(buffer));
}

Bytes FileSendBlockPrefetch::blockBuffer(std::int32_t blockSize) {
    const std::size_t wanted = blockSize > 0 ? static_cast<std::size_t>(blockSize) + 16 : 0;
    while (!spares_.empty()) {
        Bytes spare = std::move(spares_.back());
        spares_.pop_back();
        if (spare.capacity() >= wanted) {
            spare.clear();
            return spare;
        }
    }
    // A new block's memory comes from this thread, not from the workers':
    // the allocator keeps freed memory per thread, and a block per worker
    // would leave megabytes behind with each one.
    Bytes buffer;
    buffer.reserve(wanted);
    return buffer;
}

std::optional<FileSendBlockPrefetch::Prepared> FileSendBlockPrefetch::take(std::uint64_t blockNum) {
    if (slots_.empty() || slots_.front()->blockNum > blockNum) return std::nullopt;
    std::shared_ptr<Slot> slot = std::move(slots_.front());
    slots_.pop_front();
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

bool FileSendBlockPrefetch::whenPrepared(std::uint64_t blockNum, std::function<void()> then) {
    if (slots_.empty() || slots_.front()->blockNum != blockNum) return false;
    Slot& slot = *slots_.front();
    std::lock_guard lock(slot.mutex);
    if (slot.done) return false;
    slot.then = std::move(then);
    return true;
}

void FileSendBlockPrefetch::cancel() {
    for (auto& slot : slots_) slot->cancelled = true;
    slots_.clear();
    // An ended upload keeps no spare block while it waits in the jobs list;
    // the megabytes go back on a kept thread, not under the engine's lock.
    if (!spares_.empty())
        ReusedThreads::run([spares = std::make_shared<std::vector<Bytes>>(std::exchange(spares_, {}))] {});
}

std::size_t FileSendBlockPrefetch::liveWorkers() { return workers().live(); }

bool FileSendBlockPrefetch::waitForNoLiveWorkers(std::chrono::milliseconds guard) {
    return workers().waitForNone(guard);
}

FileSendBlockPrefetch::WorkerHook FileSendBlockPrefetch::replaceWorkerHook(WorkerHook hook) {
    return workers().replaceHook(std::move(hook));
}

}  // namespace ostrelcomm
