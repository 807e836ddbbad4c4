#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/Digest.h"
#include "crypto/EncryptionKey.h"
#include "jobs/CommJobsContext.h"
#include "tree/RemoteItemMetadata.h"
#include "xfer/FileChunk.h"
#include "xfer/FileReceiveBlockWriter.h"

namespace ostrelcomm {

// The context of one download: where the file goes, how far it has come
// (block, failed answers, the blocks stored), its keys, its metadata and the
// running digest of its clear bytes. Owned by its queued job; read and
// written under the engine's lock. A download cannot be resumed.
class FileReceiveContext : public CommJobsContext {
public:
    // Failed block answers a whole job may meet; the next one ends it.
    static constexpr std::uint8_t kBlockTriesLimit = 3;
    // The temporary file is the item's identifier with this extension.
    static constexpr const char* kTemporaryExtension = ".OstrelDownload";

    // The job starts at fileReceive_prepare and aborts through
    // fileReceive_abort, with a new session for `httpURL`. None when the two
    // placeholder keys cannot be drawn.
    static std::shared_ptr<FileReceiveContext> make(const std::string& httpURL, std::string remoteUUID,
                                                    std::filesystem::path localURL, std::optional<std::string> source);

    // (jobID, httpSession and nextStep are the base's.)
    // The folder the file goes to.
    const std::filesystem::path localURL;
    std::optional<std::filesystem::path> localTempURL;
    // The file written, once the job has moved it to its final name.
    std::optional<std::filesystem::path> destinationURL;
    const std::string remoteUUID;
    std::optional<std::uint64_t> fileSize;
    // The block to fetch next; the number of blocks stored.
    std::uint64_t blockNum = 0;
    // Failed block answers in this job, whichever blocks they were for.
    std::uint8_t blockTries = 0;
    bool isPackage = false;
    // Random placeholders until the prepare answer brings the real keys.
    EncryptionKey fileKey;
    EncryptionKey umk;
    std::optional<std::vector<FileChunk>> expectedChunks;
    // One record per stored block, in block order: the range the answer named
    // and its fingerprint as the header carried it.
    std::vector<FileChunk> receivedChunks;
    // The server's tree hash, hexadecimal, from the prepare answer.
    std::optional<std::string> treehash;
    std::optional<RemoteItemMetadata> metadata;
    // Fed with the clear bytes of every stored block (the last one handed to
    // the writer only once it is finished).
    Digest clearHash{DigestAlgorithm::sha256};
    // The last block received, decrypted and on its way to the temporary
    // file while the next one is asked for; dropped when the job ends.
    FileReceiveBlockWriter writer;
    // A block's answer that waits, with the engine's lock free, for the block
    // before it to be finished; taken once that one is.
    struct WaitingAnswer {
        Bytes body;
        std::map<std::string, std::string> headers;
    };
    std::optional<WaitingAnswer> waitingAnswer;
    // The end waits so for the last block.
    bool awaitingLastBlock = false;
    // The computed tree hash against the metadata's: 1 equal, 0 different,
    // -1 not compared.
    std::int8_t signatureValidity = -1;
    JobsSteps nextStatus = JobsSteps::fileReceive_prepare;
    std::optional<std::string> source;
    // (httpError, abortStatus, lastStatus and resumeStatus are the base's;
    // the last two stay absent.)

    // "remoteFileDownload": "Downloading" (inProgress) with five entries of
    // CustomData, "Received" (completed) with eight, "Error" and "Aborted"
    // with none (xfer/XferNotifications.h); nothing for any other status.
    // The job's end (any of the last three) drops a block still being written.
    JobNotificationData getNotificationData(JobStatus status) override;

private:
    FileReceiveContext(const std::string& httpURL, std::string remoteUUID, std::filesystem::path localURL,
                       std::optional<std::string> source);
};

}  // namespace ostrelcomm
