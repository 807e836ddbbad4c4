#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/JobStatus.h"
#include "platform/Bytes.h"
#include "platform/NotificationCenter.h"
#include "xfer/ConflictingBehaviours.h"
#include "xfer/LocalItemInfo.h"

namespace ostrelcomm {

class SerialQueue;
class SrvComm;
class VirtualPath;
class RemoteDirInfo;
struct RemoteItemInfo;

// The states of a multi-file upload's run, in order.
// clang-format off
#define OSTRELCOMM_MULTIPLE_LOCAL_FILE_SEND_STATUSES(X) \
    X(idle) X(getNextItem) X(checkIfDestinationDir) X(changeLevel) X(queryForRemoteDirectoryContent) \
    X(waitForDestDirContent) X(checkRemoteExist) X(deleteOldFile) X(waitForFileDeleted) X(createDestDir) \
    X(waitForDestDirCreated) X(sendFile) X(waitForFileSent) X(completed) X(aborted) X(error)
// clang-format on

// Uploads a set of local files and folders into one remote folder, keeping
// the local folder structure, one upload job at a time on its engine. The
// application keeps one for the life of its main view and reuses it for every
// upload: clearSource(), appendToSource() once per chosen item,
// startTransfer(); then, optionally, setAbortOperation(true). isIdle() tells
// whether a run is going on.
//
// It observes four notifications of the engine's own center ("localFileUpload",
// "deleteFile", "newRemoteDirectoryCreated", "queryRemoteDirectoryContent").
// The observers hold it weakly and are removed when it goes, so it lives only
// as long as its owner keeps it.
//
// A run posts "multipleLocalFileSend" (xfer/XferNotifications.h) on the
// center given at construction: "Sending" with the run's progress while files
// go out, then once "Completed", "Aborted" or "Error". A run that ended in
// error keeps its place: resuming its failed upload job (resumeJobs) takes it
// on from there.
//
// Threads. The owner calls the public operations on its own thread; the
// observers run on the engine's thread with the engine's lock held. Every
// operation that changes the object takes the engine's lock, so no field is
// touched by two threads at once; a folder is walked before the lock is taken
// and its items are appended under it. isIdle() and abortOperation() read
// atomics and never wait for the lock, which the engine's thread may hold for
// a while. Long work on a local file (comparing it with a remote file by its
// SHA-256, making its thumbnail) runs on the uploader's own worker thread,
// off the engine's lock, and the run takes the lock again with the result.
class MultipleLocalFileSend {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // What to do with a file whose name a remote item already has; the
    // settings store the raw values.
    using ConflictingBehaviours = ostrelcomm::ConflictingBehaviours;
    // The rule with this raw value (0, 1 or 2); none for any other number.
    static constexpr std::optional<ConflictingBehaviours> fromRaw(std::int64_t raw) {
        return conflictingBehavioursFromRaw(raw);
    }

    enum class Status {
#define OSTRELCOMM_ENUM_CASE(name) name,
        OSTRELCOMM_MULTIPLE_LOCAL_FILE_SEND_STATUSES(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
    };
    static constexpr std::size_t kStatusCount = 0
#define OSTRELCOMM_COUNT_CASE(name) +1
        OSTRELCOMM_MULTIPLE_LOCAL_FILE_SEND_STATUSES(OSTRELCOMM_COUNT_CASE)
#undef OSTRELCOMM_COUNT_CASE
        ;

    // An idle uploader that queues its jobs on `srvComm` and posts its
    // progress on `notifications`, with a new upper-case UUID text as its
    // "source" tag. Its four observers are registered on the engine's center
    // as it is at this moment. Throws std::invalid_argument for a null
    // engine or center.
    static std::shared_ptr<MultipleLocalFileSend> create(std::shared_ptr<SrvComm> srvComm,
                                                         std::shared_ptr<NotificationCenter> notifications);
    // For create() only.
    MultipleLocalFileSend(Passkey, std::shared_ptr<SrvComm> srvComm,
                          std::shared_ptr<NotificationCenter> notifications);
    ~MultipleLocalFileSend();
    MultipleLocalFileSend(const MultipleLocalFileSend&) = delete;
    MultipleLocalFileSend& operator=(const MultipleLocalFileSend&) = delete;

