#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/SecretBytes.h"
#include "crypto/StreamCryptor.h"
#include "http/HTTPError.h"
#include "http/Http.h"
#include "jobs/CommJobs.h"
#include "jobs/CommJobsContext.h"
#include "jobs/JobStatus.h"
#include "jobs/JobsSteps.h"
#include "jobs/Logger.h"
#include "jobs/Session.h"
#include "jobs/UserAuthStatus.h"
#include "platform/Bytes.h"
#include "platform/NotificationCenter.h"

namespace ostrelcomm {

// The areas' types in the engine's signatures are declared by their areas;
// the engine layer names them only.
enum class SRPAuthMode;
class SRPAuthParms;
struct RemoteItemMetadata;
struct RemoteItemThumbnail;

// Posted on the engine's own center, without userInfo, when its last job has
// ended and nothing is left to run.
inline constexpr char kJobQueueEmptyNotification[] = "jobQueueEmpty";

// The engine: it queues every server operation as a job and runs one job at a
// time through its steps. A job advances only by assignments to the current
// step (setActualJobStep), each of which runs the step operation registered
// for that step; a step sends one request (or does local work) and, when its
// answer arrives, reports the job's next step and status through setNextStep.
// Every job's end is announced on the engine's own center.
//
// Threads and locks. The engine has one recursive mutex, owned by its queue
// (CommJobs::mutex()) and shared with it:
//  - every public operation takes it, and so does every queue operation, so
//    the queue's notifications reach the engine with it held;
//  - every answer handler given to Http::query / queryWithPayload must be
//    wrapped with lockedHandler(), so that it waits until the step that sent
//    the request has finished (even when the answer is faster than the step);
//  - notifications are posted synchronously with the lock held; an observer
//    must not wait for another thread that needs it;
//  - the session (username, password, srpSessionID, srpSessionKey,
//    authStatus) is one Session object with its own small mutex, so that
//    another engine can read or set it without this engine's lock; it offers
//    whole-session operations only;
//  - the step loop is flat: a step assigned while a step runs on this thread
//    is stored and run by the outermost loop, so a chain of jobs that end
//    without a request uses constant stack;
//  - nothing here joins a thread.
//
// Every job's end is announced exactly once by its context: completed,
// error or aborted, by any path (waiting or running, with or without an
// abort step, on hold).
//
// An engine must be owned by a std::shared_ptr (std::make_shared<SrvComm>()):
// answer handlers hold it weakly and are dropped once it is gone.
//
// Areas. Each area (login, accounts, folders and files, transfers, sharing)
// defines its public operations and its step operations as member functions
// of this class in a source file of its own, and registers its steps there,
// once per program, with a static StepRegistration:
//
//     namespace {
//     const SrvComm::StepRegistration kLoginSteps{
//         {JobsSteps::auth_init, &SrvComm::auth_init},
//         {JobsSteps::auth_getchallenge, &SrvComm::auth_getchallenge},
//         {JobsSteps::auth_logout, &SrvComm::auth_doLogout},
//     };
//     }
//
// Every engine made afterwards has those steps in its table. ostrelcomm is a
// shared library, so every object file's registrations run when it loads.
class SrvComm : public std::enable_shared_from_this<SrvComm> {
public:
    enum class HoldStatus { run, holdReq, hold };

    using StepOperation = std::function<void()>;
    using StepTable = std::map<JobsSteps, StepOperation>;
    using AreaStepOperation = void (SrvComm::*)();

    // Adds an area's step operations to the table of every engine made from
    // now on. A step may be registered once per program, and only an action
    // step (neither idle nor a "_wait" step); anything else is a programming
    // error that stops the program.
    class StepRegistration {
    public:
        StepRegistration(std::initializer_list<std::pair<JobsSteps, AreaStepOperation>> steps);
    };

