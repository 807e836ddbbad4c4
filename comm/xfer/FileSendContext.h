#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "crypto/Digest.h"
#include "crypto/EncryptionKey.h"
#include "jobs/CommJobsContext.h"
#include "platform/Bytes.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemThumbnail.h"
#include "xfer/FileSendBlockPrefetch.h"

namespace ostrelcomm {

// The context of one upload: the local file, where it goes, how far it has
// come (block, tries, the digests of the blocks stored), its keys and its
// metadata. Everything a failed upload needs to go on from its failed step
// stays here until the queue is cleaned up. Owned by its queued job; read and
// written under the engine's lock.
class FileSendContext : public CommJobsContext {
public:
    // Clear bytes per block; every block but the last is this long.
    static constexpr std::int32_t kBlockSize = 4'194'304;
    // Sends of one block that the server may refuse for its checksum.
    static constexpr std::uint8_t kBlockSendLimit = 3;

    // `httpURL` is the server key of the job's new session; the job starts at
    // fileSend_prepare, aborts through fileSend_abort and resumes through
    // fileSend_resume.
    FileSendContext(const std::string& httpURL, std::filesystem::path localURL,
                    std::optional<std::string> remoteParentUUID, std::int64_t fileSize, RemoteItemMetadata metadata,
                    std::optional<RemoteItemThumbnail> thumbnail, bool isPackage, std::int32_t blockSize,
                    std::optional<std::string> source);

    // (jobID, httpSession and nextStep are the base's.)
    const std::filesystem::path localURL;
    // Absent: the top of the user's tree.
    const std::optional<std::string> remoteParentUUID;
    // The size when the job was added; a file that no longer has it fails.
    const std::int64_t fileSize;
    const std::int32_t blockSize;
    // The block to send next, from 0; after the last accepted block, the
    // number of blocks stored.
    std::uint64_t blockNum = 0;
    std::uint64_t totalBlocks = 0;
    // Clear bytes read for the current block; 0 outside the block steps.
    std::int32_t sentBlockSize = 0;
    // The remote file, from the prepare answer.
    std::optional<std::string> itemUUID;
    // The clear file's offsets of the current block's first and last byte
    // (inclusive); meaningful while blockBegin() < fileSize.
    std::uint64_t blockBegin() const;
    std::uint64_t blockEnd() const;
    // Checksum refusals of the current block.
    std::uint8_t blockTries = 0;
    bool isPackage;
    // Set by a resume; cleared each time the notification data is built.
    bool isResumed = false;
    std::optional<EncryptionKey> fileKey;
    // The finalize step adds the two hashes.
    RemoteItemMetadata metadata;
    std::optional<RemoteItemThumbnail> thumbnail;
    // The SHA-256 of each accepted block as it was sent (ciphertext), in
    // block order: the tree hash's leaves.
    std::vector<Bytes> hashes;
    // The clear file's bytes, each block fed once, in order.
    Digest clearHash{DigestAlgorithm::sha256};
    std::optional<EncryptionKey> userMasterKey;
    std::optional<std::string> source;
    // (httpError, lastStatus, abortStatus and resumeStatus are the base's.)

    // How many blocks clearHash has taken: a block read again for another
    // send is not fed twice.
    std::uint64_t hashedBlocks = 0;
    // The encrypted block read for the request being built, and its SHA-256
    // when it was computed ahead.
    std::optional<Bytes> pendingBlock;
    std::optional<Bytes> pendingBodyDigest;
    // Blocks prepared ahead of their turn while the current one is on its
    // way: two, each encrypted on its own thread, so that an upload holds
    // three blocks at most. Dropped when the job ends.
    static constexpr std::size_t kBlocksAhead = 2;
    FileSendBlockPrefetch prefetch{kBlocksAhead};
    // The block whose preparation the job waits for, with nothing in flight
    // and the engine's lock free; its step runs again once it is prepared.
    std::optional<std::uint64_t> awaitedBlock;
    // The block last given back to the workers to prepare once more (a block
    // sent again, or one that lost its turn in the clear digest); cleared
    // once a prepared block is taken. A block that comes back unfit a second
    // time is read in line.
    std::optional<std::uint64_t> preparedAgain;

    // A new session for a resumed job: the failed one's was cancelled.
    void prepareResume(const std::string& httpURL);

    // "localFileUpload" with "Sending" (inProgress), "Sent" (completed),
    // "Error" or "Aborted", each with the nine entries of CustomData
    // (xfer/XferNotifications.h); nothing for any other status. Clears
    // isResumed whatever the status. The job's end (any of the last three)
    // drops the block prepared ahead.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
