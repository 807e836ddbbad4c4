#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/JobStatus.h"
#include "platform/NotificationCenter.h"
#include "tree/CopyProgressData.h"
#include "tree/TreeNotifications.h"

namespace ostrelcomm {

class SrvComm;

// clang-format off
#define OSTRELCOMM_COPY_DIR_STATUSES(X) \
    X(idle) X(queryRootTree) X(gettingTree) X(prepareCreateDirectory) X(creatingDestDir) X(destDirCreated) \
    X(prepareCopyFile) X(copyingFile) X(fileCopyDone) X(completed) X(error)
// clang-format on

// Copies a remote folder with everything below it into another remote
// folder, with the engine's own jobs run one after another: the folder tree
// of the source, one folder creation for every folder (the source's own copy
// first, each folder after the one that holds it), then one file copy for
// every file. Progress, the end and a failure are posted on the copier's own
// center (tree/TreeNotifications.h: "ItemCopied", "CopyCompleted",
// "CopyError").
//
// The copier follows only the jobs it queued: it keeps the identifier of the
// job it waits on and takes a result only when that job has ended that way,
// so the application's own folder creations and file copies on the same
// engine, or another requester's failures, never move it. A failing or
// aborted job of its own ends the copy with "CopyError" carrying that job's
// notification. Nothing copied before a failure is undone.
//
// Lifetime. The owner holds it by std::shared_ptr (create()); its observers
// on the engine's center hold it weakly and its destructor removes them, so
// dropping it mid-copy stops the copy (the job already queued still runs and
// is ignored).
//
// Threads. The observers run on the thread that posts the engine's job
// notifications, with the engine's lock held; copy() takes that lock, so the
// copier's state is only ever touched under it, and its own notifications
// are posted under it too. cancel() only sets an atomic flag. removeObservers()
// may be called from anywhere, an observer of the copier included.
class CopyDir : public std::enable_shared_from_this<CopyDir> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // One item to copy: its identifier, the source folder that holds it
    // ("-" for the source folder itself) and, for a folder, its name.
    struct ItemData {
        std::string item;
        std::string parent;
        std::optional<std::string> name;
    };

    enum class Status {
#define OSTRELCOMM_ENUM_CASE(name) name,
        OSTRELCOMM_COPY_DIR_STATUSES(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
    };

    // An idle copier that queues its jobs on `srvComm` and observes the
    // engine's center as it is at this moment. Throws std::invalid_argument
    // for a null engine.
    static std::shared_ptr<CopyDir> create(std::shared_ptr<SrvComm> srvComm);
    // For create() only.
    CopyDir(Passkey, std::shared_ptr<SrvComm> srvComm);
    ~CopyDir();
    CopyDir(const CopyDir&) = delete;
    CopyDir& operator=(const CopyDir&) = delete;

    // Where the copier posts; a new center of its own at first.
    std::shared_ptr<NotificationCenter> notifications() const;
    void setNotifications(std::shared_ptr<NotificationCenter> center);

    // Starts copying the folder `sourceUUID`, named `sourceName`, into the
    // folder `destinationUUID` ("root" for the top of the tree). Every copy
    // starts afresh: lists, map, progress and a cancel asked earlier are
    // forgotten, and a job still running for an earlier copy is no longer
    // followed.
    void copy(const std::string& sourceName, const std::string& sourceUUID, const std::string& destinationUUID);
    // Asks the copy to end: at its next change of state it completes
    // ("CopyCompleted") and queues nothing more. The job running meanwhile is
    // not aborted.
    void cancel();
    // Stops observing the engine; the copier then hears no result any more.
    void removeObservers();

    Status status() const { return status_.load(); }
    // A copy of the progress, as the last "ItemCopied" had it.
    CopyProgressData progress() const;

private:
    void registerObservers(const std::shared_ptr<CopyDir>& self);
    void onTree(const Notification& notification);
    void onCreated(const Notification& notification);
    void onCopied(const Notification& notification);

    // Every change of state goes through here (completed instead once a
    // cancel was asked) and runs the state machine, flat: a change made
    // while it runs is taken by the running loop.
    void setStatus(Status status);
    void runStatus(Status status);
    // Queues one job through `queue` and waits on it from now on. A result
    // the job posts before its identifier is known (a job that ends at once)
    // is kept and taken afterwards.
    template <class Queue>
    void queueJob(Queue queue);
    // True when the job waited on has ended with one of these statuses: the
    // result being posted is that job's.
    bool waitedJobEndedAs(std::initializer_list<JobStatus> statuses) const;
    // True when the engine is running the job waited on right now.
    bool waitedJobRunning() const;
    // Walks the tree in pre-order into the two lists; false when a node is
    // missing.
    bool flattenBranches(const tree::DirectoryTree& remoteItems, const std::string& parentUUID);
    // The copy of the source folder that holds an item; absent while it has
    // none.
    std::optional<std::string> newParentOf(const ItemData& item) const;
    void post(const std::string& name, UserInfo userInfo);

    const std::shared_ptr<SrvComm> srvComm_;
    // Under the engine's lock, as all the copy's state below.
    std::shared_ptr<NotificationCenter> notifications_;
    std::shared_ptr<tree::DirectoryTree> remoteDirectoryContent_;
    std::map<std::int64_t, ItemData> directoriesList_;
    std::map<std::int64_t, ItemData> filesList_;
    // Source folder → its copy; "-" stands for the destination folder.
    std::map<std::string, std::string> directoriesNewUUIDs_;
    std::optional<std::string> sourceUUID_;
    std::int64_t directoryIterator_ = 0;
    std::int64_t fileIterator_ = 0;
    CopyProgressData progress_{0, 1};
    std::atomic<bool> cancelOperation_{false};
    std::optional<Notification> notificationError_;
    std::atomic<Status> status_{Status::idle};

    // The job the copy waits on, and what was posted for it while it was
    // being queued.
    std::optional<std::string> waitingJob_;
    bool queuing_ = false;
    std::optional<Notification> earlyResult_;
    // The flat state machine.
    bool machineRunning_ = false;
    bool statusPending_ = false;

    // The engine's center the observers were registered on, and their tokens.
    mutable std::mutex observersMutex_;
    std::shared_ptr<NotificationCenter> observedCenter_;
    std::vector<NotificationCenter::Token> observers_;
};

std::string_view name(CopyDir::Status status);

}  // namespace ostrelcomm