    // A new engine: empty log, new queue, idle, not authenticated, server key
    // "https", running, its own notification center, and the step table of
    // every area registered so far.
    SrvComm();
    ~SrvComm();
    SrvComm(const SrvComm&) = delete;
    SrvComm& operator=(const SrvComm&) = delete;

    // --- fields ------------------------------------------------------------------
    Logger& comLog() { return comLog_; }
    const Logger& comLog() const { return comLog_; }
    const std::string encoderVersion{"1.0"};
    // The parameters of new password verifiers: the 2048-bit group, SHA-256
    // (defined with the login).
    static const SRPAuthParms& srpDefaultParams();
    // The content cipher of the other areas.
    const CipherAlgorithm encryptionAlgorithm = CipherAlgorithm::aes256;
    const std::size_t encryptionKeySize = 32;
    const std::size_t encryptionBlockSize = 16;

    // The session, for the areas' whole-session operations.
    Session& session() { return session_; }
    const Session& session() const { return session_; }

    // Session fields (the session's own mutex only).
    std::optional<std::string> username() const;
    void setUsername(std::optional<std::string> username);
    std::optional<SecretBytes> password() const;
    void setPassword(std::optional<SecretBytes> password);
    UserAuthStatus authStatus() const;
    void setAuthStatus(UserAuthStatus status);
    std::optional<std::string> srpSessionID() const;
    void setSrpSessionID(std::optional<std::string> sessionID);
    std::optional<SecretBytes> srpSessionKey() const;
    void setSrpSessionKey(std::optional<SecretBytes> sessionKey);

    // True for renewAuthentication and authFullAccess.
    bool isAuthenticated() const;
    // The same as srpSessionID() and srpSessionKey().
    std::optional<std::string> sessionID() const;
    std::optional<SecretBytes> sessionKey() const;
    std::optional<std::string> getUsername() const;

    // The keys of the transport's server table, sorted ascending.
    std::vector<std::string> availableURLs() const;
    // The server key handed to the session of every job queued from now on.
    std::string urlToUse() const;
    void setUrlToUse(std::string urlToUse);

    // The engine's job queue. The queue's lock is the engine's lock.
    std::shared_ptr<CommJobs> queue() const { return queue_; }
    // Where every job notification of this engine and "jobQueueEmpty" go.
    std::shared_ptr<NotificationCenter> notifications() const;
    void setNotifications(std::shared_ptr<NotificationCenter> center);

    // The job the engine is running or last took; callers only read it.
    std::optional<std::string> runningJob() const;
    void setRunningJob(std::optional<std::string> jobID);

    // Library only. Assigning the current step runs the step loop before it
    // returns: idle takes the next job (or posts "jobQueueEmpty"), a "_wait"
    // step does nothing, any other step runs its step operation.
    JobsSteps actualJobStep() const;
    void setActualJobStep(JobsSteps step);

    HoldStatus hold() const;
    void setHold(HoldStatus hold);
    std::optional<JobsSteps> holdState() const;
    void setHoldState(std::optional<JobsSteps> step);

    // A copy of the step table; setting it replaces the whole table.
    StepTable commFunc() const;
    void setCommFunc(StepTable table);
    // Sets (or replaces) this engine's operation for one action step; false,
    // and nothing changed, for idle and the "_wait" steps.
    bool registerStep(JobsSteps step, StepOperation operation);

    // --- the step loop and the public operations ----------------------------------

    // Library only. Starts the job named by runningJob(): marks it inProgress
    // and runs its context's next step. A nop job is completed at once and the
    // engine takes the next job.
    void dispatchJob();

    // Asks for a pause before the next step of a step operation that allows
    // one; holdResume() withdraws the request or runs the parked step.
    void holdRequest();
    void holdResume();

    // Asks the queue to abort the running job; false when there is none or it
    // cannot be aborted.
    bool abortCurrentJob();
    // The queue's abortJob / resumeJob for each identifier, by identifier.
    std::map<std::string, bool> abortJobs(const std::vector<std::string>& ids);
    std::map<std::string, bool> resumeJobs(const std::vector<std::string>& ids);

