// The run of a multi-file upload: the state machine that walks the source
// list, keeps the remote current folder in step with each item's local
// folder, applies the conflict rule and uploads one file at a time; the four
// engine notifications that move it on; and the reports it posts.
//
// Everything here runs under the engine's lock, except the long work on a
// local file, which runs on the uploader's worker and comes back under the
// lock with its result.

#include <sys/stat.h>

#include <any>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "crypto/Digest.h"
#include "encoding/Encoding.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/SrvComm.h"
#include "platform/SerialQueue.h"
#include "tree/FileWorksContext.h"
#include "tree/RemoteDirInfo.h"
#include "tree/RemoteItemInfo.h"
#include "tree/TreeNotifications.h"
#include "xfer/MultipleLocalFileSend.h"
#include "xfer/ThumbnailHelper.h"
#include "xfer/XferNotifications.h"

namespace ostrelcomm {

namespace fs = std::filesystem;

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;
using Status = MultipleLocalFileSend::Status;

constexpr char kNoDestinationNode[] = "Unable to find destination node ";
constexpr char kListingUndecodable[] = "queryRemoteDirectoryContent observer: Unable to decode notification data";
constexpr char kListingUnreadable[] = "queryRemoteDirectoryContent observer: Unreadable remoteDirInfo";
constexpr char kListingFailed[] = "queryRemoteDirectoryContent observer: Unable to list destination directory";
constexpr char kCreationFailed[] = "newRemoteDirectoryCreated observer: Unable to create destination directory";
constexpr char kCreationUndecodable[] = "newRemoteDirectoryCreated observer: Unable to decode CustomData";
constexpr char kDeletionUndecodable[] = "deleteFile observer: Unable to decode notification data";
constexpr char kDeletionFailed[] = "deleteFile observer: Unable to delete existing file";
constexpr char kDeletedOther[] = "deleteFile observer: The server deleted another item than the one replaced";
constexpr char kUploadBlockSize[] = "localFileUpload observer: Unable to decode blockSize";
constexpr char kUploadBlockNum[] = "localFileUpload observer: Unable to decode blockNum";
constexpr char kUploadIsResumed[] = "localFileUpload observer: Unable to decode isResumed";
constexpr char kUploadFailed[] = "localFileUpload observer: Error sending file";
constexpr char kUploadUnknown[] = "localFileUpload observer: Unknown return state";
constexpr char kUploadNotStarted[] = "sendFile: Unable to start the upload of ";
constexpr char kNotAFile[] = "Unable to replace remote item that is not a file: ";

// Splits a relative path into its components after removing leading and
// trailing "/"; the empty path gives one empty component.
std::vector<std::string> splitPath(const std::string& path) {
    std::size_t begin = path.find_first_not_of('/');
    std::size_t end = path.find_last_not_of('/');
    std::vector<std::string> parts;
    if (begin == std::string::npos) return {std::string()};
    const std::string trimmed = path.substr(begin, end - begin + 1);
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = trimmed.find('/', start);
        parts.push_back(trimmed.substr(start, slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

std::string joinPath(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count && i < parts.size(); ++i) {
        if (i > 0) out += '/';
        out += parts[i];
    }
    return out;
}

// The folder name to look for or create next, and the path it lies in, on
// the way from `startingPath` to `arrivingPath`: up to the common folder
// first, then down one level at a time.
std::pair<std::string, std::string> nextPath(const std::string& startingPath, const std::string& arrivingPath) {
    const auto s = splitPath(startingPath);
    const auto a = splitPath(arrivingPath);
    const std::size_t common = std::min(s.size(), a.size());
    for (std::size_t i = 0; i < common; ++i)
        if (s[i] != a[i]) return {a[i], joinPath(s, i)};
    if (s.size() < a.size()) return {a.back(), startingPath};
    return {a.back(), arrivingPath};
}

// The names of a path, without the root and without empty names, so that a
// trailing "/" counts for nothing.
std::vector<std::string> components(const fs::path& path) {
    std::vector<std::string> out;
    for (const auto& part : path.relative_path()) {
        std::string name = part.string();
        if (!name.empty() && name != ".") out.push_back(std::move(name));
    }
    return out;
}

// Whether the local file holds what the remote file does: the same size,
// then the same SHA-256. Reads the whole file: never under the engine's lock.
bool compareFilesEqual(const fs::path& localURL, std::uint64_t remoteSize,
                       const std::optional<std::string>& clearFileHash) {
    struct stat status {};
    if (::stat(localURL.c_str(), &status) != 0) return false;
    if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) != remoteSize) return false;
    const std::optional<Bytes> digest = Digest(DigestAlgorithm::sha256).getFileDigest(localURL);
    if (!digest || !clearFileHash) return false;
    return toHex(*digest) == *clearFileHash;
}

template <class T>
const T* customData(const Notification& notification) {
    return userInfoValue<T>(notification.userInfo, "CustomData");
}

template <class T>
const T* payloadValue(const std::map<std::string, std::any>& payload, const char* key) {
    auto it = payload.find(key);
    return it == payload.end() ? nullptr : std::any_cast<T>(&it->second);
}

}  // namespace

