#pragma once

#include <any>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/PrivateKey.h"
#include "jobs/CommJobsContext.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemThumbnail.h"
#include "tree/TreeNotifications.h"

namespace ostrelcomm {

// The context of every job that works on one remote file: its information,
// its modification (rename, move, new metadata or thumbnail), its copy and
// its deletion; the multi-file upload makes one itself when it deletes a
// file it replaces. It holds the job's inputs, what one step hands the next
// (the file key, the attributes, the current metadata), the job's own HTTPS
// session and the name of the notification the job raises.
// The members every context has come first (jobID, httpSession, nextStep,
// abortStatus, httpError, lastStatus, resumeStatus); a file job sets no
// abort, last or resume step, so an aborted one simply stops. The secrets
// (umk, sharingKey, fileKey) live as long as the queued job.
class FileWorksContext : public CommJobsContext {
public:
    // `uuid`, `parentuuid`, `firstStep` into nextStep and the notification
    // name; every other field absent, and a new session for the server key
    // `url`.
    FileWorksContext(std::string uuid, std::optional<std::string> parentuuid, const std::string& url,
                     JobsSteps firstStep, std::string notificationName);
    // The same, with the metadata and thumbnail a modification stores.
    FileWorksContext(std::string uuid, std::optional<std::string> parentuuid,
                     std::optional<RemoteItemMetadata> newMetadata, std::optional<RemoteItemThumbnail> thumbnail,
                     const std::string& url, JobsSteps firstStep, std::string notificationName);

    // The remote file the job works on.
    std::string uuid;
    // The file a copy made, when the copy learns it.
    std::optional<std::string> newUUID;
    // Unused by the file jobs: a new name travels inside newMetadata.
    std::optional<std::string> name;
    // The thumbnail a modification stores.
    std::optional<RemoteItemThumbnail> thumbnail;
    // The unwrapped user master key, for a copy.
    std::optional<EncryptionKey> umk;
    std::optional<PrivateKey> sharingKey;
    // The file's own key, from a preparation's answer.
    std::optional<EncryptionKey> fileKey;
    // The file's attributes as the preparation's answer gave them.
    std::optional<std::vector<std::string>> attrib;
    // Where a modification moves the file, or a copy puts the new one;
    // absent: no move.
    std::optional<std::string> parentuuid;
    // The file's current metadata, from an information or preparation answer.
    std::optional<RemoteItemMetadata> metadata;
    // True when `metadata` is the stand-in for metadata that could not be
    // read: it must never be stored over the real one.
    bool metadataIsPlaceholder = false;
    // The metadata a modification stores.
    std::optional<RemoteItemMetadata> newMetadata;
    // The requester's tag, handed back by the information job.
    std::optional<std::string> source;
    const std::string notificationName;
    // Unused by the file jobs.
    std::map<std::string, std::string> notificationData;

    // inProgress: "Started". completed: the word and payload of completed(),
    // with the last request error. error: "Error" with that error, never a
    // payload. aborted: "Aborted" alone. Every other status: nothing posted.
    JobNotificationData getNotificationData(JobStatus status) override;

private:
    struct Completion {
        std::string word;
        std::any payload;
    };
    // By notificationName: "Received" with {"source", "fileInfo"};
    // "Modified" and "Deleted" with the file's identifier; "Copied" with the
    // new file's identifier when there is one; "Completed" with nothing for
    // any other name.
    Completion completed() const;
};

}  // namespace ostrelcomm