    // Library only. Moves the running job on: `leavingJobState` is what the
    // step reports (inProgress to go on with `nextJobStep`, completed, error,
    // deferred, aborting or aborted). A call for any job but the running one
    // changes nothing. Ending a job (completed, error, aborted) records it,
    // cancels its HTTPS session, announces it and takes the next job; an
    // error is also written to the log ("No error description?!" without a
    // message) and fails a job deferred behind it.
    void setNextStep(JobsSteps nextJobStep, JobStatus leavingJobState, bool holdAllowed,
                     std::shared_ptr<CommJobsContext> context, std::optional<std::string> errorMessage = std::nullopt);

    // --- for the areas' operations ------------------------------------------------

    // The engine's lock (the queue's).
    std::recursive_mutex& mutex() const { return queue_->mutex(); }

    // Wraps an answer handler for Http::query / queryWithPayload: it runs
    // under the engine's lock, and not at all once the engine is gone.
    template <class Handler>
    auto lockedHandler(Handler handler) {
        std::weak_ptr<SrvComm> engine = weak_from_this();
        if (engine.expired()) fatalError("An engine must be owned by a std::shared_ptr");
        return [engine = std::move(engine), lock = queue_->sharedMutex(),
                handler = std::move(handler)](auto&&... args) mutable {
            std::lock_guard guard(*lock);
            // Declared after the guard: if this was the last owner, the engine
            // goes while the lock is still held.
            std::shared_ptr<SrvComm> alive = engine.lock();
            if (!alive) return;
            handler(std::forward<decltype(args)>(args)...);
        };
    }

    // The running job's context as the context type of a step, or null when
    // there is no running job or its context is of another type.
    template <class Context>
    std::shared_ptr<Context> runningJobContext() const {
        std::lock_guard guard(mutex());
        if (!runningJob_) return nullptr;
        auto item = queue_->getJobData(*runningJob_);
        if (!item) return nullptr;
        return std::dynamic_pointer_cast<Context>(item->context);
    }

    // Logs the message as a fatal event and stops the program.
    [[noreturn]] void fatalError(const std::string& message);

    // Changes when the user's session ends or changes hands: a logout asked
    // for (already when it is queued), another user or password set. Read
    // under the engine's lock. A step's work done off the lock with the keys
    // of one session compares it before and after, and drops its result when
    // it changed.
    std::uint64_t sessionMark() const;

    // --- answer checks (defined with the login) -----------------------------------

    // Decides whether an answer may be used: false when the job has already
    // been moved on (ended in error, or deferred behind a re-login).
    bool afterCommChecks(const std::optional<HTTPError>& reqError, JobsSteps nextJobStep,
                         const std::shared_ptr<CommJobsContext>& context, const std::string& reqAction,
                         const HttpHeaders& headers, bool tryAccessRenew);
    // The job's error message for a request error.
    static std::string prepareLogMsg(const HTTPError& error);

    // --- the areas' public operations ---------------------------------------------
    // Each area declares its public operations here, in a section of its own,
    // and defines them in its own source.

    // Login and session (auth/SrvCommAuth.cpp).
    //
    // auth_add stores the user's name and password and queues a login job
    // (type authenticate, 2 steps, priority Normal); it returns the job's
    // identifier. The job posts "SRPAuthenticated" on the engine's center:
    // "InProgress" at each step, then "Authenticated", "Error" or "Aborted".
    // On "Authenticated" the engine holds the session identifier and key, and
    // authStatus is authFullAccess.
    std::string auth_add(const std::string& username, const SecretBytes& password, SRPAuthMode mode);
    // Hands this engine a session made by another one: user, password,
    // session identifier and key, and full access, all at once. No job, no
    // request, no notification. Takes only the session mutex, so the other
    // engine's observer of "SRPAuthenticated" may call it.
    void auth_setup(const std::string& username, const SecretBytes& password, const std::string& sessionID,
                    const SecretBytes& sessionKey);
    // The session as auth_setup takes it, read in one piece for handing it to
    // the other engine: that engine may hand this one its own session at the
    // same moment, and four separate reads could mix the two. Absent unless
    // user name, password, session identifier and key are all set. Takes
    // only the session mutex, like auth_setup.
    using HandOverSession = Session::Whole;
    std::optional<HandOverSession> sessionForHandOver() const;
    // Queues a local job (type logout, 1 step, Normal) that forgets the user
    // and the session and posts "userLogout" ("Completed"). Nothing is sent.
    std::string auth_logout();