// --- the loop ------------------------------------------------------------------------

void MultipleLocalFileSend::setStatus(Status status) {
    pendingStatus_ = status;
    if (!inRun_) inRun([] {});
}

void MultipleLocalFileSend::inRun(const std::function<void()>& action) {
    if (inRun_) {
        action();
        return;
    }
    inRun_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{inRun_};
    action();
    while (true) {
        if (pendingStatus_) {
            Status next = *pendingStatus_;
            pendingStatus_.reset();
            if (abortOperation_.load()) {
                abortOperation_.store(false);
                next = Status::aborted;
                // An upload the request found no job of yet (one resumed
                // after it was made) must not go on behind an aborted run.
                if (fileSendingJobUUID_) srvComm_->abortJobs({*std::exchange(fileSendingJobUUID_, std::nullopt)});
            }
            status_.store(next);
            handleStatus(next);
        } else if (!deferred_.empty()) {
            auto [observed, notification] = std::move(deferred_.front());
            deferred_.pop_front();
            dispatch(observed, notification);
        } else {
            break;
        }
    }
}

void MultipleLocalFileSend::observe(Observed observed, const Notification& notification) {
    Lock lock(srvComm_->mutex());
    // A job's first notification may come inside the call that queues it,
    // before the run has stored anything of that call: it waits its turn.
    if (inRun_) {
        deferred_.emplace_back(observed, notification);
        return;
    }
    inRun([&] { dispatch(observed, notification); });
}

void MultipleLocalFileSend::dispatch(Observed observed, const Notification& notification) {
    switch (observed) {
        case Observed::localFileUpload: onLocalFileUpload(notification); break;
        case Observed::deleteFile: onDeleteFile(notification); break;
        case Observed::newRemoteDirectoryCreated: onNewRemoteDirectoryCreated(notification); break;
        case Observed::queryRemoteDirectoryContent: onQueryRemoteDirectoryContent(notification); break;
    }
}

void MultipleLocalFileSend::handleStatus(Status status) {
    switch (status) {
        case Status::getNextItem: getNextItem(); break;
        case Status::checkIfDestinationDir: checkIfDestinationDir(); break;
        case Status::changeLevel: changeLevel(); break;
        case Status::queryForRemoteDirectoryContent: queryForRemoteDirectoryContent(); break;
        case Status::checkRemoteExist: checkRemoteExist(); break;
        case Status::deleteOldFile: deleteOldFile(); break;
        case Status::createDestDir: createDestDir(); break;
        case Status::sendFile: sendFile(); break;
        case Status::completed: completed(); break;
        case Status::aborted: aborted(); break;
        case Status::error: error(); break;
        case Status::idle:
        case Status::waitForDestDirContent:
        case Status::waitForFileDeleted:
        case Status::waitForDestDirCreated:
        case Status::waitForFileSent:
            break;
    }
}