    // The tag passed as "source" with every job the uploader queues.
    const std::string& instanceUUID() const { return instanceUUID_; }

    // True unless a run is going on (idle, completed, aborted or error).
    bool isIdle() const;

    // Whether an abort was asked and not yet taken by the run. Setting true
    // also asks the engine to abort the upload job that runs for this object,
    // if there is one; the run then ends as aborted at its next change of
    // state (a request made while no run is going on ends the next run at
    // its first). Setting false only stores.
    bool abortOperation() const;
    void setAbortOperation(bool abortOperation);

    // Adds a local file, or a folder with everything it holds, to the source
    // list and returns the number of items in the list afterwards. A file
    // counts towards bytesToSend() with its size.
    //
    // A folder is followed by its contents, depth first: each folder before
    // what it holds, the entries of a folder in the byte order of their
    // names. The walk skips hidden entries (a name starting with ".") and all
    // they hold, symbolic links (never followed), and anything that is
    // neither a regular file nor a folder. An entry that cannot be read ends
    // the walk, logged in the system log; the items found before it stay.
    //
    // An item chosen directly may be hidden, but must be a regular file or a
    // folder itself (not a symbolic link, FIFO, socket or device: an upload
    // of those would block or never end). Otherwise, or when its properties
    // cannot be read, nothing is added, the reason goes to the system log
    // and the result is none.
    //
    // Every name that becomes a remote name (the chosen item's own, and each
    // entry's name in a walk) must be UTF-8: the metadata sealed with each
    // upload cannot hold anything else, and a file found out only once its
    // blocks are stored would fail the run and leave them behind. A chosen
    // item with such a name is refused like a link; a walk skips such an
    // entry, and a folder with all it holds.
    //
    // Every item refused, and every entry a walk skipped for its name, is
    // listed by refusedItems().
    std::optional<std::size_t> appendToSource(const std::filesystem::path& localURL);

    // The items appendToSource() refused since the last clearSource(), in the
    // order met: chosen items it did not add, and the entries of walked
    // folders skipped for a name that is not UTF-8. Absolute paths.
    std::vector<std::filesystem::path> refusedItems() const;

    // Empties the source list, the refused items and the destination folder
    // map, sets both byte counters to 0 and forgets the start time. Nothing
    // else changes.
    void clearSource();

    // Starts a run that sends the source list into the remote folder that the
    // last component of `destination` names ("root" for the empty path),
    // recreating the items' folders under it, as counted from
    // `baseSourceURL`. An empty list ends at once as completed. The byte
    // counters, the error text and an abort request are not reset: the caller
    // clears and fills the source list before each run.
    void startTransfer(const std::filesystem::path& baseSourceURL, const VirtualPath& destination,
                       ConflictingBehaviours conflictingBehaviour);

    // The clock the run's elapsed time is read from (a steady one unless a
    // test replaces it). Seconds, as a floating-point number.
    using TimePoint = std::chrono::time_point<std::chrono::steady_clock, std::chrono::duration<double>>;
    using Clock = std::function<TimePoint()>;
    void setClock(Clock clock);
    // For tests: called on the worker thread, off the engine's lock, before
    // each piece of long work on a local file, with the file's path.
    void setLongWorkHook(std::function<void(const std::filesystem::path&)> hook);

    // A copy of the source list, in order.
    std::vector<LocalItemInfo> sourceItems() const;
    // The sum of the sizes of the files in the source list.
    std::int64_t bytesToSend() const;
    // The sum of the sizes of the files whose upload has ended in this run.
    std::int64_t bytesSent() const;

private:
    enum class Observed { localFileUpload, deleteFile, newRemoteDirectoryCreated, queryRemoteDirectoryContent };
    enum class NotificationSource { blockSent, fileSent };

    void registerObservers(const std::shared_ptr<MultipleLocalFileSend>& self);
    // Every assignment of the state consumes a pending abort, then runs that
    // state's handler.
    void setStatus(Status status);
    // Runs `action` inside the run's loop: states it assigns and
    // notifications that arrive meanwhile are taken one after another by the
    // loop, never by recursion.
    void inRun(const std::function<void()>& action);
    void handleStatus(Status status);
    void observe(Observed observed, const Notification& notification);
    void dispatch(Observed observed, const Notification& notification);

