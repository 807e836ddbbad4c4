#include "app/utils/EngineBridge.h"

#include <QMetaObject>

#include <any>

#include "auth/AuthNotifications.h"
#include "jobs/CommJobs.h"

namespace quorvel {

namespace {

using ostrelcomm::UserInfo;
using ostrelcomm::userInfoValue;

using Dictionary = std::map<std::string, std::any>;

CustomDataShape shapeOf(const UserInfo& info) {
    const auto found = info.find("CustomData");
    if (found == info.end() || !found->second.has_value() || ostrelcomm::isNullObject(found->second))
        return CustomDataShape::absent;
    return found->second.type() == typeid(Dictionary) ? CustomDataShape::dictionary : CustomDataShape::other;
}

template <class Payload>
JobEvent<Payload> readFrame(const UserInfo& info) {
    JobEvent<Payload> event;
    if (const auto* result = userInfoValue<std::string>(info, "Result")) event.result = *result;
    if (const auto* error = userInfoValue<ostrelcomm::HTTPError>(info, "httpError")) event.httpError = *error;
    event.customData = shapeOf(info);
    return event;
}

template <class Value>
std::optional<Value> entryOf(const Dictionary& dictionary, const char* key) {
    const auto found = dictionary.find(key);
    if (found == dictionary.end()) return std::nullopt;
    if (const auto* value = std::any_cast<Value>(&found->second)) return *value;
    return std::nullopt;
}

// "CustomData" is the payload itself.
template <class Payload>
JobEvent<Payload> readDirect(const UserInfo& info) {
    JobEvent<Payload> event = readFrame<Payload>(info);
    if (const auto* data = userInfoValue<Payload>(info, "CustomData")) event.data = *data;
    return event;
}

// A job queued with a requester's tag gives {"source", key: the payload}; one
// queued without gives the bare payload.
template <class Payload, const char* key>
JobEvent<Payload> readTagged(const UserInfo& info) {
    JobEvent<Payload> event = readFrame<Payload>(info);
    if (const auto* tagged = userInfoValue<Dictionary>(info, "CustomData")) {
        event.source = entryOf<std::string>(*tagged, ostrelcomm::tree::kSourceKey);
        event.data = entryOf<Payload>(*tagged, key);
    } else if (const auto* data = userInfoValue<Payload>(info, "CustomData")) {
        event.data = *data;
    }
    return event;
}

JobEvent<DirectoryTreeData> readDirectoryTree(const UserInfo& info) {
    JobEvent<DirectoryTreeData> event = readFrame<DirectoryTreeData>(info);
    const auto* payload = userInfoValue<ostrelcomm::tree::DirectoryTreePayload>(info, "CustomData");
    if (!payload) return event;
    event.source = entryOf<std::string>(*payload, ostrelcomm::tree::kSourceKey);
    event.data = DirectoryTreeData{entryOf<std::string>(*payload, ostrelcomm::tree::kTopUUIDKey),
                                   entryOf<ostrelcomm::tree::DirectoryTree>(*payload, ostrelcomm::tree::kTreeKey)};
    return event;
}

// "CustomData" is {"notificationData": the payload}.
template <class Payload>
JobEvent<Payload> readInNotificationData(const UserInfo& info) {
    JobEvent<Payload> event = readFrame<Payload>(info);
    const auto* wrapper = userInfoValue<ostrelcomm::user::NotificationDataPayload>(info, "CustomData");
    if (!wrapper) return event;
    auto entry = wrapper->find(ostrelcomm::user::kNotificationDataKey);
    if (entry == wrapper->end()) return event;
    if (const auto* data = std::any_cast<Payload>(&entry->second)) event.data = *data;
    return event;
}

JobEvent<NoPayload> readWithoutPayload(const UserInfo& info) { return readFrame<NoPayload>(info); }

// A job's data as the main thread may hold it: without its context, whose
// state belongs to the engine's thread and whose last owner must not be the
// main thread.
void gatherJob(QueueChanges& changes, const UserInfo& info) {
    const auto* jobID = userInfoValue<std::string>(info, "id");
    auto data = info.find("data");
    if (!jobID || data == info.end()) return;
    if (const auto* item = std::any_cast<ostrelcomm::CommJobsItem>(&data->second)) {
        ostrelcomm::CommJobsItem copy = *item;
        copy.context.reset();
        changes.jobs.insert_or_assign(*jobID, std::move(copy));
    } else {
        changes.jobs.insert_or_assign(*jobID, std::nullopt);
    }
}

// Only these change which jobs the queue holds. The queue also announces
// "JobsQueueChanged" at every store of a job, each step of a transfer
// included: taken for a change of the list, it would have the whole queue
// copied at nearly every turn of the event loop.
void gatherNewJob(QueueChanges& changes, const UserInfo& info, const ostrelcomm::CommJobs&) {
    changes.listChanged = true;
    gatherJob(changes, info);
}

void gatherListChange(QueueChanges& changes, const UserInfo&, const ostrelcomm::CommJobs&) {
    changes.listChanged = true;
}

void gatherChangedJob(QueueChanges& changes, const UserInfo& info, const ostrelcomm::CommJobs&) {
    gatherJob(changes, info);
}

// "JobResumed" names the job only: its record is read from the queue, whose
// lock the poster holds.
void gatherResumedJob(QueueChanges& changes, const UserInfo& info, const ostrelcomm::CommJobs& queue) {
    const auto* jobID = userInfoValue<std::string>(info, "id");
    if (!jobID) return;
    std::optional<ostrelcomm::CommJobsItem> job = queue.getJobData(*jobID);
    if (job) job->context.reset();
    changes.jobs.insert_or_assign(*jobID, std::move(job));
}

}  // namespace

EngineBridge::EngineBridge(std::shared_ptr<ostrelcomm::SrvComm> engine, QObject* parent)
    : QObject(parent), engine_(std::move(engine)), link_(std::make_shared<Link>()) {
    link_->bridge = this;
    namespace auth = ostrelcomm::auth;
    namespace user = ostrelcomm::user;
    relay<LoginEvent>(auth::kSRPAuthenticatedNotification, &readWithoutPayload, &EngineBridge::srpAuthenticated);
    relay<LogoutEvent>(auth::kUserLogoutNotification, &readWithoutPayload, &EngineBridge::userLogout);
    relay<UserCreationEvent>(user::kUserCreationTerminatedNotification, &readDirect<user::UserCreationPayload>,
                             &EngineBridge::userCreationTerminated);
    relay<UserProfileEvent>(user::kUserProfileDataAvailableNotification,
                            &readInNotificationData<user::UserProfilePayload>,
                            &EngineBridge::userProfileDataAvailable);
    relay<PeerShareDataEvent>(user::kPeerShareDataNotification, &readDirect<user::PeerShareDataPayload>,
                              &EngineBridge::peerShareData);
    relay<UserSessionsEvent>(user::kGetUserSessionsDataNotification, &readDirect<user::UserSessionsPayload>,
                             &EngineBridge::getUserSessionsData);
    relay<UserModificationEvent>(user::kUserModificationNotification, &readDirect<user::UserModificationPayload>,
                                 &EngineBridge::userModification);
    relay<UserProfileDeletedEvent>(user::kUserProfileDeletedNotification, &readInNotificationData<std::string>,
                                   &EngineBridge::userProfileDeleted);

    namespace tree = ostrelcomm::tree;
    relay<DirectoryContentEvent>(tree::kQueryRemoteDirectoryContentNotification,
                                 &readTagged<tree::DirInfoPayload, tree::kDirInfoKey>,
                                 &EngineBridge::queryRemoteDirectoryContent);
    relay<DirectoryCreatedEvent>(tree::kNewRemoteDirectoryCreatedNotification,
                                 &readTagged<tree::ItemUuidPayload, tree::kUuidKey>,
                                 &EngineBridge::newRemoteDirectoryCreated);
    relay<DirectoryModifiedEvent>(tree::kDirectoryPropertiesModifiedNotification,
                                  &readTagged<tree::ItemUuidPayload, tree::kUuidKey>,
                                  &EngineBridge::directoryPropertiesModified);
    relay<DirectoryDeletedEvent>(tree::kDirectoryDeletedNotification,
                                 &readTagged<tree::ItemUuidPayload, tree::kUuidKey>, &EngineBridge::directoryDeleted);
    relay<DirectoryTreeEvent>(tree::kGetDirectoryTreeTerminatedNotification, &readDirectoryTree,
                              &EngineBridge::getDirectoryTreeTerminated);
    relay<FileInfoEvent>(tree::kGetFileInfoNotification, &readTagged<tree::FileInfoMetadata, tree::kFileInfoKey>,
                         &EngineBridge::getFileInfo);
    relay<FileModificationEvent>(tree::kFilePropertiesModificationNotification, &readDirect<tree::ItemUuidPayload>,
                                 &EngineBridge::filePropertiesModification);
    relay<FileCopyEvent>(tree::kFileCopyNotification, &readDirect<tree::ItemUuidPayload>, &EngineBridge::fileCopy);
    relay<FileDeletedEvent>(tree::kDeleteFileNotification, &readDirect<tree::ItemUuidPayload>,
                            &EngineBridge::deleteFile);

    namespace xfer = ostrelcomm::xfer;
    relay<RemoteFileDownloadEvent>(xfer::kRemoteFileDownloadNotification,
                                   &readDirect<xfer::RemoteFileDownloadPayload>, &EngineBridge::remoteFileDownload);

    namespace shares = ostrelcomm::shares;
    relay<TrustsListEvent>(shares::kTrustsListNotification, &readDirect<shares::TrustsListPayload>,
                           &EngineBridge::trustsList);
    relay<TrustCreationEvent>(shares::kTrustCreationTerminatedNotification,
                              &readDirect<shares::TrustCreationPayload>, &EngineBridge::trustCreationTerminated);
    relay<TrustRemoveEvent>(shares::kTrustRemoveNotification, &readDirect<shares::TrustRemovePayload>,
                            &EngineBridge::trustRemove);
    relay<ShareItemEvent>(shares::kShareItemTerminatedNotification, &readDirect<shares::ShareItemPayload>,
                          &EngineBridge::shareItemTerminated);
    relay<QueryForSharesEvent>(shares::kQueryForSharesNotification, &readDirect<shares::QueryForSharesPayload>,
                               &EngineBridge::queryForShares);
    relay<RemoveShareEvent>(shares::kRemoveShareTerminatedNotification, &readDirect<shares::RemoveSharePayload>,
                            &EngineBridge::removeShareTerminated);
    relay<SharingPeersEvent>(shares::kQueryForSharingPeersNotification, &readDirect<shares::SharingPeersPayload>,
                             &EngineBridge::queryForSharingPeers);
    relay<SharedItemsEvent>(shares::kQuerySharedItemsNotification, &readDirect<shares::SharedItemsPayload>,
                            &EngineBridge::querySharedItems);

    const auto center = engine_->notifications();
    observers_.emplace_back(center, center->addObserver(ostrelcomm::kJobQueueEmptyNotification,
                                                        [link = link_](const ostrelcomm::Notification&) {
                                                            std::lock_guard lock(link->mutex);
                                                            if (!link->bridge) return;
                                                            QMetaObject::invokeMethod(
                                                                link->bridge, &EngineBridge::jobQueueEmpty,
                                                                Qt::QueuedConnection);
                                                        }));

    relayQueue(ostrelcomm::kNewJobAvailableNotification, &gatherNewJob);
    relayQueue(ostrelcomm::kJobChangedNotification, &gatherChangedJob);
    relayQueue(ostrelcomm::kJobResumedNotification, &gatherResumedJob);
    relayQueue(ostrelcomm::kJobCleanupNotification, &gatherListChange);
}

EngineBridge::~EngineBridge() {
    {
        std::lock_guard lock(link_->mutex);
        link_->bridge = nullptr;
    }
    // Signals queued before are dropped with the object (QObject removes its
    // posted events).
    for (const auto& [center, token] : observers_) center->removeObserver(token);
}

template <class Event>
void EngineBridge::relay(const char* name, Event (*read)(const ostrelcomm::UserInfo&),
                         void (EngineBridge::*signal)(const Event&)) {
    const auto center = engine_->notifications();
    observers_.emplace_back(center, center->addObserver(name, [link = link_, read, signal](
                                                                   const ostrelcomm::Notification& notification) {
        Event event = read(notification.userInfo);
        std::lock_guard lock(link->mutex);
        EngineBridge* bridge = link->bridge;
        if (!bridge) return;
        QMetaObject::invokeMethod(
            bridge, [bridge, signal, event = std::move(event)] { (bridge->*signal)(event); }, Qt::QueuedConnection);
    }));
}

void EngineBridge::relayQueue(const char* name, QueueGatherer gather) {
    const auto queue = engine_->queue();
    const auto center = queue->notifications();
    // The queue is held weakly: it holds the center that holds this observer.
    const std::weak_ptr<ostrelcomm::CommJobs> weakQueue = queue;
    observers_.emplace_back(
        center, center->addObserver(name, [link = link_, gather, weakQueue](const ostrelcomm::Notification& notification) {
            const auto queue = weakQueue.lock();
            if (!queue) return;
            std::lock_guard lock(link->mutex);
            EngineBridge* bridge = link->bridge;
            if (!bridge) return;
            gather(link->pending, notification.userInfo, *queue);
            if (link->flushQueued) return;
            link->flushQueued = true;
            QMetaObject::invokeMethod(bridge, &EngineBridge::flushQueueChanges, Qt::QueuedConnection);
        }));
}

void EngineBridge::flushQueueChanges() {
    QueueChanges changes;
    {
        std::lock_guard lock(link_->mutex);
        changes = std::exchange(link_->pending, QueueChanges{});
        link_->flushQueued = false;
    }
    emit queueChanged(changes);
}

}  // namespace quorvel