void MultipleLocalFileSend::fail(std::string text) {
    errorText_ = std::move(text);
    setStatus(Status::error);
}

// --- the states ----------------------------------------------------------------------

void MultipleLocalFileSend::getNextItem() {
    sourceIterator_ = sourceIterator_ ? *sourceIterator_ + 1 : 0;
    if (*sourceIterator_ < sourceItems_.size()) {
        itemUnderWork_ = sourceItems_[*sourceIterator_];
        setStatus(Status::checkIfDestinationDir);
    } else {
        setStatus(Status::completed);
    }
}

std::string MultipleLocalFileSend::relativePath(const LocalItemInfo& item) const {
    // A folder is where its own contents go; a file goes into its parent.
    std::vector<std::string> parts = components(item.url);
    if (item.type == LocalItemInfo::ItemType::file && !parts.empty()) parts.pop_back();
    const std::size_t base = baseSourceURL_ ? components(*baseSourceURL_).size() : 0;
    std::string out;
    for (std::size_t i = base; i < parts.size(); ++i) {
        if (!out.empty()) out += '/';
        out += parts[i];
    }
    return out;
}

void MultipleLocalFileSend::checkIfDestinationDir() {
    if (!remoteDirectoryContent_) return setStatus(Status::queryForRemoteDirectoryContent);
    if (relativePath(*itemUnderWork_) != actDestPath_) return setStatus(Status::changeLevel);
    setStatus(itemUnderWork_->type == LocalItemInfo::ItemType::directory ? Status::getNextItem
                                                                        : Status::checkRemoteExist);
}

void MultipleLocalFileSend::changeLevel() {
    const std::string arriving = relativePath(*itemUnderWork_);
    auto [name, path] = nextPath(actDestPath_, arriving);
    if (path != actDestPath_) {
        actDestPath_ = std::move(path);
        return setStatus(Status::queryForRemoteDirectoryContent);
    }
    if (!findInListing(name)) {
        destinationDirName_ = std::move(name);
        return setStatus(Status::createDestDir);
    }
    // Found by name, whatever its kind: a file there leaves the map without
    // a folder for the path, and the listing that follows says so.
    actDestPath_ = arriving;
    setStatus(Status::queryForRemoteDirectoryContent);
}

std::optional<std::string> MultipleLocalFileSend::destinationUUID() const {
    auto it = destinationDirsMap_.find(actDestPath_);
    if (it == destinationDirsMap_.end()) return std::nullopt;
    return it->second;
}

void MultipleLocalFileSend::queryForRemoteDirectoryContent() {
    const auto uuid = destinationUUID();
    if (!uuid) return fail(kNoDestinationNode + actDestPath_);
    remoteDirectoryContent_.reset();
    awaitedJob_ = srvComm_->directory_getInfo(*uuid, instanceUUID_);
    setStatus(Status::waitForDestDirContent);
}

std::shared_ptr<const RemoteItemInfo> MultipleLocalFileSend::findInListing(const std::string& name) const {
    if (!remoteDirectoryContent_) return nullptr;
    const auto& content = remoteDirectoryContent_->content;
    for (auto it = content.rbegin(); it != content.rend(); ++it)
        if (it->metadata.name == name) return std::make_shared<const RemoteItemInfo>(*it);
    return nullptr;
}

void MultipleLocalFileSend::setProgressiveFileName() {
    const std::string name = itemUnderWork_->url.filename().string();
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t dot = name.find('.', start);
        if (dot == std::string::npos) dot = name.size();
        if (dot > start) parts.push_back(name.substr(start, dot - start));
        start = dot + 1;
    }
    // A name without a base and an extension ("notes", ".bashrc") takes the
    // counter after the whole name.
    std::string base = name;
    std::string extension;
    if (parts.size() >= 2) {
        base.clear();
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) base += (i ? "." : "") + parts[i];
        extension = "." + parts.back();
    }
    std::set<std::string> taken;
    if (remoteDirectoryContent_)
        for (const auto& item : remoteDirectoryContent_->content) taken.insert(item.metadata.name);
    // At most one more candidate than there are names.
    for (std::uint64_t n = 1;; ++n) {
        std::string candidate = base + " (" + std::to_string(n) + ")" + extension;
        if (!taken.count(candidate)) {
            destinationFileName_ = std::move(candidate);
            return;
        }
    }
}