    // The state handlers that do work.
    void getNextItem();
    void checkIfDestinationDir();
    void changeLevel();
    void queryForRemoteDirectoryContent();
    void checkRemoteExist();
    void deleteOldFile();
    void createDestDir();
    void sendFile();
    void compared(std::uint64_t work, bool equal);
    void thumbnailMade(std::uint64_t work, std::optional<Bytes> thumbnail, std::optional<std::string> mime);
    void fail(std::string text);

    // The four observers.
    void onLocalFileUpload(const Notification& notification);
    void onDeleteFile(const Notification& notification);
    void onNewRemoteDirectoryCreated(const Notification& notification);
    void onQueryRemoteDirectoryContent(const Notification& notification);
    // The job the run waits for has ended with this status.
    bool awaitedJobEnded(JobStatus status) const;

    void notifyProgress(NotificationSource source);
    void completed();
    void aborted();
    void error();
    void clearout();
    void postResult(const char* result, bool withError);

    std::string relativePath(const LocalItemInfo& item) const;
    std::shared_ptr<const RemoteItemInfo> findInListing(const std::string& name) const;
    void setProgressiveFileName();
    std::optional<std::string> destinationUUID() const;
    // Queues long work on the worker and gives the number that its result
    // must still carry when it comes back.
    std::uint64_t startLongWork(std::function<void(MultipleLocalFileSend&, std::uint64_t)> work);

    // In the order of the run's description. Set when it is made and never
    // changed: the first five. Written under the engine's lock and read
    // without it: abortOperation_ and status_. Everything else is under the
    // engine's lock.
    const std::shared_ptr<SrvComm> srvComm_;
    const std::shared_ptr<NotificationCenter> notifications_;
    const std::string instanceUUID_;
    // The engine's center the observers were registered on, and their tokens.
    std::shared_ptr<NotificationCenter> observedCenter_;
    std::vector<NotificationCenter::Token> observers_;
    std::optional<std::size_t> sourceIterator_;
    std::atomic<bool> abortOperation_{false};
    std::optional<std::filesystem::path> baseSourceURL_;
    std::vector<std::shared_ptr<LocalItemInfo>> sourceItems_;
    std::vector<std::filesystem::path> refusedItems_;
    // Relative to the destination folder: folder names joined by "/"; empty
    // for the destination folder itself.
    std::string actDestPath_;
    // Relative destination path to remote folder identifier.
    std::map<std::string, std::string> destinationDirsMap_;
    // The last listing of the folder at actDestPath_; null when absent.
    std::shared_ptr<RemoteDirInfo> remoteDirectoryContent_;
    std::shared_ptr<LocalItemInfo> itemUnderWork_;
    std::optional<std::string> fileSendingJobUUID_;
    std::int64_t bytesToSend_ = 0;
    std::int64_t bytesSent_ = 0;
    // Only the run's elapsed time is measured from it, so a clock that never
    // goes back.
    std::optional<TimePoint> startTime_;
    // The remote item that has the name of the file under work; null when
    // absent.
    std::shared_ptr<const RemoteItemInfo> existingItemData_;
    std::optional<std::string> destinationFileName_;
    std::optional<std::string> destinationDirName_;
    ConflictingBehaviours conflictingBehaviour_ = ConflictingBehaviours::alwaysReplace;
    std::string errorText_ = "No error";
    std::atomic<Status> status_{Status::idle};

    // Under the engine's lock.
    std::weak_ptr<MultipleLocalFileSend> self_;
    // The listing, folder creation or deletion job the run waits for.
    std::optional<std::string> awaitedJob_;
    // The upload job whose failure ended the run in error: only its resume
    // brings the run back.
    std::optional<std::string> failedUploadJob_;
    // The loop that takes states and notifications one after another.
    bool inRun_ = false;
    std::optional<Status> pendingStatus_;
    std::deque<std::pair<Observed, Notification>> deferred_;
    // Long work in flight carries this number; a result with another one is
    // stale (a new run, or newer work, came meanwhile).
    std::uint64_t longWork_ = 0;
    std::shared_ptr<SerialQueue> worker_;
    std::function<void(const std::filesystem::path&)> longWorkHook_;
    Clock clock_;
};

std::string_view name(MultipleLocalFileSend::Status status);

}  // namespace ostrelcomm
