#include "xfer/FileReceiveBlockWriter.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "xfer/DownloadFileSystem.h"

namespace ostrelcomm {

namespace {

struct Workers {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t live = 0;
    FileReceiveBlockWriter::WorkerHook hook;
};

// Never destroyed: a worker may still be ending while the program exits.
Workers& workers() {
    static Workers* all = new Workers;
    return *all;
}

void workerEnded() {
    Workers& all = workers();
    {
        std::lock_guard lock(all.mutex);
        --all.live;
    }
    all.changed.notify_all();
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
    FileReceiveBlockWriter::WorkerHook hook;
    {
        std::lock_guard lock(workers().mutex);
        hook = workers().hook;
    }
    if (hook) hook();

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

template <class Slot>
void run(std::shared_ptr<Slot> slot, std::shared_ptr<Job> job) {
    {
        // Everything the worker holds goes before it counts as ended.
        auto mine = std::move(slot);
        auto work = std::move(job);
        writeBlock(*mine, work->fd, std::move(work->clear), work->offset, std::move(work->digest));
    }
    workerEnded();
}

}  // namespace

void FileReceiveBlockWriter::start(int fd, Bytes clear, std::uint64_t offset, const Digest& clearHash) {
    cancel();
    auto slot = std::make_shared<Slot>();
    auto job = std::make_shared<Job>(Job{fd, std::move(clear), offset, Digest(clearHash)});
    {
        std::lock_guard lock(workers().mutex);
        ++workers().live;
    }
    slot_ = slot;
    try {
        std::thread([slot, job]() mutable { run(std::move(slot), std::move(job)); }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the block is written here and now.
        run(std::move(slot), std::move(job));
    }
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

std::size_t FileReceiveBlockWriter::liveWorkers() {
    std::lock_guard lock(workers().mutex);
    return workers().live;
}

bool FileReceiveBlockWriter::waitForNoLiveWorkers(std::chrono::milliseconds guard) {
    std::unique_lock lock(workers().mutex);
    return workers().changed.wait_for(lock, guard, [] { return workers().live == 0; });
}

FileReceiveBlockWriter::WorkerHook FileReceiveBlockWriter::replaceWorkerHook(WorkerHook hook) {
    std::lock_guard lock(workers().mutex);
    return std::exchange(workers().hook, std::move(hook));
}

}  // namespace ostrelcomm