void MultipleLocalFileSend::checkRemoteExist() {
    destinationFileName_.reset();
    destinationDirName_.reset();
    const std::string name = itemUnderWork_->url.filename().string();
    existingItemData_ = findInListing(name);
    if (!existingItemData_) return setStatus(Status::sendFile);
    if (conflictingBehaviour_ == ConflictingBehaviours::rename) {
        setProgressiveFileName();
        return setStatus(Status::sendFile);
    }
    // Replacing means deleting what has the name: never a folder, with all
    // it holds, in place of a file.
    if (existingItemData_->type != RemoteItemType::FILE)
        return fail(kNotAFile + (actDestPath_.empty() ? name : actDestPath_ + "/" + name));
    if (conflictingBehaviour_ == ConflictingBehaviours::alwaysReplace) return setStatus(Status::deleteOldFile);

    // The state stays checkRemoteExist until the comparison comes back.
    const fs::path url = itemUnderWork_->url;
    const std::uint64_t remoteSize = existingItemData_->orig_size;
    const std::optional<std::string> remoteHash = existingItemData_->metadata.clearFileHash;
    startLongWork([url, remoteSize, remoteHash](MultipleLocalFileSend& self, std::uint64_t work) {
        const bool equal = compareFilesEqual(url, remoteSize, remoteHash);
        Lock lock(self.srvComm_->mutex());
        self.inRun([&] { self.compared(work, equal); });
    });
}

void MultipleLocalFileSend::compared(std::uint64_t work, bool equal) {
    if (work != longWork_ || status_.load() != Status::checkRemoteExist) return;
    setStatus(equal ? Status::getNextItem : Status::deleteOldFile);
}

std::uint64_t MultipleLocalFileSend::startLongWork(std::function<void(MultipleLocalFileSend&, std::uint64_t)> work) {
    const std::uint64_t number = ++longWork_;
    if (!worker_) worker_ = std::make_shared<SerialQueue>("MultipleLocalFileSend");
    const fs::path url = itemUnderWork_->url;
    worker_->async([weak = self_, number, url, hook = longWorkHook_, work = std::move(work)] {
        if (hook) hook(url);
        // Declared before any lock the work takes, so that a last owner
        // lets go after the lock is given back.
        const auto self = weak.lock();
        if (self) work(*self, number);
    });
    return number;
}

void MultipleLocalFileSend::deleteOldFile() {
    const std::string uuid = existingItemData_->uuid;
    srvComm_->comLog().addEvent("Deleting " + uuid, Logger::EvtType::info);
    auto context = std::make_shared<FileWorksContext>(uuid, std::nullopt, srvComm_->urlToUse(), JobsSteps::file_delete,
                                                      tree::kDeleteFileNotification);
    awaitedJob_ = srvComm_->queue()->addNewJob(JobType::fileDelete, 1, JobPriority::Normal, std::move(context),
                                               std::nullopt, std::nullopt);
    setStatus(Status::waitForFileDeleted);
}

void MultipleLocalFileSend::createDestDir() {
    // A folder made anywhere but in the current one would be a folder in the
    // wrong place: the top of the tree, for a path the map does not hold.
    const auto parent = destinationUUID();
    if (!parent) return fail(kNoDestinationNode + actDestPath_);
    awaitedJob_ = srvComm_->directory_create(*destinationDirName_, *parent, instanceUUID_);
    setStatus(Status::waitForDestDirCreated);
}

