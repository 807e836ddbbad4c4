// The download of one file: queuing it, and the job's steps. The server
// gives the file's size, block list, keys, metadata and tree hash (prepare),
// then each block as stored (getblock); every block is checked against the
// list, decrypted and written at its place in a temporary file beside the
// destination, and the whole is checked against the tree hash before it
// takes a free name in the destination folder, never replacing anything.

#include <algorithm>
#include <charconv>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/PrivateKey.h"
#include "crypto/curve25519/SharedSecretKey.h"
#include "encoding/Encoding.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"
#include "platform/ByteCount.h"
#include "platform/Uuid.h"
#include "tree/RemoteItemMetadata.h"
#include "xfer/DownloadFileSystem.h"
#include "xfer/FileReceiveBlockWriter.h"
#include "xfer/FileReceiveContext.h"
#include "xfer/SafeLocalFileName.h"
#include "xfer/Server_RecvPrepareAnswer.h"
#include "xfer/TreeHash.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// A block request ends only when nothing has moved for this long, so a slow
// link can still fetch a large block.
constexpr double kBlockProgressTimeout = 30.0;
// Room for the server's error report in place of a block shorter than that.
constexpr std::size_t kErrorAnswerRoom = 64 * 1024;

constexpr char kNoContext[] = "Unable to initialize job's context - Maybe the crypto functions failed!";
constexpr char kNotAnIdentifier[] = "Unable to add file download: the remote item identifier is not a UUID";
constexpr char kCreateFolder[] = "Error creating final folder: ";
constexpr const char* kUnwritable = FileReceiveBlockWriter::kUnwritable;
constexpr char kCapacityError[] = "Unable to store downloaded file; Error retrieving capacity: ";
constexpr char kCapacityUnavailable[] = "Unable to store downloaded file: Volume capacity is unavailable!";
constexpr char kNoRoom[] = "Unable to store downloaded file: No room on volume; required: ";
constexpr char kUserMasterKey[] = "Unable to decrypt user's master key: ";
constexpr char kFileKey[] = "Unable to decrypt file key: ";
constexpr char kNoOwnerKey[] = "Owner public shared key not present";
constexpr char kNoSharingKey[] = "User's private shared key not present";
constexpr char kSharingKey[] = "Cannot decrypt user's private sharing key";
constexpr char kSharedItem[] = "Cannot decrypt shared item data";
constexpr char kMetadata[] = "Unable to decrypt file metadata: ";
constexpr char kWrongBlockNumber[] = "Repetitive received wrong block number!";
constexpr char kNoPayload[] = "Payload contains no valid data!";
constexpr char kNoFingerprint[] = "Block fingerprint not valid or not found!";
constexpr char kBlockReceive[] = "Repetitive block receive error!";
constexpr char kNoRange[] = "Block range is not valid!";
constexpr char kRangeElements[] = "Block range elements are not valid!";
constexpr char kRangeBegin[] = "Block begin element is not valid!";
constexpr char kRangeEnd[] = "Block end element is not valid!";
constexpr char kUnexpectedRange[] = "Block range is not the one of the file's block list!";
constexpr const char* kBlockLength = FileReceiveBlockWriter::kBlockLength;
constexpr char kNoBlockList[] = "The download has no block list";
constexpr char kFirstBlock[] = "First received block is not first file block!";
constexpr char kLastBlock[] = "Last received block is not last file block!";
constexpr char kTreeHashes[] = "File treehashes doesn't match!";
constexpr char kMove[] = "Error moving file to final URL: ";
constexpr char kNoMetadata[] = "The download has no metadata";

constexpr RequestSpec kRecvPrepare{JobsSteps::fileReceive_prepare, JobsSteps::fileReceive_prepare_wait, "GET",
                                   "/filerecv/prepare/", "FILERECV_PREPARE"};
constexpr RequestSpec kRecvBlock{JobsSteps::fileReceive_getBlock, JobsSteps::fileReceive_getBlock_wait, "GET",
                                 "/filerecv/getblock/", "FILERECV_GETBLOCK"};
const RequestRows kDownloadRows{kRecvPrepare, kRecvBlock};

