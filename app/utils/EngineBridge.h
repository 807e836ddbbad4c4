#pragma once

#include <QObject>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "http/HTTPError.h"
#include "jobs/CommJobs.h"
#include "jobs/CommJobsItem.h"
#include "jobs/SrvComm.h"
#include "platform/NotificationCenter.h"
#include "shares/ShareNotifications.h"
#include "tree/TreeNotifications.h"
#include "user/UserNotifications.h"
#include "xfer/XferNotifications.h"

namespace quorvel {

// What a job notification's "CustomData" was: missing or the null object, a
// dictionary (a tagged payload, or a payload that is a dictionary itself), or
// a value of another kind. Observers tell a malformed notification from an
// empty one by it.
enum class CustomDataShape { absent, dictionary, other };

// One job notification of an engine, copied on the engine's thread.
template <class Payload>
struct JobEvent {
    // "Result"; absent when missing or not a text.
    std::optional<std::string> result;
    std::optional<ostrelcomm::HTTPError> httpError;
    // The payload; absent when there is none or it is not of the type the
    // notification's area announces.
    std::optional<Payload> data;
    // The requester's tag, for a job queued with one; absent when untagged
    // (or when the tag is not a text).
    std::optional<std::string> source;
    CustomDataShape customData = CustomDataShape::absent;
};

struct NoPayload {};

using LoginEvent = JobEvent<NoPayload>;
using LogoutEvent = JobEvent<NoPayload>;
using UserCreationEvent = JobEvent<ostrelcomm::user::UserCreationPayload>;
using UserProfileEvent = JobEvent<ostrelcomm::user::UserProfilePayload>;
using PeerShareDataEvent = JobEvent<ostrelcomm::user::PeerShareDataPayload>;
using UserSessionsEvent = JobEvent<ostrelcomm::user::UserSessionsPayload>;
using UserModificationEvent = JobEvent<ostrelcomm::user::UserModificationPayload>;
using UserProfileDeletedEvent = JobEvent<std::string>;

// The remote tree. A tagged job's payload is read from its dictionary (the
// tag in `source`); an untagged one's is the bare payload.
using DirectoryContentEvent = JobEvent<ostrelcomm::tree::DirInfoPayload>;
using DirectoryCreatedEvent = JobEvent<ostrelcomm::tree::ItemUuidPayload>;
using DirectoryModifiedEvent = JobEvent<ostrelcomm::tree::ItemUuidPayload>;
using DirectoryDeletedEvent = JobEvent<ostrelcomm::tree::ItemUuidPayload>;
using FileInfoEvent = JobEvent<ostrelcomm::tree::FileInfoMetadata>;
using FileModificationEvent = JobEvent<ostrelcomm::tree::ItemUuidPayload>;
using FileCopyEvent = JobEvent<ostrelcomm::tree::ItemUuidPayload>;
using FileDeletedEvent = JobEvent<ostrelcomm::tree::ItemUuidPayload>;
// A folder tree: "topUUID" and "tree", each absent when missing or mistyped.
struct DirectoryTreeData {
    std::optional<std::string> topUUID;
    std::optional<ostrelcomm::tree::DirectoryTree> tree;
};
using DirectoryTreeEvent = JobEvent<DirectoryTreeData>;

// Transfers: a download's report, its dictionary copied as it came.
using RemoteFileDownloadEvent = JobEvent<ostrelcomm::xfer::RemoteFileDownloadPayload>;

// Trust and sharing.
using TrustsListEvent = JobEvent<ostrelcomm::shares::TrustsListPayload>;
using TrustCreationEvent = JobEvent<ostrelcomm::shares::TrustCreationPayload>;
using TrustRemoveEvent = JobEvent<ostrelcomm::shares::TrustRemovePayload>;
using ShareItemEvent = JobEvent<ostrelcomm::shares::ShareItemPayload>;
using QueryForSharesEvent = JobEvent<ostrelcomm::shares::QueryForSharesPayload>;
using RemoveShareEvent = JobEvent<ostrelcomm::shares::RemoveSharePayload>;
using SharingPeersEvent = JobEvent<ostrelcomm::shares::SharingPeersPayload>;
using SharedItemsEvent = JobEvent<ostrelcomm::shares::SharedItemsPayload>;

// What changed in an engine's queue since the last queueChanged signal.
struct QueueChanges {
    // The latest data of each job announced ("NewJobAvailable", "JobChanged",
    // "JobResumed"), by job identifier; absent for a job the queue no longer
    // knows. The copies carry no context: a job's context belongs to its
    // engine's thread.
    std::map<std::string, std::optional<ostrelcomm::CommJobsItem>> jobs;
    // Jobs were added or dropped ("NewJobAvailable", "JobCleanup"): read the
    // whole list again (CommJobs::getJobsList). A turn of mere changes of
    // jobs leaves it false.
    bool listChanged = false;
};

// The one way from an engine to the widgets. Its observers run on the
// engine's thread with the engine's lock held: they copy the notification
// into a typed value and queue its signal, which is then emitted on the main
// thread, never with an engine lock held. Widgets and sheets connect to these
// signals, never to an engine's centers.
//
// A burst of queue notifications becomes one queueChanged per turn of the
// event loop: a running transfer announces every block, and one repaint per
// announcement would drown the main thread.
//
// Made, used and destroyed on the main thread.
class EngineBridge : public QObject {
    Q_OBJECT

public:
    explicit EngineBridge(std::shared_ptr<ostrelcomm::SrvComm> engine, QObject* parent = nullptr);
    ~EngineBridge() override;