    // Accounts (user/SrvCommUser.cpp). Each queues a job (priority Normal),
    // writes an INFO event and returns the job's identifier at once.
    //
    // A new account (type userAdd, 1 step): the user master key and the
    // sharing key pair are drawn, the secrets wrapped under the password key,
    // the SRP verifier made with srpDefaultParams, and all of it sent
    // unsigned. Posts "userCreationTerminated": "Created" or "Error", with
    // the new user's identifier when known. The engine holds no user name
    // afterwards: the new user logs in as usual.
    std::string user_addCreation(const std::string& username, const SecretBytes& password);
    // The logged-in user's profile (type getProfile): "userProfileDataAvailable"
    // with "Completed" and {"notificationData": UserProfile}, or "Error".
    std::string user_addGetProfile();
    // Another user's public sharing profile (type getShareProfile):
    // "peerShareData" with "Available" and the PeerShareData, or with no data
    // when the server knows no such user; "Error" on failure.
    std::string user_addGetShareProfile(const std::string& peerUsername);
    // The login history from `start` to `end` as the server counts
    // (type getSessionsInformations): "getUserSessionsData" with "Available"
    // and a std::vector<UserSessionData> in the server's order, or "Error".
    std::string user_addGetUserSessions(std::size_t start, std::size_t end);
    // Changes the password (type modifyUser): logs in again with the current
    // password, fetches the wrapped keys, wraps them under the new password
    // key with a new verifier and stores them, then logs out. Posts
    // "userModification" ("Modified" or "Error"), then, on success,
    // "userLogout". `username` only names the user in the log. A current
    // password the server refuses leaves the engine with its previous
    // password and session.
    std::string user_modify(const std::string& username, const SecretBytes& actualPassword,
                            const SecretBytes& newPassword);
    // Deletes the logged-in user's profile (type deleteProfile): logs in
    // again with the password, deletes, then logs out. Posts
    // "userProfileDeleted" ("Deleted" with {"notificationData": the user's
    // identifier}, "Error" or "Aborted"), then, on success, "userLogout".
    // A password the server refuses leaves the previous session as for
    // user_modify.
    std::string user_delete(const SecretBytes& actualPassword);