const SrvComm::StepRegistration kDownloadSteps{
    {JobsSteps::fileReceive_prepare, &SrvComm::fileReceive_prepare},
    {JobsSteps::fileReceive_getBlock, &SrvComm::fileReceive_getBlock},
    {JobsSteps::fileReceive_terminate, &SrvComm::fileReceive_terminate},
    {JobsSteps::fileReceive_abort, &SrvComm::fileReceive_abort},
};

SecretBytes passwordKey(const std::optional<SecretBytes>& password) {
    return EncryptionKey::prepareEncryptionPassword(password ? std::optional(password->textView()) : std::nullopt);
}

// The AES-256-CBC/PKCS#7 length of a clear block of `clearLength` bytes.
std::uint64_t cipherLength(std::uint64_t clearLength) { return (clearLength / 16 + 1) * 16; }

template <class Number>
std::optional<Number> decimal(std::string_view text) {
    Number value{};
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty()) return std::nullopt;
    return value;
}

// Blanks only: a tab or a line end is part of the number, which then fails.
std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

const std::string* header(const HttpHeaders& headers, const char* name) {
    auto found = headers.find(name);
    return found == headers.end() ? nullptr : &found->second;
}

// A failed block answer: asked again while the job's budget lasts.
Next retryBlock(FileReceiveContext& context, const char* message) {
    if (++context.blockTries >= FileReceiveContext::kBlockTriesLimit) return Next::fail(message);
    return Next::go(JobsSteps::fileReceive_getBlock);
}

// The expected chunk of the block to fetch, checked before anything is
// asked: a range the file cannot have would be written outside it.
const FileChunk& expectedChunk(const FileReceiveContext& context) {
    if (!context.expectedChunks || !context.fileSize || context.blockNum >= context.expectedChunks->size())
        throw StepFailure(kNoBlockList);
    const FileChunk& chunk = (*context.expectedChunks)[context.blockNum];
    if (chunk.end < chunk.begin || chunk.end >= *context.fileSize) throw StepFailure(kUnexpectedRange);
    return chunk;
}

// The file key of an item shared with the user: the owner's public sharing
// key and the user's own private one agree on the key it is wrapped under.
EncryptionKey sharedFileKey(const Server_RecvPrepareAnswer::Answer& answer, const SecretBytes& passwordKey) {
    if (!answer.pubshkey) throw StepFailure(kNoOwnerKey);
    if (!answer.privshkey) throw StepFailure(kNoSharingKey);
    const PrivateKey privateKey(*answer.privshkey, passwordKey.view());
    if (!privateKey.KeyValue()) throw StepFailure(kSharingKey);
    try {
        const SharedSecretKey shared = privateKey.getSharedSecretKey(ByteView(*answer.pubshkey));
        return EncryptionKey::unwrapAes256(answer.itemkey, shared.KeyValue().view());
    } catch (const std::exception&) {
        throw StepFailure(kSharedItem);
    }
}

}  // namespace

// --- public operations ---------------------------------------------------------------

std::optional<std::string> SrvComm::fileReceive_add(const std::string& remoteUUID,
                                                    const std::filesystem::path& localURL,
                                                    const std::string& itemName,
                                                    const std::optional<std::string>& source) {
    Lock lock(mutex());
    // The identifier names the temporary file: anything but a UUID could
    // name a path outside the folder.
    if (!isUuidString(remoteUUID)) {
        comLog_.addEvent(kNotAnIdentifier, Logger::EvtType::error);
        return std::nullopt;
    }
    auto context = FileReceiveContext::make(urlToUse_, remoteUUID, localURL, source);
    if (!context) {
        comLog_.addEvent(kNoContext, Logger::EvtType::error);
        return std::nullopt;
    }
    comLog_.addEvent("Added file xfer from remote " + remoteUUID + " to local " + localURL.string(),
                     Logger::EvtType::info);
    return queue_->addNewJob(JobType::fileReceive, 3, JobPriority::Normal, context, std::nullopt, itemName);
}

// --- steps ------------------------------------------------------------------------------