    const std::shared_ptr<ostrelcomm::SrvComm>& engine() const { return engine_; }

signals:
    void srpAuthenticated(const quorvel::LoginEvent& event);
    void userLogout(const quorvel::LogoutEvent& event);
    void userCreationTerminated(const quorvel::UserCreationEvent& event);
    void userProfileDataAvailable(const quorvel::UserProfileEvent& event);
    void peerShareData(const quorvel::PeerShareDataEvent& event);
    void getUserSessionsData(const quorvel::UserSessionsEvent& event);
    void userModification(const quorvel::UserModificationEvent& event);
    void userProfileDeleted(const quorvel::UserProfileDeletedEvent& event);

    void queryRemoteDirectoryContent(const quorvel::DirectoryContentEvent& event);
    void newRemoteDirectoryCreated(const quorvel::DirectoryCreatedEvent& event);
    void directoryPropertiesModified(const quorvel::DirectoryModifiedEvent& event);
    void directoryDeleted(const quorvel::DirectoryDeletedEvent& event);
    void getDirectoryTreeTerminated(const quorvel::DirectoryTreeEvent& event);
    void getFileInfo(const quorvel::FileInfoEvent& event);
    void filePropertiesModification(const quorvel::FileModificationEvent& event);
    void fileCopy(const quorvel::FileCopyEvent& event);
    void deleteFile(const quorvel::FileDeletedEvent& event);
    void remoteFileDownload(const quorvel::RemoteFileDownloadEvent& event);

    void trustsList(const quorvel::TrustsListEvent& event);
    void trustCreationTerminated(const quorvel::TrustCreationEvent& event);
    void trustRemove(const quorvel::TrustRemoveEvent& event);
    void shareItemTerminated(const quorvel::ShareItemEvent& event);
    void queryForShares(const quorvel::QueryForSharesEvent& event);
    void removeShareTerminated(const quorvel::RemoveShareEvent& event);
    void queryForSharingPeers(const quorvel::SharingPeersEvent& event);
    void querySharedItems(const quorvel::SharedItemsEvent& event);

    void jobQueueEmpty();
    void queueChanged(const quorvel::QueueChanges& changes);

private:
    // What the engine's threads reach of the bridge, shared with its
    // observers: cleared under its mutex before the bridge goes, so an
    // observer running at that moment either queues its signal first (and
    // the bridge's end drops it) or finds no bridge.
    struct Link {
        std::mutex mutex;
        EngineBridge* bridge = nullptr;
        QueueChanges pending;
        bool flushQueued = false;
    };

    template <class Event>
    void relay(const char* name, Event (*read)(const ostrelcomm::UserInfo&),
               void (EngineBridge::*signal)(const Event&));
    // Adds one queue notification to the pending changes; run on the poster's
    // thread with the queue's lock held.
    using QueueGatherer = void (*)(QueueChanges&, const ostrelcomm::UserInfo&, const ostrelcomm::CommJobs&);
    void relayQueue(const char* name, QueueGatherer gather);
    void flushQueueChanges();

    std::shared_ptr<ostrelcomm::SrvComm> engine_;
    std::shared_ptr<Link> link_;
    std::vector<std::pair<std::shared_ptr<ostrelcomm::NotificationCenter>, ostrelcomm::NotificationCenter::Token>>
        observers_;
};

}  // namespace quorvel