void MultipleLocalFileSend::sendFile() {
    // The state stays sendFile while the thumbnail is made and the upload runs.
    const fs::path url = itemUnderWork_->url;
    startLongWork([url](MultipleLocalFileSend& self, std::uint64_t work) {
        ThumbnailResult thumbnail = createThumnbnail(url);
        Lock lock(self.srvComm_->mutex());
        self.inRun([&] {
            self.thumbnailMade(work, std::move(thumbnail.thumbnail), std::move(thumbnail.thumbnailmime));
        });
    });
}

void MultipleLocalFileSend::thumbnailMade(std::uint64_t work, std::optional<Bytes> thumbnail,
                                          std::optional<std::string> mime) {
    if (work != longWork_ || status_.load() != Status::sendFile) return;
    // An abort asked while the thumbnail was made wins.
    if (abortOperation_.load()) return setStatus(Status::aborted);
    const auto parent = destinationUUID();
    if (!parent) return fail(kNoDestinationNode + actDestPath_);
    fileSendingJobUUID_ = srvComm_->fileSend_add(itemUnderWork_->url, parent, destinationFileName_, thumbnail, mime,
                                                 instanceUUID_);
    if (!fileSendingJobUUID_) fail(kUploadNotStarted + itemUnderWork_->url.filename().string());
}

// --- the observers -------------------------------------------------------------------

bool MultipleLocalFileSend::awaitedJobEnded(JobStatus status) const {
    if (!awaitedJob_) return false;
    const auto record = srvComm_->queue()->getJobData(*awaitedJob_);
    return record && record->status == status;
}

void MultipleLocalFileSend::onQueryRemoteDirectoryContent(const Notification& notification) {
    if (status_.load() != Status::waitForDestDirContent) return;
    const auto* result = userInfoValue<std::string>(notification.userInfo, "Result");
    if (result == nullptr) return;
    if (*result == tree::kError || *result == tree::kAborted) {
        // These carry no source: only the end of the listing the run queued counts.
        if (*result == tree::kError && awaitedJobEnded(JobStatus::error)) return fail(kListingFailed);
        if (*result == tree::kAborted && awaitedJobEnded(JobStatus::aborted)) return setStatus(Status::aborted);
        return;
    }
    if (*result != tree::kReceived) return;
    const auto* payload = customData<tree::TaggedPayload>(notification);
    if (payload == nullptr) return fail(kListingUndecodable);
    const auto* source = payloadValue<std::string>(*payload, tree::kSourceKey);
    if (source != nullptr && *source != instanceUUID_) return;
    // A listing of this uploader that the run no longer waits for (queued
    // by an earlier run) says nothing of the current folder.
    if (source != nullptr && !awaitedJobEnded(JobStatus::completed)) return;
    const auto* dirInfo = payloadValue<tree::DirInfoPayload>(*payload, tree::kDirInfoKey);
    if (dirInfo == nullptr || !*dirInfo) return fail(kListingUnreadable);
    awaitedJob_.reset();
    remoteDirectoryContent_ = *dirInfo;
    for (const auto& item : remoteDirectoryContent_->content) {
        if (item.type != RemoteItemType::DIRECTORY) continue;
        const std::string key = actDestPath_.empty() ? item.metadata.name : actDestPath_ + "/" + item.metadata.name;
        destinationDirsMap_[key] = item.uuid;
    }
    setStatus(Status::checkIfDestinationDir);
}