    // Folders (tree/SrvCommDirectory.cpp). Each queues a job (priority
    // Normal), writes an INFO event and returns the job's identifier at once.
    // Jobs queued with a `source` hand it back in their notification's
    // "CustomData" beside the result (tree/TreeNotifications.h).
    //
    // Lists a folder ("root" for the top of the tree; type getFolderInfo,
    // 1 step): "queryRemoteDirectoryContent" with "Started", then "Received"
    // and the folder's contents with every key unwrapped and every item's
    // metadata decrypted, "Error" or "Aborted".
    std::string directory_getInfo(const std::string& uuid, const std::optional<std::string>& source);
    // Creates a folder named `name` in `parentUUID` (absent: the top of the
    // tree; type createFolder, 2 steps): fetches the wrapped user master key,
    // then sends the new folder's fresh item key wrapped under it and its
    // metadata (name and dates) sealed under the item key.
    // "newRemoteDirectoryCreated" with "Started", then "Created" and the new
    // folder's identifier, "Error" or "Aborted".
    std::string directory_create(const std::string& name, const std::optional<std::string>& parentUUID,
                                 const std::optional<std::string>& source);
    // Trusted peers (shares/SrvCommShares.cpp). Each queues a job (priority
    // Normal, no info or details text), writes an INFO event and returns the
    // job's identifier at once; the notifications and their payload types
    // are in shares/ShareNotifications.h. A logged-out engine ends each job
    // in error without sending anything.
    //
    // Adds the peer named by a trust code (type addTrustedUser, 1 step):
    // "trustCreationTerminated" with "Created" and the new trust's
    // identifier when the server names one, or "Error". The code's text must
    // be ASCII: a user name outside ASCII ends the job in error unsent.
    std::string shares_addTrustedUser(const std::string& uuid, const std::string& username, const Bytes& pubSHKey);
    // The user's trusted peers (type listTrusts, 1 step): "trustsList" with
    // "Available" or "Error" and a std::vector<TrustCode> every time.
    std::string shares_getTrustedUsers();
    // Removes the trust in the peer whose user identifier is given (the
    // entry's peerUUID, not its trustUUID) (type removeTrust, 2 steps
    // announced, one run): "trustRemove" with "Removed" or "Error" and that
    // identifier.
    std::string shares_deleteTrust(const std::string& trustedUserUUID);

    // Folder changes and the folder tree (tree/SrvCommDirectoryModify.cpp,
    // tree/SrvCommDirectoryTree.cpp). Each queues a job (priority Normal),
    // writes an INFO event and returns the job's identifier at once.
    //
    // Renames the folder `uuid` (with `newDirectoryName`), moves it into
    // `destinationUUID`, or both (type directoryModify, 2 steps). A rename
    // first reads the folder's entry, then sends its metadata with the new
    // name and a new modification date sealed again under the folder's own
    // item key, and that key wrapped under the user master key; a move alone
    // sends one request with an empty body. "directoryPropertiesModified"
    // with "Started", then "Modified" and the folder's identifier, "Error" or
    // "Aborted".
    std::string directory_modify(const std::string& uuid, const std::optional<std::string>& destinationUUID,
                                 const std::optional<std::string>& newDirectoryName,
                                 const std::optional<std::string>& source);
    // Deletes the folder `uuid`, with everything in it when `recursive`
    // (type directoryDelete, 1 step); the server refuses to delete a folder
    // that is not empty otherwise. "directoryDeleted" with "Started", then
    // "Deleted" and the folder's identifier, "Error" or "Aborted".
    std::string directory_delete(const std::string& uuid, bool recursive, const std::optional<std::string>& source);
    // Fetches the whole subtree below `topUUID` in one request and decrypts
    // every item's metadata (type getDirectoryTree, 2 steps). `treeType`
    // "ALL" stays "ALL"; any other text asks for "DIRECTORY" (folders only).
    // "getDirectoryTreeTerminated" with "Available" and {"source", "topUUID",
    // "tree"}, or "Error" (also for an aborted job).
    std::string directory_getTree(const std::string& topUUID, bool lazy, const std::string& treeType,
                                  const std::string& source);

    // Sharing an item (shares/SrvCommShareItem.cpp). Shares the user's item
    // `itemUUID` with the user named `peerUsername` (type shareItem, 4 steps
    // announced, priority Normal, an INFO event): fetches the user's wrapped
    // keys, the item's and the peer's public sharing key, then sends the
    // item key wrapped under the key the user and the peer share.
    // "shareItemTerminated" with "Shared" and the share's identifier, or
    // "Error" (shares/ShareNotifications.h). An item already shared with the
    // peer is "Shared" with the existing share's identifier and nothing
    // sent again. Neither argument is checked here: the server decides whom
    // an item may be shared with.
    std::string shares_shareItem(const std::string& peerUsername, const std::string& itemUUID);

