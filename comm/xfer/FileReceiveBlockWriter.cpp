#include "xfer/FileReceiveBlockWriter.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "xfer/DetachedWorkers.h"
#include "xfer/DownloadFileSystem.h"

namespace ostrelcomm {

namespace {

DetachedWorkers<FileReceiveBlockWriter::WorkerHook>& workers() {
    static auto* all = new DetachedWorkers<FileReceiveBlockWriter::WorkerHook>;
    return *all;
}

}  // namespace

struct FileReceiveBlockWriter::Slot {
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    bool written = false;
    std::optional<Digest> clearHash;
};

namespace {

template <class Slot>
void writeBlock(Slot& slot, int fd, Bytes clear, std::uint64_t offset, Digest digest) {
    if (const auto hook = workers().hook()) hook();

    bool written = false;
    if (slot.cancelled.load()) {
        ::close(fd);
    } else {
        digest.update(clear);
        written = DownloadFileSystem::writeAtAndClose(fd, clear, offset);
    }
    {
        std::lock_guard lock(slot.mutex);
        slot.written = written;
        slot.clearHash.emplace(std::move(digest));
        slot.done = true;
    }
    slot.ended.notify_all();
}

}  // namespace

FileReceiveBlockWriter::~FileReceiveBlockWriter() { cancel(); }

namespace {

struct Job {
    int fd;
    Bytes clear;
    std::uint64_t offset;
    Digest digest;
};

}  // namespace

void FileReceiveBlockWriter::start(int fd, Bytes clear, std::uint64_t offset, const Digest& clearHash) {
    cancel();
    auto slot = std::make_shared<Slot>();
    auto job = std::make_shared<Job>(Job{fd, std::move(clear), offset, Digest(clearHash)});
    slot_ = slot;
    const auto write = [slot, job] {
        writeBlock(*slot, job->fd, std::move(job->clear), job->offset, std::move(job->digest));
    };
    // No thread to be had: the block is written here and now.
    if (!workers().launch(write)) write();
}

std::optional<bool> FileReceiveBlockWriter::finish(Digest& clearHash) {
    if (!slot_) return std::nullopt;
    std::shared_ptr<Slot> slot = std::move(slot_);
    slot_.reset();
    std::unique_lock lock(slot->mutex);
    slot->ended.wait(lock, [&] { return slot->done; });
    if (slot->written && slot->clearHash) clearHash = std::move(*slot->clearHash);
    return slot->written;
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
