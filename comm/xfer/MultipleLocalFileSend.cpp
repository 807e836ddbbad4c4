#include "xfer/MultipleLocalFileSend.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "encoding/Encoding.h"
#include "jobs/SrvComm.h"
#include "jobs/VirtualPath.h"
#include "platform/SerialQueue.h"
#include "platform/SystemLog.h"
#include "platform/Uuid.h"
#include "tree/TreeNotifications.h"
#include "xfer/XferNotifications.h"

namespace ostrelcomm {

namespace fs = std::filesystem;

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Items carry absolute paths, as the platform's URLs do. An empty path stays
// empty, so that it names nothing rather than the working folder.
fs::path absolutePath(const fs::path& path) {
    if (path.empty()) return path;
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute;
}

// What the file system tells of one item, itself and not what a symbolic
// link points to, in one request.
struct FileData {
    bool isRegularFile = false;
    bool isDirectory = false;
    std::optional<std::int64_t> size;
};

std::optional<FileData> fileData(const fs::path& url) {
    struct stat status {};
    if (::lstat(url.c_str(), &status) != 0) return std::nullopt;
    FileData data;
    data.isRegularFile = S_ISREG(status.st_mode);
    data.isDirectory = S_ISDIR(status.st_mode);
    if (data.isRegularFile && status.st_size >= 0) data.size = static_cast<std::int64_t>(status.st_size);
    return data;
}

// The entries of one folder that the walk looks at: every name but the
// hidden ones ("." and ".." among them), in byte order, since the platform's
// order is unspecified and a fixed one makes runs repeatable. None when the
// folder cannot be opened (a symbolic link put in its place included) or
// read to the end.
std::optional<std::vector<std::string>> visibleNames(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(fd), &::closedir);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) return std::nullopt;
            break;
        }
        if (entry->d_name[0] == '.') continue;
        names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Items found by a walk, before they join the source list, and the entries
// it skipped for their names.
struct Found {
    std::vector<std::shared_ptr<LocalItemInfo>> items;
    std::vector<fs::path> refused;
    std::int64_t bytes = 0;

    void addFolder(const fs::path& url) {
        items.push_back(std::make_shared<LocalItemInfo>(url, LocalItemInfo::ItemType::directory, 0));
    }
    void addFile(const fs::path& url, std::int64_t size) {
        items.push_back(std::make_shared<LocalItemInfo>(url, LocalItemInfo::ItemType::file, size));
        bytes += size;
    }
};

// A folder and everything it holds, depth first, each folder before its
// contents. Hidden entries are left out and hidden folders not entered;
// symbolic links, FIFOs, sockets and devices are skipped, and so is an entry
// whose name is not UTF-8, which is listed as refused. The first entry
// that cannot be read ends the walk with what was found before it. Uses no
// lock: a large folder takes a while.
Found walkFolder(const fs::path& folder) {
    Found found;
    found.addFolder(folder);

    struct Level {
        fs::path folder;
        std::vector<std::string> names;
        std::size_t next = 0;
    };
    // Explicit levels rather than recursion: a deep tree costs heap, not stack.
    std::vector<Level> levels;
    const auto enter = [&levels](const fs::path& path) {
        auto names = visibleNames(path);
        if (!names) {
            systemLog("Cannot read URL " + path.string());
            return false;
        }
        levels.push_back(Level{path, std::move(*names)});
        return true;
    };

    if (!enter(folder)) return found;
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.names.size()) {
            levels.pop_back();
            continue;
        }
        const std::string& name = level.names[level.next++];
        const fs::path entry = level.folder / name;
        if (!isValidUtf8(name)) {
            systemLog("Skipping a name that is not UTF-8: " + entry.string());
            found.refused.push_back(entry);
            continue;
        }
        const std::optional<FileData> data = fileData(entry);
        if (!data) {
            systemLog("Error reading file attributes: " + entry.string());
            return found;
        }
        if (data->isRegularFile) {
            if (data->size) found.addFile(entry, *data->size);
        } else if (data->isDirectory) {
            found.addFolder(entry);
            if (!enter(entry)) return found;
        }
    }
    return found;
}

}  // namespace

