#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/EncryptionKey.h"
#include "jobs/CommJobsContext.h"
#include "tree/RemoteDirInfo.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/TreeNotifications.h"

namespace ostrelcomm {

// The context of the folder jobs: listing, creation, modification (rename
// and move) and deletion of a remote folder. It holds the job's parameters,
// what one step hands the next (keys, metadata, the decrypted listing), the
// job's own HTTPS session and the name of the notification the job raises.
// The members every context has come first (jobID, httpSession, nextStep,
// abortStatus, httpError, lastStatus, resumeStatus); a folder job sets no
// abort, last or resume step, so an aborted one simply stops. The secrets
// (uk, itemKey) live as long as the queued job.
class DirectoryWorksContext : public CommJobsContext {
public:
    // The given values into the fields of the same names (`firstStep` into
    // nextStep), every other field absent, and a new session for the server
    // key `url`.
    DirectoryWorksContext(std::optional<std::string> uuid, std::optional<std::string> parentuuid,
                          std::optional<std::string> newparentuuid, std::optional<std::string> name,
                          const std::string& url, JobsSteps firstStep, std::string notificationName,
                          std::optional<std::string> source);

    // The folder the job works on; a creation, modification or deletion puts
    // the identifier of the server's confirmation here.
    std::optional<std::string> uuid;
    // The folder's name for a creation or a rename.
    std::optional<std::string> name;
    // Deletion only: the folder's contents go with it.
    std::optional<bool> recursive;
    // The folder's current metadata, read by a modification.
    std::optional<RemoteItemMetadata> metadata;
    // The unwrapped user master key, from a creation's preparation.
    std::optional<EncryptionKey> uk;
    // The folder's item key: a new folder's, or the one a modification read.
    std::optional<EncryptionKey> itemKey;
    std::optional<std::vector<std::string>> attrib;
    // Where a creation puts the new folder (absent: the top of the tree); a
    // modification puts the folder's parent from the listing here.
    std::optional<std::string> parentuuid;
    // The destination of a move.
    std::optional<std::string> newparentuuid;
    // The requester's tag, handed back in the payload.
    std::optional<std::string> source;
    // The decrypted listing of a listing job.
    std::shared_ptr<RemoteDirInfo> remoteDirInfo;
    const std::string notificationName;

    // inProgress: "Started". completed: the word and payload of completed(),
    // with the last request error. error: "Error" with that error, never a
    // payload. aborted: "Aborted" alone. Every other status: nothing posted.
    JobNotificationData getNotificationData(JobStatus status) override;

private:
    struct Completion {
        std::string word;
        std::any payload;
    };
    // By notificationName: "Received" with the listing, "Created", "Modified"
    // or "Deleted" with the identifier (bare, or beside the source under
    // "source" when there is one); "Completed" with nothing for any other name.
    Completion completed() const;
};

}  // namespace ostrelcomm