void MultipleLocalFileSend::onNewRemoteDirectoryCreated(const Notification& notification) {
    if (status_.load() != Status::waitForDestDirCreated) return;
    const auto* result = userInfoValue<std::string>(notification.userInfo, "Result");
    if (result == nullptr) return;
    if (*result == tree::kError) {
        if (awaitedJobEnded(JobStatus::error)) fail(kCreationFailed);
        return;
    }
    if (*result == tree::kAborted) {
        if (awaitedJobEnded(JobStatus::aborted)) setStatus(Status::aborted);
        return;
    }
    if (*result != tree::kCreated || !awaitedJobEnded(JobStatus::completed)) return;
    const auto* payload = customData<tree::TaggedPayload>(notification);
    if (payload == nullptr) return fail(kCreationUndecodable);
    const auto* source = payloadValue<std::string>(*payload, tree::kSourceKey);
    if (source != nullptr && *source != instanceUUID_) return;
    const auto* uuid = payloadValue<std::string>(*payload, tree::kUuidKey);
    awaitedJob_.reset();
    const std::string name = destinationDirName_.value_or("");
    actDestPath_ = actDestPath_.empty() ? name : actDestPath_ + "/" + name;
    remoteDirectoryContent_.reset();
    destinationDirName_.reset();
    if (uuid != nullptr) {
        destinationDirsMap_[actDestPath_] = *uuid;
    } else {
        destinationDirsMap_.erase(actDestPath_);
    }
    setStatus(Status::queryForRemoteDirectoryContent);
}

void MultipleLocalFileSend::onDeleteFile(const Notification& notification) {
    if (status_.load() != Status::waitForFileDeleted) return;
    const auto* result = userInfoValue<std::string>(notification.userInfo, "Result");
    if (result == nullptr) return;
    if (*result == tree::kError) {
        if (awaitedJobEnded(JobStatus::error)) fail(kDeletionFailed);
        return;
    }
    if (*result == tree::kAborted) {
        if (awaitedJobEnded(JobStatus::aborted)) setStatus(Status::aborted);
        return;
    }
    if (*result != tree::kDeleted || !awaitedJobEnded(JobStatus::completed)) return;
    awaitedJob_.reset();
    const auto* uuid = customData<std::string>(notification);
    if (uuid == nullptr) return fail(kDeletionUndecodable);
    if (!existingItemData_ || existingItemData_->uuid != *uuid) return fail(kDeletedOther);
    setStatus(Status::sendFile);
}

void MultipleLocalFileSend::onLocalFileUpload(const Notification& notification) {
    const auto* result = userInfoValue<std::string>(notification.userInfo, "Result");
    const auto* payload = customData<xfer::LocalFileUploadPayload>(notification);
    if (result == nullptr || payload == nullptr) return;
    // Every upload of the engine posts this: only this uploader's count.
    const auto* source = payloadValue<std::string>(*payload, xfer::kSourceKey);
    const auto* jobID = payloadValue<std::string>(*payload, xfer::kJobIDKey);
    if (source == nullptr || *source != instanceUUID_) return;

    const Status state = status_.load();
    const bool ownUpload = (state == Status::sendFile || state == Status::waitForFileSent) && fileSendingJobUUID_ &&
                           jobID != nullptr && *jobID == *fileSendingJobUUID_;

    if (*result == xfer::kSending) {
        const auto* isResumed = payloadValue<bool>(*payload, xfer::kIsResumedKey);
        const bool resumes = state == Status::error && isResumed != nullptr && *isResumed && jobID != nullptr &&
                             failedUploadJob_ && *jobID == *failedUploadJob_;
        if (!ownUpload && !resumes) return;
        const auto* blockSize = payloadValue<std::int32_t>(*payload, xfer::kBlockSizeKey);
        if (blockSize == nullptr) return fail(kUploadBlockSize);
        const auto* blockNum = payloadValue<std::uint64_t>(*payload, xfer::kBlockNumKey);
        if (blockNum == nullptr) return fail(kUploadBlockNum);
        if (isResumed == nullptr) return fail(kUploadIsResumed);
        if (resumes) {
            failedUploadJob_.reset();
            fileSendingJobUUID_ = *jobID;
            setStatus(Status::waitForFileSent);
        }
        if (itemUnderWork_ && itemUnderWork_->lastBlockSent != *blockNum) {
            itemUnderWork_->lastBlockSent = *blockNum;
            itemUnderWork_->blockSize = *blockSize;
            notifyProgress(NotificationSource::blockSent);
        }
        return;
    }
    if (!ownUpload) return;
    if (*result == xfer::kSent) {
        notifyProgress(NotificationSource::fileSent);
        fileSendingJobUUID_.reset();
        itemUnderWork_.reset();
        return setStatus(Status::getNextItem);
    }
    const std::string job = *fileSendingJobUUID_;
    fileSendingJobUUID_.reset();
    if (*result == xfer::kError) {
        failedUploadJob_ = job;
        return fail(kUploadFailed);
    }
    if (*result == xfer::kAborted) return setStatus(Status::aborted);
    fail(kUploadUnknown);
}