std::string_view name(MultipleLocalFileSend::Status status) {
    switch (status) {
#define OSTRELCOMM_NAME_CASE(name)             \
    case MultipleLocalFileSend::Status::name: \
        return #name;
        OSTRELCOMM_MULTIPLE_LOCAL_FILE_SEND_STATUSES(OSTRELCOMM_NAME_CASE)
#undef OSTRELCOMM_NAME_CASE
    }
    return {};
}

// --- construction ------------------------------------------------------------------

std::shared_ptr<MultipleLocalFileSend> MultipleLocalFileSend::create(
    std::shared_ptr<SrvComm> srvComm, std::shared_ptr<NotificationCenter> notifications) {
    if (!srvComm) throw std::invalid_argument("A multi-file upload needs an engine");
    if (!notifications) throw std::invalid_argument("A multi-file upload needs a notification center");
    auto sender = std::make_shared<MultipleLocalFileSend>(Passkey{}, std::move(srvComm), std::move(notifications));
    sender->registerObservers(sender);
    return sender;
}

MultipleLocalFileSend::MultipleLocalFileSend(Passkey, std::shared_ptr<SrvComm> srvComm,
                                             std::shared_ptr<NotificationCenter> notifications)
    : srvComm_(std::move(srvComm)), notifications_(std::move(notifications)), instanceUUID_(newUuidString()) {}

MultipleLocalFileSend::~MultipleLocalFileSend() {
    if (observedCenter_)
        for (auto token : observers_) observedCenter_->removeObserver(token);
    // The last owner may let go on the engine's thread, under its lock, while
    // the worker waits for that lock: the worker is never joined here. Its
    // last task takes the queue with it, and a queue that goes from its own
    // thread lets that thread end by itself.
    if (worker_) {
        SerialQueue* queue = worker_.get();
        queue->async([last = std::move(worker_)]() mutable { last.reset(); });
    }
}

void MultipleLocalFileSend::registerObservers(const std::shared_ptr<MultipleLocalFileSend>& self) {
    const std::pair<const char*, Observed> observed[] = {
        {xfer::kLocalFileUploadNotification, Observed::localFileUpload},
        {tree::kDeleteFileNotification, Observed::deleteFile},
        {tree::kNewRemoteDirectoryCreatedNotification, Observed::newRemoteDirectoryCreated},
        {tree::kQueryRemoteDirectoryContentNotification, Observed::queryRemoteDirectoryContent},
    };
    self_ = self;
    observedCenter_ = srvComm_->notifications();
    std::weak_ptr<MultipleLocalFileSend> weak = self;
    for (const auto& [notification, kind] : observed)
        observers_.push_back(observedCenter_->addObserver(
            notification, [weak, kind = kind](const Notification& n) {
                // Held while the observer runs, even if the owner lets go meanwhile.
                if (auto sender = weak.lock()) sender->observe(kind, n);
            }));
}

// --- the public operations ---------------------------------------------------------

bool MultipleLocalFileSend::isIdle() const {
    switch (status_.load()) {
        case Status::idle:
        case Status::completed:
        case Status::aborted:
        case Status::error:
            return true;
        default:
            return false;
    }
}

bool MultipleLocalFileSend::abortOperation() const { return abortOperation_.load(); }

void MultipleLocalFileSend::setAbortOperation(bool abortOperation) {
    Lock lock(srvComm_->mutex());
    abortOperation_.store(abortOperation);
    if (abortOperation && fileSendingJobUUID_) srvComm_->abortJobs({*fileSendingJobUUID_});
}

