#include "tree/CopyDir.h"

#include <any>
#include <stdexcept>
#include <utility>

#include "jobs/CommJobs.h"
#include "jobs/SrvComm.h"
#include "platform/SystemLog.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// The key of the destination folder in the map of new folders, and the
// parent of the source folder.
constexpr char kDestination[] = "-";
// What the map holds for a folder whose copy does not exist yet.
constexpr char kNotYetMade[] = "?";

constexpr char kUndecodableTree[] = "getDirectoryTreeTerminated observer: Unable to decode notification data";

const std::string* resultOf(const Notification& notification) {
    return userInfoValue<std::string>(notification.userInfo, "Result");
}

}  // namespace

std::string_view name(CopyDir::Status status) {
    switch (status) {
#define OSTRELCOMM_NAME_CASE(name) \
    case CopyDir::Status::name:    \
        return #name;
        OSTRELCOMM_COPY_DIR_STATUSES(OSTRELCOMM_NAME_CASE)
#undef OSTRELCOMM_NAME_CASE
    }
    return {};
}

// --- construction ------------------------------------------------------------------

std::shared_ptr<CopyDir> CopyDir::create(std::shared_ptr<SrvComm> srvComm) {
    if (!srvComm) throw std::invalid_argument("A folder copy needs an engine");
    auto copier = std::make_shared<CopyDir>(Passkey{}, std::move(srvComm));
    copier->registerObservers(copier);
    return copier;
}

CopyDir::CopyDir(Passkey, std::shared_ptr<SrvComm> srvComm)
    : srvComm_(std::move(srvComm)), notifications_(std::make_shared<NotificationCenter>()) {}

CopyDir::~CopyDir() { removeObservers(); }

void CopyDir::registerObservers(const std::shared_ptr<CopyDir>& self) {
    using Handler = void (CopyDir::*)(const Notification&);
    const std::pair<const char*, Handler> observed[] = {
        {tree::kGetDirectoryTreeTerminatedNotification, &CopyDir::onTree},
        {tree::kNewRemoteDirectoryCreatedNotification, &CopyDir::onCreated},
        {tree::kFileCopyNotification, &CopyDir::onCopied},
    };
    std::lock_guard lock(observersMutex_);
    observedCenter_ = srvComm_->notifications();
    std::weak_ptr<CopyDir> weak = self;
    for (const auto& [notification, handler] : observed)
        observers_.push_back(observedCenter_->addObserver(notification, [weak, handler = handler](const Notification& n) {
            // Held while the handler runs, even if the owner lets go meanwhile.
            if (auto copier = weak.lock()) ((*copier).*handler)(n);
        }));
}

void CopyDir::removeObservers() {
    std::vector<NotificationCenter::Token> tokens;
    std::shared_ptr<NotificationCenter> center;
    {
        std::lock_guard lock(observersMutex_);
        tokens.swap(observers_);
        center = observedCenter_;
    }
    if (!center) return;
    for (auto token : tokens) center->removeObserver(token);
}

// --- the public operations ---------------------------------------------------------

std::shared_ptr<NotificationCenter> CopyDir::notifications() const {
    Lock lock(srvComm_->mutex());
    return notifications_;
}

void CopyDir::setNotifications(std::shared_ptr<NotificationCenter> center) {
    Lock lock(srvComm_->mutex());
    notifications_ = std::move(center);
}

CopyProgressData CopyDir::progress() const {
    Lock lock(srvComm_->mutex());
    return progress_;
}

void CopyDir::copy(const std::string& sourceName, const std::string& sourceUUID, const std::string& destinationUUID) {
    Lock lock(srvComm_->mutex());
    // Nothing of an earlier copy carries over: its folders would be made
    // again under the first destination, its counts would add up past the
    // total, and its cancel would stop this one.
    remoteDirectoryContent_.reset();
    directoriesList_.clear();
    filesList_.clear();
    directoriesNewUUIDs_.clear();
    progress_ = CopyProgressData(0, 1);
    cancelOperation_ = false;
    notificationError_.reset();
    waitingJob_.reset();
    earlyResult_.reset();

    directoriesList_[0] = ItemData{sourceUUID, kDestination, sourceName};
    directoryIterator_ = 1;
    fileIterator_ = 0;
    directoriesNewUUIDs_[kDestination] = destinationUUID;
    directoriesNewUUIDs_[sourceUUID] = kDestination;
    sourceUUID_ = sourceUUID;
    setStatus(Status::queryRootTree);
}

void CopyDir::cancel() { cancelOperation_ = true; }

// --- the state machine -------------------------------------------------------------

void CopyDir::setStatus(Status status) {
    if (cancelOperation_) status = Status::completed;
    status_ = status;
    statusPending_ = true;
    if (machineRunning_) return;

    // Alive until the machine stops, whatever the observers of the copier's
    // own notifications do with their reference.
    const std::shared_ptr<CopyDir> self = weak_from_this().lock();
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(machineRunning_);
    while (statusPending_) {
        statusPending_ = false;
        runStatus(status_.load());
    }
}