    // The shares around the user's items (shares/SrvCommShareList.cpp).
    // Each queues a job (3 steps announced, one request, priority Normal, no
    // info or details text), writes an INFO event and returns the job's
    // identifier at once; the notifications and their payload types are in
    // shares/ShareNotifications.h. An expired session is renewed and the
    // request sent again.
    //
    // The shares of the user's item `itemUUID` (type queryForShares):
    // "queryForShares" with "Started", then "Received" and the shares, or
    // "Error".
    std::string shares_queryForShares(const std::string& itemUUID);
    // Removes a share, made by the user or to the user (type removeShare):
    // "removeShareTerminated" with "Removed" or "Error" and `shareUUID`.
    std::string shares_removeShare(const std::string& shareUUID);
    // The users who share items with the user (type queryForSharingPeers):
    // "queryForSharingPeers" with "Started", then "Received" and the peers,
    // or "Error".
    std::string shares_queryForSharingPeer();
    // The items shared with the user, all of them or only those of the owner
    // `peerUUID` (type queryForSharedItems): the user's private sharing key
    // is unwrapped under the password key, then each item's key and
    // metadata are opened (Server_GetSharedItems::decryptKeys, which leaves
    // out an item that does not open). "querySharedItems" with "Started",
    // then "Available" and the items, or "Error" ("Cannot decrypt user's
    // private key!" when the private key does not unwrap).
    std::string shares_queryForSharedItems(std::optional<std::string> peerUUID);

    // Downloads (xfer/SrvCommFileReceive.cpp).
    //
    // Downloads the remote file `remoteUUID` into the local folder `localURL`
    // (made with its parents when missing), under the name in the item's
    // decrypted metadata made safe (safeLocalFileName) and free: an existing
    // file is never replaced, the download takes "name (1).ext" and so on.
    // Every block is checked against the server's block list, decrypted and
    // written into "<remoteUUID>.OstrelDownload" in that folder, and the whole
    // against the file's tree hash before it takes its name. `itemName` is
    // only the job's details text. Queues a job (type fileReceive, 3 steps,
    // then blocks + 3, priority Normal) and returns its identifier; none,
    // with an ERROR event, when `remoteUUID` is not a UUID text or no key can
    // be made. The job posts "remoteFileDownload" (xfer/XferNotifications.h):
    // "Downloading" at each move, then "Received" with the path written,
    // "Error" (the temporary file stays) or "Aborted" (it is removed). A
    // download cannot be resumed.
    std::optional<std::string> fileReceive_add(const std::string& remoteUUID, const std::filesystem::path& localURL,
                                               const std::string& itemName,
                                               const std::optional<std::string>& source = std::nullopt);

    // Files (tree/SrvCommFile.cpp). Each queues a job (priority Normal),
    // writes an INFO event and returns the job's identifier at once
    // (tree/TreeNotifications.h has the notifications and payloads).
    //
    // A file's information (type getFileInfo, 1 step): its key unwrapped
    // (own file or shared with the user), its metadata decrypted with the
    // separate thumbnail merged in. "getFileInfo" with "Started", then
    // "Received" and {"source", "fileInfo"}, "Error" or "Aborted".
    std::string file_getFileInfo(const std::string& uuid, const std::optional<std::string>& source);
    // Renames, moves and re-describes a file in one request (type
    // fileModify, 2 steps): reads its key, attributes and metadata, then
    // sends the attributes back with `destinationUUID` (absent: no move),
    // `newMetadata` (absent: the current metadata again, unless it could not
    // be read) and the thumbnail (`thumbnailStruct`, else the one inside the
    // new metadata), each sealed under the file key.
    // "filePropertiesModification" with "Started", then "Modified" and the
    // file's identifier, "Error" or "Aborted".
    std::string file_modify(const std::string& uuid, const std::optional<std::string>& destinationUUID,
                            const std::optional<RemoteItemMetadata>& newMetadata,
                            const std::optional<RemoteItemThumbnail>& thumbnailStruct);
    // Deletes a file (type fileDelete, 1 step): "deleteFile" with "Started",
    // then "Deleted" and the file's identifier, "Error" or "Aborted".
    std::string file_delete(const std::string& uuid);
    // Copies a file on the server into the folder `destinationUUID` (absent:
    // "root") (tree/SrvCommFileCopy.cpp; type fileCopy, 2 steps): fetches
    // the file's key (own, or shared with the user) and the user master key,
    // then sends the destination and the file key wrapped under the user
    // master key; content and metadata never pass through the client.
    // "fileCopy" with "Started", then "Copied" (no new identifier), "Error"
    // or "Aborted". Takes no source tag.
    std::string file_copy(const std::string& uuid, const std::optional<std::string>& destinationUUID);