void SrvComm::fileReceive_prepare() {
    requestStep<FileReceiveContext, Server_RecvPrepareAnswer>(*this, kRecvPrepare, {
        .before = [](FileReceiveContext& context) -> std::optional<Next> {
            context.localTempURL = context.localURL / (context.remoteUUID + FileReceiveContext::kTemporaryExtension);
            if (auto error = DownloadFileSystem::createFolder(context.localURL))
                return Next::fail(kCreateFolder + *error + "!");
            // A run after a renewed session starts from an empty file; a block
            // of the run before that is still being written goes unwritten.
            context.writer.cancel();
            if (!DownloadFileSystem::createTemporaryFile(*context.localTempURL)) return Next::fail(kUnwritable);
            context.blockNum = 0;
            context.receivedChunks.clear();
            context.clearHash = Digest(DigestAlgorithm::sha256);
            return std::nullopt;
        },
        .request = [](FileReceiveContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"item-uuid", context.remoteUUID}}};
        },
        .answer = [this](FileReceiveContext& context, Server_RecvPrepareAnswer&& received, const AnswerMeta&) {
            auto& answer = received.answer;
            context.fileSize = answer.fileSize;

            const DownloadFileSystem::Capacity capacity =
                DownloadFileSystem::volumeAvailableCapacity(context.localURL);
            if (capacity.error) return Next::fail(kCapacityError + *capacity.error);
            if (!capacity.available) return Next::fail(kCapacityUnavailable);
            if (*capacity.available < 0 || answer.fileSize >= static_cast<std::uint64_t>(*capacity.available))
                return Next::fail(kNoRoom + byteCountText(answer.fileSize) + ", available: " +
                                  byteCountText(*capacity.available) + "!");

            if (context.jobID) queue_->updateJobData(*context.jobID, answer.chunks.size() + 3);
            context.expectedChunks = std::move(answer.chunks);

            const SecretBytes key = passwordKey(password());
            if (answer.umk) {
                try {
                    context.umk = EncryptionKey::unwrapAes256(*answer.umk, key.view());
                } catch (const std::exception& error) {
                    return Next::fail(kUserMasterKey + std::string(error.what()));
                }
                try {
                    context.fileKey = EncryptionKey::unwrapAes256(answer.itemkey, context.umk.key.key.view());
                } catch (const std::exception& error) {
                    return Next::fail(kFileKey + std::string(error.what()));
                }
            } else {
                context.fileKey = sharedFileKey(answer, key);
            }

            try {
                context.metadata = RemoteItemMetadata::decrypt(answer.metadata, context.fileKey);
            } catch (const std::exception& error) {
                return Next::fail(kMetadata + std::string(error.what()));
            }
            context.treehash = std::move(answer.treehash);
            if (context.expectedChunks->empty()) return Next::go(JobsSteps::fileReceive_terminate);
            return Next::go(JobsSteps::fileReceive_getBlock);
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

// A block's answer, once the block before it is finished.
namespace {

Next takeBlock(FileReceiveContext& context, Bytes&& body, const HttpHeaders& headers) {
    // The block before is finished first: a block that did not decrypt
    // or write ends the job before anything of this answer counts.
    if (auto failure = context.writer.finish(context.clearHash)) return Next::fail(*failure);
    const FileChunk& chunk = expectedChunk(context);

    const std::string* number = header(headers, "x-sb-blocknum");
    const auto blockNum = number ? decimal<std::int64_t>(*number) : std::nullopt;
    if (!blockNum || *blockNum < 0 || static_cast<std::uint64_t>(*blockNum) != context.blockNum)
        return retryBlock(context, kWrongBlockNumber);

    if (body.empty()) return Next::fail(kNoPayload);
    const std::string* fingerprint = header(headers, "x-sb-payload-sha256");
    if (!fingerprint) return Next::fail(kNoFingerprint);
    // The transport has already matched the fingerprint with the
    // body's digest (a signed answer), so only the list is left.
    if (*fingerprint != chunk.chksum) return retryBlock(context, kBlockReceive);

    const std::string* range = header(headers, "x-sb-blockrange");
    if (!range) return Next::fail(kNoRange);
    const std::size_t dash = range->find('-');
    if (dash == std::string::npos || range->find('-', dash + 1) != std::string::npos)
        return Next::fail(kRangeElements);
    const auto begin = decimal<std::uint64_t>(trimBlanks(std::string_view(*range).substr(0, dash)));
    if (!begin) return Next::fail(kRangeBegin);
    const auto end = decimal<std::uint64_t>(trimBlanks(std::string_view(*range).substr(dash + 1)));
    if (!end) return Next::fail(kRangeEnd);
    // Blocks go where the list put them, and only there.
    if (*begin != chunk.begin || *end != chunk.end) return Next::fail(kUnexpectedRange);
    const std::uint64_t clearLength = *end - *begin + 1;
    if (body.size() > cipherLength(clearLength)) return Next::fail(kBlockLength);

    // Decrypted, checked, hashed and written while the next block is
    // asked for; whatever fails there ends the job when the block is
    // finished. The descriptor is opened here, so that a block held
    // up on its way never writes into a file made after an abort.
    FileReceiveBlockWriter::Block block{
        .fd = context.localTempURL ? DownloadFileSystem::openForWriting(*context.localTempURL) : -1,
        .cipher = std::move(body),
        .offset = *begin,
        .clearLength = clearLength,
        .key = context.fileKey.key.key,
        .iv = context.fileKey.key.iv};
    context.writer.start(std::move(block), context.clearHash);

    context.receivedChunks.push_back(FileChunk{*begin, *end, *fingerprint});
    ++context.blockNum;
    if (context.blockNum < context.expectedChunks->size()) return Next::go(JobsSteps::fileReceive_getBlock);
    return Next::go(JobsSteps::fileReceive_terminate);
}

}  // namespace

void SrvComm::fileReceive_getBlock() {
    requestStep<FileReceiveContext, Bytes>(*this, kRecvBlock, {
        .before = [](FileReceiveContext& context) -> std::optional<Next> {
            expectedChunk(context);
            return std::nullopt;
        },
        .request = [](FileReceiveContext& context, const Session::Signing*) {
            const FileChunk& chunk = expectedChunk(context);
            const std::uint64_t longest = std::max<std::uint64_t>(cipherLength(chunk.end - chunk.begin + 1),
                                                                  kErrorAnswerRoom);
            return Outgoing{.headers = {{"item-uuid", context.remoteUUID},
                                        {"blocknum", std::to_string(context.blockNum)}},
                            .answerType = "application/octet-stream",
                            .progressTimeout = kBlockProgressTimeout,
                            .maximumAnswerSize = static_cast<std::size_t>(longest)};
        },
        .answer = [this](FileReceiveContext& context, Bytes&& body, const AnswerMeta& meta) {
            // The block before is still on its way to the disk: this answer
            // waits for it with the engine's lock free, and is taken then.
            if (const auto jobID = context.getJobID()) {
                auto takeLater = steps::resumeLater<FileReceiveContext>(
                    *this, *jobID, kRecvBlock.waitStep, [this](const std::shared_ptr<FileReceiveContext>& waiting) {
                        if (!waiting->waitingAnswer) return;
                        FileReceiveContext::WaitingAnswer answer = std::move(*waiting->waitingAnswer);
                        waiting->waitingAnswer.reset();
                        // An abort asked for meanwhile is the engine's to take.
                        if (steps::abortRequested(*this, *waiting)) {
                            setNextStep(kRecvBlock.step, JobStatus::inProgress, false, waiting);
                            return;
                        }
                        Next next = Next::handled();
                        try {
                            next = takeBlock(*waiting, std::move(answer.body), answer.headers);
                        } catch (const StepFailure& failure) {
                            next = Next::fail(failure.what());
                        } catch (const std::exception& failure) {
                            next = Next::fail(steps::answerHandlingMessage(kRecvBlock.step, failure));
                        }
                        steps::apply(*this, waiting, next, kRecvBlock.holdAllowed);
                    });
                if (context.writer.whenFinished(std::move(takeLater))) {
                    context.waitingAnswer = FileReceiveContext::WaitingAnswer{std::move(body), meta.headers};
                    return Next::handled();
                }
            }
            return takeBlock(context, std::move(body), meta.headers);
        },
        // A request that failed does not hide why the block before it did:
        // that block is finished first, as for an answer that arrived.
        .beforeChecks = [](FileReceiveContext& context, const HTTPError&) -> std::optional<Next> {
            if (auto failure = context.writer.finish(context.clearHash)) return Next::fail(*failure);
            return std::nullopt;
        },
        .afterChecks = nullptr,
    });
}

namespace {

// The end of a download, once its last block is finished.
Next finishDownload(FileReceiveContext& context) {
    if (auto failure = context.writer.finish(context.clearHash)) return Next::fail(*failure);
    if (!context.metadata || !context.localTempURL || !context.fileSize) return Next::fail(kNoMetadata);
    const auto& received = context.receivedChunks;
    if (!received.empty()) {
        if (received.front().begin != 0) return Next::fail(kFirstBlock);
        for (std::size_t i = 1; i < received.size(); ++i) {
            if (received[i - 1].end + 1 != received[i].begin)
                return Next::fail("Received blocks " + std::to_string(i - 1) + " and " + std::to_string(i) +
                                  " are not continuative");
        }
        if (received.back().end != *context.fileSize - 1) return Next::fail(kLastBlock);
        std::vector<Bytes> leaves;
        leaves.reserve(received.size());
        for (const FileChunk& chunk : received) {
            auto leaf = fromHex(chunk.chksum);
            if (!leaf) return Next::fail(kTreeHashes);
            leaves.push_back(std::move(*leaf));
        }
        const std::string computed = toHex(TreeHash::compute(leaves));
        if (context.metadata->treehash) context.signatureValidity = *context.metadata->treehash == computed ? 1 : 0;
        if (!context.treehash || *context.treehash != computed) return Next::fail(kTreeHashes);
    }

    const std::filesystem::path wanted =
        context.localURL / safeLocalFileName(context.metadata->name, context.remoteUUID);
    auto moved = DownloadFileSystem::moveToFreeName(*context.localTempURL, wanted);
    if (auto* error = std::get_if<std::string>(&moved)) return Next::fail(kMove + *error + "!");
    // The path actually written, numbered or not: observers open it.
    context.destinationURL = std::get<std::filesystem::path>(std::move(moved));
    return Next::done();
}

}  // namespace

void SrvComm::fileReceive_terminate() {
    localStep<FileReceiveContext>(*this, JobsSteps::fileReceive_terminate,
                                  [this](const std::shared_ptr<FileReceiveContext>& context) {
        // The last block is still on its way to the disk: the end waits for
        // it with the engine's lock free, and is made then.
        context->awaitingLastBlock = false;
        if (const auto jobID = context->getJobID()) {
            auto finishLater = steps::resumeLater<FileReceiveContext>(
                *this, *jobID, JobsSteps::fileReceive_terminate,
                [this](const std::shared_ptr<FileReceiveContext>& waiting) {
                    if (!waiting->awaitingLastBlock) return;
                    waiting->awaitingLastBlock = false;
                    if (steps::abortRequested(*this, *waiting)) {
                        setNextStep(JobsSteps::fileReceive_terminate, JobStatus::inProgress, false, waiting);
                        return;
                    }
                    Next next = Next::handled();
                    try {
                        next = finishDownload(*waiting);
                    } catch (const StepFailure& failure) {
                        next = Next::fail(failure.what());
                    } catch (const std::exception& error) {
                        next = Next::fail(steps::requestBuildMessage(JobsSteps::fileReceive_terminate, error));
                    }
                    steps::apply(*this, waiting, next, false);
                });
            if (context->writer.whenFinished(std::move(finishLater))) {
                context->awaitingLastBlock = true;
                return Next::handled();
            }
        }
        return finishDownload(*context);
    });
}

void SrvComm::fileReceive_abort() {
    localStep<FileReceiveContext>(
        *this, JobsSteps::fileReceive_abort,
        [](const std::shared_ptr<FileReceiveContext>& context) {
            context->writer.cancel();
            if (context->localTempURL) {
                std::error_code ignored;
                std::filesystem::remove(*context->localTempURL, ignored);
            }
            return Next::aborted();
        },
        false);
}

}  // namespace ostrelcomm