// Each state's work ends with its change of state, if it makes one: the
// running loop then takes that state.
void CopyDir::runStatus(Status status) {
    switch (status) {
        case Status::idle:
        case Status::gettingTree:
        case Status::creatingDestDir:
        case Status::copyingFile: return;

        case Status::queryRootTree:
            if (!sourceUUID_) return setStatus(Status::error);
            queueJob([&] { return srvComm_->directory_getTree(*sourceUUID_, false, "ALL", tree::kCopyDirSource); });
            return;

        case Status::prepareCreateDirectory: {
            const auto entry = directoriesList_.find(directoryIterator_);
            if (entry == directoriesList_.end() || !entry->second.name) return setStatus(Status::error);
            const std::optional<std::string> parent = newParentOf(entry->second);
            if (!parent) return setStatus(Status::error);
            const ItemData item = entry->second;
            sourceUUID_ = item.item;
            // Waiting before the job is queued, so that a result it posts at
            // once finds the copy waiting for it; a cancel asked meanwhile
            // queues nothing.
            setStatus(Status::creatingDestDir);
            if (status_ != Status::creatingDestDir) return;
            queueJob([&] { return srvComm_->directory_create(*item.name, *parent, tree::kCopyDirSource); });
            return;
        }

        case Status::destDirCreated:
            ++directoryIterator_;
            if (directoryIterator_ < static_cast<std::int64_t>(directoriesList_.size()))
                return setStatus(Status::prepareCreateDirectory);
            return setStatus(filesList_.empty() ? Status::completed : Status::prepareCopyFile);

        case Status::prepareCopyFile: {
            const auto entry = filesList_.find(fileIterator_);
            if (entry == filesList_.end()) return setStatus(Status::error);
            const std::optional<std::string> parent = newParentOf(entry->second);
            if (!parent) return setStatus(Status::error);
            const ItemData item = entry->second;
            sourceUUID_ = item.item;
            setStatus(Status::copyingFile);
            if (status_ != Status::copyingFile) return;
            queueJob([&] { return srvComm_->file_copy(item.item, *parent); });
            return;
        }

        case Status::fileCopyDone:
            ++fileIterator_;
            if (fileIterator_ < static_cast<std::int64_t>(filesList_.size()))
                return setStatus(Status::prepareCopyFile);
            return setStatus(Status::completed);

        case Status::completed:
            waitingJob_.reset();
            post(tree::kCopyCompletedNotification,
                 UserInfo{{"Result", std::string(tree::kCompleted)},
                          {"httpError", NullObject{}},
                          {"CustomData", NullObject{}}});
            return;

        case Status::error:
            waitingJob_.reset();
            post(tree::kCopyErrorNotification, notificationError_ ? notificationError_->userInfo : UserInfo{});
            return;
    }
}

template <class Queue>
void CopyDir::queueJob(Queue queue) {
    queuing_ = true;
    earlyResult_.reset();
    std::string jobID;
    try {
        jobID = queue();
    } catch (...) {
        queuing_ = false;
        throw;
    }
    queuing_ = false;
    waitingJob_ = std::move(jobID);
    std::optional<Notification> early = std::exchange(earlyResult_, std::nullopt);
    if (!early) return;
    if (early->name == tree::kGetDirectoryTreeTerminatedNotification) {
        onTree(*early);
    } else if (early->name == tree::kNewRemoteDirectoryCreatedNotification) {
        onCreated(*early);
    } else if (early->name == tree::kFileCopyNotification) {
        onCopied(*early);
    }
}

bool CopyDir::waitedJobEndedAs(std::initializer_list<JobStatus> statuses) const {
    if (!waitingJob_) return false;
    const auto job = srvComm_->queue()->getJobData(*waitingJob_);
    if (!job) return false;
    for (JobStatus status : statuses)
        if (job->status == status) return true;
    return false;
}

bool CopyDir::waitedJobRunning() const {
    return waitingJob_ && srvComm_->runningJob() == waitingJob_ && waitedJobEndedAs({JobStatus::inProgress});
}

std::optional<std::string> CopyDir::newParentOf(const ItemData& item) const {
    const auto it = directoriesNewUUIDs_.find(item.parent);
    if (it == directoriesNewUUIDs_.end()) return std::nullopt;
    // A folder whose copy was not made (yet): nothing can go into it.
    if (item.parent != kDestination && (it->second == kDestination || it->second == kNotYetMade))
        return std::nullopt;
    return it->second;
}

bool CopyDir::flattenBranches(const tree::DirectoryTree& remoteItems, const std::string& parentUUID) {
    // Explicit levels rather than recursion: a deep tree costs heap, not stack.
    struct Level {
        const tree::DirectoryTree* branches;
        std::size_t next;
        std::string parent;
    };
    std::vector<Level> levels{Level{&remoteItems, 0, parentUUID}};
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.branches->size()) {
            levels.pop_back();
            continue;
        }
        const std::shared_ptr<RemoteDirectoryBranch>& branch = (*level.branches)[level.next++];
        if (!branch) return false;
        if (branch->type == RemoteDirectoryBranch::LeafType::directory) {
            directoriesNewUUIDs_[branch->uuid] = kNotYetMade;
            directoriesList_[directoryIterator_++] = ItemData{branch->uuid, level.parent, branch->metadata.name};
        } else {
            // Files and kinds this client does not know are copied as files.
            filesList_[fileIterator_++] = ItemData{branch->uuid, level.parent, std::nullopt};
        }
        if (!branch->branches.empty()) levels.push_back(Level{&branch->branches, 0, branch->uuid});
    }
    return true;
}