    // Transfers (xfer/SrvCommFileSend.cpp).
    //
    // Uploads one local regular file into the remote folder `remoteParentUUID`
    // (absent: the top of the user's tree) under `destinationFileName` (absent:
    // the local name), with an optional thumbnail image and its MIME type (a
    // thumbnail without one is left out, with a warning in the log). The file
    // is encrypted block by block under a key of its own; its metadata,
    // thumbnail and key reach the server only encrypted. Queues a job (type
    // fileSend, blocks + 3 steps, priority Normal) and returns its identifier;
    // none, with the reason in the log, when the file is no regular file, cannot
    // be read, or no key can be made. The job posts "localFileUpload"
    // (xfer/XferNotifications.h): "Sending" at each move, then "Sent", "Error"
    // or "Aborted". A failed upload can be resumed at the step that failed
    // (resumeJobs); an aborted one drops what the server has of it.
    std::optional<std::string> fileSend_add(const std::filesystem::path& localURL,
                                            const std::optional<std::string>& remoteParentUUID,
                                            const std::optional<std::string>& destinationFileName = std::nullopt,
                                            const std::optional<Bytes>& thumbnail = std::nullopt,
                                            const std::optional<std::string>& thumbnailmime = std::nullopt,
                                            const std::optional<std::string>& source = std::nullopt);

private:
    // The re-login both account changes begin with: the typed password into
    // the engine, a login job queued ahead, this job deferred to `next`. If
    // that login does not succeed, the previous password and session come
    // back and `renewalFailed` runs (under the engine's lock).
    void renewAuthenticationForAccountChange(const std::shared_ptr<CommJobsContext>& context,
                                             const SecretBytes& actualPassword, JobsSteps next,
                                             std::function<void()> renewalFailed);

public:
    // For the steps that sign their request (auth/SrvCommChecks.cpp).
    //
    // One consistent reading of the session a signed request needs.
    using SigningSession = Session::Signing;
    // A step that must sign reads its session here, before it sends. Without
    // a user name, session identifier or session key (a failed renewal leaves
    // the engine without a key) nothing may go out unsigned: the job is ended
    // in error (kNoSigningSession, with an HTTPError of kind
    // badAuthentication in the context) and the step stops.
    std::optional<SigningSession> signingSession(const std::shared_ptr<CommJobsContext>& context);
    static constexpr const char* kNoSigningSession = "Not logged in: no session to sign the request";
    // A job whose request meets "Session expired" this many times in a row
    // (each followed by a re-login) ends in error at the next one.
    static constexpr int kMaxRenewalsInARow = 2;

private:
    // Re-logins queued for each job since its last accepted answer, by job
    // identifier; under the engine's lock.
    std::map<std::string, int> renewalsInARow_;

public:
    // --- step operations: the step table's 44 entries -----------------------------
    // Declared here, defined and registered by their areas. A step whose area
    // has not registered it yet stops the program when it is run.