// --- reports -------------------------------------------------------------------------

void MultipleLocalFileSend::notifyProgress(NotificationSource source) {
    const auto item = itemUnderWork_;
    if (!item) return;
    if (source == NotificationSource::blockSent && item->blockSize == 0) return;
    std::int64_t sent = 0;
    if (source == NotificationSource::fileSent) {
        bytesSent_ += item->size;
        sent = bytesSent_;
    } else {
        item->bytesSent += item->blockSize;
        sent = bytesSent_ + item->bytesSent;
    }

    // No rate without a start (a clearSource() during the run removes it) or
    // a positive elapsed time; one beyond 64 bits is held at the largest.
    std::int64_t rate = 0;
    if (startTime_) {
        const TimePoint now = clock_ ? clock_() : TimePoint(std::chrono::steady_clock::now());
        const double elapsed = (now - *startTime_).count();
        if (elapsed > 0) {
            const double perSecond = static_cast<double>(sent) / elapsed;
            constexpr double kLimit = 9223372036854775808.0;  // 2^63
            if (perSecond >= kLimit) {
                rate = std::numeric_limits<std::int64_t>::max();
            } else if (perSecond > 0) {
                rate = static_cast<std::int64_t>(perSecond);
            }
        }
    }
    const std::int64_t remaining = rate == 0 ? 0 : (bytesToSend_ - sent) / rate;

    UserInfo info;
    info[xfer::kResultKey] = std::string(xfer::kSending);
    info[xfer::kItemKey] = static_cast<std::int64_t>(sourceIterator_.value_or(0)) + 1;
    info[xfer::kTotalKey] = static_cast<std::int64_t>(sourceItems_.size());
    info[xfer::kItemNameKey] = item->url.filename().string();
    info[xfer::kItemTypeKey] = item->type;
    auto base = destinationDirsMap_.find("");
    info[xfer::kBaseDestinationUUIDKey] = base == destinationDirsMap_.end() ? std::string() : base->second;
    info[xfer::kBytesSentKey] = sent;
    info[xfer::kBytesToSendKey] = bytesToSend_;
    info[xfer::kXferRateKey] = rate;
    info[xfer::kRemainingTimeKey] = remaining;
    notifications_->post(xfer::kMultipleLocalFileSendNotification, std::move(info));
}

void MultipleLocalFileSend::postResult(const char* result, bool withError) {
    UserInfo info;
    info[xfer::kResultKey] = std::string(result);
    if (withError) info[xfer::kErrorKey] = errorText_;
    auto base = destinationDirsMap_.find("");
    info[xfer::kBaseDestinationUUIDKey] = base == destinationDirsMap_.end() ? std::string() : base->second;
    // Cleared before the owner hears of the end, so that an owner who
    // starts the next run from its observer finds it untouched afterwards.
    if (!withError) clearout();
    notifications_->post(xfer::kMultipleLocalFileSendNotification, std::move(info));
}

void MultipleLocalFileSend::completed() { postResult(xfer::kCompleted, false); }

void MultipleLocalFileSend::aborted() { postResult(xfer::kAborted, false); }

void MultipleLocalFileSend::error() { postResult(xfer::kError, true); }

void MultipleLocalFileSend::clearout() {
    destinationDirName_.reset();
    destinationFileName_.reset();
    itemUnderWork_.reset();
    remoteDirectoryContent_.reset();
    abortOperation_.store(false);
    destinationDirsMap_.clear();
    actDestPath_.clear();
    awaitedJob_.reset();
}

}  // namespace ostrelcomm