std::optional<std::size_t> MultipleLocalFileSend::appendToSource(const fs::path& localURL) {
    const fs::path url = absolutePath(localURL);
    const auto refuse = [this, &url](const std::string& reason) -> std::optional<std::size_t> {
        systemLog(reason + url.string());
        Lock lock(srvComm_->mutex());
        refusedItems_.push_back(url);
        return std::nullopt;
    };
    const std::optional<FileData> data = fileData(url);
    if (!data) {
        systemLog("Unable to get properties for local URL " + url.string() + ".");
        Lock lock(srvComm_->mutex());
        refusedItems_.push_back(url);
        return std::nullopt;
    }
    if (!data->isDirectory && !(data->isRegularFile && data->size))
        return refuse("Error reading file attributes: ");
    if (!isValidUtf8(url.filename().string())) return refuse("Skipping a name that is not UTF-8: ");

    Found found;
    if (data->isDirectory) {
        found = walkFolder(url);
    } else {
        found.addFile(url, *data->size);
    }

    Lock lock(srvComm_->mutex());
    sourceItems_.insert(sourceItems_.end(), std::make_move_iterator(found.items.begin()),
                        std::make_move_iterator(found.items.end()));
    refusedItems_.insert(refusedItems_.end(), std::make_move_iterator(found.refused.begin()),
                         std::make_move_iterator(found.refused.end()));
    bytesToSend_ += found.bytes;
    return sourceItems_.size();
}

std::vector<fs::path> MultipleLocalFileSend::refusedItems() const {
    Lock lock(srvComm_->mutex());
    return refusedItems_;
}

void MultipleLocalFileSend::clearSource() {
    Lock lock(srvComm_->mutex());
    sourceItems_.clear();
    refusedItems_.clear();
    destinationDirsMap_.clear();
    bytesToSend_ = 0;
    bytesSent_ = 0;
    startTime_.reset();
}

void MultipleLocalFileSend::startTransfer(const fs::path& baseSourceURL, const VirtualPath& destination,
                                          ConflictingBehaviours conflictingBehaviour) {
    // A run may end inside this call (nothing to send, a job that fails at
    // once), and the owner may let go of the uploader when it hears so: it
    // stays alive until the call is over. Declared before the lock, so that
    // a last owner lets go after the lock is given back.
    const std::shared_ptr<MultipleLocalFileSend> keep = self_.lock();
    Lock lock(srvComm_->mutex());
    // What the previous run still waits for is no longer this run's.
    ++longWork_;
    awaitedJob_.reset();
    failedUploadJob_.reset();
    destinationDirsMap_.clear();
    startTime_ = clock_ ? clock_() : TimePoint(std::chrono::steady_clock::now());
    baseSourceURL_ = absolutePath(baseSourceURL);
    actDestPath_.clear();
    remoteDirectoryContent_.reset();
    destinationDirsMap_[""] = destination.actPathUUID();
    conflictingBehaviour_ = conflictingBehaviour;
    sourceIterator_.reset();
    setStatus(sourceItems_.empty() ? Status::completed : Status::getNextItem);
}

std::vector<LocalItemInfo> MultipleLocalFileSend::sourceItems() const {
    Lock lock(srvComm_->mutex());
    std::vector<LocalItemInfo> items;
    items.reserve(sourceItems_.size());
    for (const auto& item : sourceItems_) items.push_back(*item);
    return items;
}

std::int64_t MultipleLocalFileSend::bytesToSend() const {
    Lock lock(srvComm_->mutex());
    return bytesToSend_;
}

std::int64_t MultipleLocalFileSend::bytesSent() const {
    Lock lock(srvComm_->mutex());
    return bytesSent_;
}

void MultipleLocalFileSend::setClock(Clock clock) {
    Lock lock(srvComm_->mutex());
    clock_ = std::move(clock);
}

void MultipleLocalFileSend::setLongWorkHook(std::function<void(const fs::path&)> hook) {
    Lock lock(srvComm_->mutex());
    longWorkHook_ = std::move(hook);
}

}  // namespace ostrelcomm