    // Login
    void auth_init();
    void auth_getchallenge();
    void auth_doLogout();
    // Accounts
    void user_create();
    void user_getProfile();
    void user_getShareProfile();
    void user_renewAuthenticationForDelete();
    void user_deleteProfile();
    void user_renewAuthenticationForModify();
    void user_getKeys();
    void user_storeKeys();
    void user_getUsersSessions();
    // Uploads and downloads
    void fileSend_prepare();
    void fileSend_sendBlock();
    void fileSend_finalize();
    void fileSend_terminate();
    void fileSend_abort();
    void fileSend_resume();
    void fileReceive_prepare();
    void fileReceive_getBlock();
    void fileReceive_terminate();
    void fileReceive_abort();
    // Folders and files
    void directory_getInfoQuery();
    void directory_getDirectoryTreeQuery();
    void directory_createPrepare();
    void directory_createExecute();
    void directory_modifyPrepare();
    void directory_modifyExecute();
    void directory_delete();
    void file_getInfoQuery();
    void file_modifyPrepare();
    void file_modifyExecute();
    void file_copyPrepare();
    void file_copyExecute();
    void file_delete();
    // Trust and sharing
    void share_addTrustedUserQuery();
    void share_listTrustsQuery();
    void share_removeTrustedUserQuery();
    void share_shareItem_prepare();
    void share_shareItem_execute();
    void share_queryForSharingPeers_query();
    void share_queryForShares_query();
    void share_queryForSharedItems_query();
    void share_removeShare_query();

private:
    void initStatusTable();
    void onQueueNotification(const Notification& notification);
    void runStepLoop();
    void runStep(JobsSteps step);
    // Announces the end of a waiting job that the queue has aborted.
    void onWaitingJobAborted(const std::shared_ptr<CommJobsContext>& context);
    // A running job parked by a hold and then aborted ends without running
    // its next step.
    void onJobChanged(const Notification& notification);
    // Takes waiting jobs until one is running or none is left.
    void takeNextJob();
    // Starts the job named by runningJob_; true when it ended at once and the
    // engine, still idle on it, is to take the next job.
    bool startRunningJob();
    void goIdle();

    void recordAndEnd(const std::string& jobID, JobStatus status, const std::shared_ptr<CommJobsContext>& context);
    void continueJob(const std::string& jobID, JobsSteps nextJobStep, JobStatus recordedStatus, bool holdAllowed,
                     const std::shared_ptr<CommJobsContext>& context);
    void deferJob(const std::string& jobID, JobsSteps nextJobStep, const std::shared_ptr<CommJobsContext>& context);
    void failJob(const std::string& jobID, const std::shared_ptr<CommJobsContext>& context,
                 const std::optional<std::string>& errorMessage);
    void abortRunningJob(const std::string& jobID, const std::shared_ptr<CommJobsContext>& context);
    void failLinkedJob();
    static void cancelSession(const std::shared_ptr<CommJobsContext>& context);
    void raiseNotificationForContext(const std::shared_ptr<CommJobsContext>& context, JobStatus requestedJobState);

    Logger comLog_;
    const std::shared_ptr<CommJobs> queue_;

    Session session_;

    // Under the engine's lock.
    JobsSteps actualJobStep_ = JobsSteps::idle;
    std::optional<std::string> runningJob_;
    std::string urlToUse_ = "https";
    HoldStatus hold_ = HoldStatus::run;
    std::optional<JobsSteps> holdState_;
    std::shared_ptr<NotificationCenter> notifications_;
    StepTable commFunc_;
    // Set while a job is being started: the engine is not idle for the
    // queue's notifications then, although no step has been assigned yet.
    bool dispatching_ = false;
    // The flat step loop: set while a loop runs on the thread holding the
    // lock; a step assigned meanwhile only marks itself pending.
    bool stepLoopRunning_ = false;
    bool stepPending_ = false;

    // The queue's center as it was when the engine registered its observers.
    std::shared_ptr<NotificationCenter> queueCenter_;
    std::vector<NotificationCenter::Token> queueObservers_;

    // The connections this engine's jobs share, and no other engine's.
    ConnectionPool connectionPool_;

    // Logouts asked for (auth_logout), under the engine's lock.
    std::uint64_t logoutsAsked_ = 0;
};

std::string_view name(SrvComm::HoldStatus hold);

}  // namespace ostrelcomm