void CopyDir::post(const std::string& name, UserInfo userInfo) {
    const std::shared_ptr<NotificationCenter> center = notifications_;
    if (center) center->post(name, std::move(userInfo));
}

// --- the observers -------------------------------------------------------------------

void CopyDir::onTree(const Notification& notification) {
    if (queuing_) {
        earlyResult_ = notification;
        return;
    }
    const std::string* result = resultOf(notification);
    if (!result) return;
    if (*result == tree::kAvailable) {
        const auto* data = userInfoValue<tree::DirectoryTreePayload>(notification.userInfo, "CustomData");
        const bool own = status_ == Status::queryRootTree && waitedJobEndedAs({JobStatus::completed});
        if (!data) {
            systemLog(kUndecodableTree);
            // The copy's own tree that cannot be read: nothing more will come.
            if (own) setStatus(Status::error);
            return;
        }
        if (!own) return;
        waitingJob_.reset();
        const auto source = data->find(tree::kSourceKey);
        const auto branches = data->find(tree::kTreeKey);
        const auto* tag = source == data->end() ? nullptr : std::any_cast<std::string>(&source->second);
        const auto* received =
            branches == data->end() ? nullptr : std::any_cast<tree::DirectoryTree>(&branches->second);
        if (!tag || *tag != tree::kCopyDirSource || !received || !sourceUUID_) return setStatus(Status::error);
        remoteDirectoryContent_ = std::make_shared<tree::DirectoryTree>(*received);
        fileIterator_ = 0;
        if (!flattenBranches(*remoteDirectoryContent_, *sourceUUID_)) return setStatus(Status::error);
        progress_.setTotal(directoryIterator_ + fileIterator_);
        directoryIterator_ = 0;
        fileIterator_ = 0;
        setStatus(Status::prepareCreateDirectory);
        return;
    }
    // The tree job announces its abort as an error too.
    if (*result == tree::kError && status_ == Status::queryRootTree &&
        waitedJobEndedAs({JobStatus::error, JobStatus::aborted})) {
        waitingJob_.reset();
        notificationError_ = notification;
        setStatus(Status::error);
    }
}

void CopyDir::onCreated(const Notification& notification) {
    if (queuing_) {
        if (const std::string* result = resultOf(notification); result && *result != tree::kStarted)
            earlyResult_ = notification;
        return;
    }
    if (status_ != Status::creatingDestDir) return;
    const std::string* result = resultOf(notification);
    if (!result) {
        if (waitedJobRunning()) setStatus(Status::error);
        return;
    }
    if (*result == tree::kStarted) return;
    if (*result == tree::kError || *result == tree::kAborted) {
        if (!waitedJobEndedAs({JobStatus::error, JobStatus::aborted})) return;
        waitingJob_.reset();
        notificationError_ = notification;
        return setStatus(Status::error);
    }
    if (*result != tree::kCreated) {
        if (waitedJobRunning()) setStatus(Status::error);
        return;
    }
    if (!waitedJobEndedAs({JobStatus::completed})) return;
    waitingJob_.reset();
    const auto* payload = userInfoValue<tree::TaggedPayload>(notification.userInfo, "CustomData");
    if (!payload || !sourceUUID_) return setStatus(Status::error);
    const auto uuid = payload->find(tree::kUuidKey);
    const auto* newUUID = uuid == payload->end() ? nullptr : std::any_cast<std::string>(&uuid->second);
    // Without the new folder's identifier nothing could go into it.
    if (!newUUID || newUUID->empty()) return setStatus(Status::error);
    directoriesNewUUIDs_[*sourceUUID_] = *newUUID;
    progress_.incrementCopied();
    post(tree::kItemCopiedNotification, progress_.getNotificationData());
    setStatus(Status::destDirCreated);
}

void CopyDir::onCopied(const Notification& notification) {
    if (queuing_) {
        if (const std::string* result = resultOf(notification); result && *result != tree::kStarted)
            earlyResult_ = notification;
        return;
    }
    if (status_ != Status::copyingFile) return;
    const std::string* result = resultOf(notification);
    if (!result) {
        if (waitedJobRunning()) setStatus(Status::error);
        return;
    }
    if (*result == tree::kError || *result == tree::kAborted) {
        if (!waitedJobEndedAs({JobStatus::error, JobStatus::aborted})) return;
        waitingJob_.reset();
        notificationError_ = notification;
        return setStatus(Status::error);
    }
    if (*result != tree::kCopied || !waitedJobEndedAs({JobStatus::completed})) return;
    waitingJob_.reset();
    progress_.incrementCopied();
    post(tree::kItemCopiedNotification, progress_.getNotificationData());
    setStatus(Status::fileCopyDone);
}

}  // namespace ostrelcomm
