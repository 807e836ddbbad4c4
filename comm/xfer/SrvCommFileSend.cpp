// The upload of one file: queuing it, and the job's steps. The server names
// the remote file (prepare), takes the encrypted blocks one by one (store),
// checks their tree hash and hands back the wrapped user master key
// (finalize), and receives the file key wrapped under it with the encrypted
// metadata and thumbnail (terminate); an aborted upload is dropped (DELETE).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "crypto/EncryptionKey.h"
#include "encoding/Encoding.h"
#include "filetype/FileType.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"
#include "platform/FileDescriptor.h"
#include "platform/ReusedThreads.h"
#include "platform/SystemLog.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemThumbnail.h"
#include "xfer/FileSendBlockReader.h"
#include "xfer/FileSendContext.h"
#include "xfer/FileSend_TerminateData.h"
#include "xfer/Server_FinalizeAnswer.h"
#include "xfer/Server_SendBlockAnswer.h"
#include "xfer/Server_SendPrepareAnswer.h"
#include "xfer/Server_TerminateAnswer.h"
#include "xfer/TreeHash.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kAlgorithm[] = "aes256";
constexpr char kRootFolder[] = "root";
constexpr char kDefaultMime[] = "application/octet-stream";
// A block request ends only when nothing has moved for this long: on a slow
// uplink one block may take minutes, and a limit on the whole request would
// make every large upload impossible there.
constexpr double kBlockProgressTimeout = 30.0;

constexpr char kPackage[] = "Unsupported file type: Package file (is this a macOS app?)";
constexpr char kWrongRange[] = "Server answered with wrong block progress / range: ";
constexpr char kRepetitiveSending[] = "Repetitive block sending error!";
constexpr char kBadChecksum[] = "BadChecksumException";
constexpr char kWrongFileID[] = "Server answered with wrong fileID!";
constexpr char kUndecodableUmk[] = "Unable to decode user's master key received from server!";
constexpr char kEncryptFileKey[] = "Unable to encrypt file key";
constexpr char kEncryptMetadata[] = "Unable to encrypt file metadata";
constexpr char kEncryptThumbnail[] = "Unable to encrypt file thumbnail";
constexpr char kTerminatePayload[] = "Unable to build terminate payload";
constexpr char kNoResumeState[] = "No valid state for a resume";
constexpr char kNoRemoteFile[] = "The upload has no remote file yet";

constexpr RequestSpec kSendPrepare{JobsSteps::fileSend_prepare, JobsSteps::fileSend_prepare_wait, "GET",
                                   "/filesend/prepare/", "FILESEND_PREPARE", true, true};
// A block counts as a step of the job once the server has accepted it.
constexpr RequestSpec kSendBlock{JobsSteps::fileSend_sendBlock, JobsSteps::fileSend_sendBlock_wait, "PUT",
                                 "/filesend/store/", "FILESEND_SENDBLOCK", true, true, false};
constexpr RequestSpec kSendFinalize{JobsSteps::fileSend_finalize, JobsSteps::fileSend_finalize_wait, "GET",
                                    "/filesend/finalize/", "FILESEND_FINALIZE"};
constexpr RequestSpec kSendTerminate{JobsSteps::fileSend_terminate, JobsSteps::fileSend_terminate_wait, "PUT",
                                     "/filesend/terminate/", "FILESEND_TERMINATE"};
constexpr RequestSpec kSendAbort{JobsSteps::fileSend_abort,
                                 JobsSteps::fileSend_abort_wait,
                                 "DELETE",
                                 "/filesend/",
                                 "FILESEND_ABORT",
                                 true,
                                 false,
                                 false,
                                 JobStatus::aborting};
const RequestRows kUploadRows{kSendPrepare, kSendBlock, kSendFinalize, kSendTerminate, kSendAbort};

const SrvComm::StepRegistration kUploadSteps{
    {JobsSteps::fileSend_prepare, &SrvComm::fileSend_prepare},
    {JobsSteps::fileSend_sendBlock, &SrvComm::fileSend_sendBlock},
    {JobsSteps::fileSend_finalize, &SrvComm::fileSend_finalize},
    {JobsSteps::fileSend_terminate, &SrvComm::fileSend_terminate},
    {JobsSteps::fileSend_abort, &SrvComm::fileSend_abort},
    {JobsSteps::fileSend_resume, &SrvComm::fileSend_resume},
};

// 0001-01-01T00:00:00Z: the date of a file that has none.
constexpr std::chrono::sys_seconds kDistantPast{std::chrono::seconds{-62'135'596'800}};

std::string errnoText(int error) { return std::strerror(error); }

// What an upload learns of its local file, all through one descriptor.
struct LocalFile {
    std::int64_t size = 0;
    std::chrono::sys_seconds created = kDistantPast;
    std::chrono::sys_seconds modified = kDistantPast;
    std::string mime = kDefaultMime;
};

struct Unreadable {
    std::string reason;
};
struct NoAttributes {};

// Opened without blocking, so that a FIFO or a device never holds the caller;
// anything but a regular file is refused before a byte is read.
std::variant<LocalFile, Unreadable, NoAttributes> readLocalFile(const std::filesystem::path& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) return Unreadable{errnoText(errno)};
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) return Unreadable{errnoText(errno)};
    if (S_ISDIR(status.st_mode)) return Unreadable{errnoText(EISDIR)};
    if (!S_ISREG(status.st_mode)) return Unreadable{"Not a regular file"};

    struct statx attributes {};
    if (::statx(file.get(), "", AT_EMPTY_PATH, STATX_BTIME | STATX_MTIME | STATX_SIZE, &attributes) != 0)
        return NoAttributes{};
    LocalFile local;
    if (attributes.stx_mask & STATX_SIZE) local.size = static_cast<std::int64_t>(attributes.stx_size);
    if (attributes.stx_mask & STATX_BTIME)
        local.created = std::chrono::sys_seconds{std::chrono::seconds{attributes.stx_btime.tv_sec}};
    if (attributes.stx_mask & STATX_MTIME)
        local.modified = std::chrono::sys_seconds{std::chrono::seconds{attributes.stx_mtime.tv_sec}};

    Bytes head(FileType::kFileHeadLength);
    ssize_t got = 0;
    do {
        got = ::pread(file.get(), head.data(), head.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        head.resize(static_cast<std::size_t>(got));
        if (auto type = FileType::getFor(ByteView(head))) local.mime = type->mime;
    }
    return local;
}

std::map<std::string, std::string> withItem(const FileSendContext& context, const std::string& encoderVersion) {
    if (!context.itemUUID) throw StepFailure(kNoRemoteFile);
    return {{"encoder-version", encoderVersion}, {"item-uuid", *context.itemUUID}};
}

}  // namespace

// --- public operations ---------------------------------------------------------------

std::optional<std::string> SrvComm::fileSend_add(const std::filesystem::path& localURL,
                                                 const std::optional<std::string>& remoteParentUUID,
                                                 const std::optional<std::string>& destinationFileName,
                                                 const std::optional<Bytes>& thumbnail,
                                                 const std::optional<std::string>& thumbnailmime,
                                                 const std::optional<std::string>& source) {
    // The file is read before the engine's lock is taken.
    const auto local = readLocalFile(localURL);
    Lock lock(mutex());
    if (const auto* unreadable = std::get_if<Unreadable>(&local)) {
        comLog_.addEvent("Unable to read file: " + unreadable->reason, Logger::EvtType::error);
        systemLog("Error reading local file: " + unreadable->reason);
        return std::nullopt;
    }
    const std::string name = destinationFileName.value_or(localURL.filename().string());
    if (std::holds_alternative<NoAttributes>(local) || name.empty()) {
        comLog_.addEvent("Error reading file attributes: " + localURL.string(), Logger::EvtType::error);
        return std::nullopt;
    }
    const LocalFile& file = std::get<LocalFile>(local);

    RemoteItemMetadata metadata(name, file.created, file.modified);
    metadata.mime = file.mime;
    metadata.fileSize = file.size;
    // Nothing on this platform is a folder shown as one file.
    metadata.isPackage = false;

    std::optional<RemoteItemThumbnail> itemThumbnail;
    if (thumbnail && thumbnailmime) {
        itemThumbnail.emplace(*thumbnailmime, *thumbnail);
    } else if (thumbnail) {
        comLog_.addEvent("The thumbnail of " + localURL.string() + " has no MIME type: the file goes without it",
                         Logger::EvtType::warning);
    }

    auto context = std::make_shared<FileSendContext>(urlToUse_, localURL, remoteParentUUID, file.size,
                                                     std::move(metadata), std::move(itemThumbnail), false,
                                                     FileSendContext::kBlockSize, source);
    try {
        context->fileKey.emplace(encryptionAlgorithm, static_cast<std::int64_t>(encryptionKeySize));
    } catch (const std::exception&) {
        comLog_.addEvent("Error generating file key", Logger::EvtType::error);
        return std::nullopt;
    }
    const auto size = static_cast<std::uint64_t>(file.size);
    const auto block = static_cast<std::uint64_t>(FileSendContext::kBlockSize);
    context->totalBlocks = (size + block - 1) / block;

    comLog_.addEvent("Added file xfer from local " + localURL.string() + " to remote " +
                         (remoteParentUUID ? *remoteParentUUID : std::string(" root directory")),
                     Logger::EvtType::info);
    return queue_->addNewJob(JobType::fileSend, context->totalBlocks + 3, JobPriority::Normal, context, std::nullopt,
                             name);
}

// --- steps ------------------------------------------------------------------------------

void SrvComm::fileSend_prepare() {
    requestStep<FileSendContext, Server_SendPrepareAnswer>(*this, kSendPrepare, {
        .before = [](FileSendContext& context) -> std::optional<Next> {
            if (context.isPackage) return Next::fail(kPackage);
            context.lastStatus = JobsSteps::fileSend_prepare;
            context.sentBlockSize = 0;
            return std::nullopt;
        },
        .request = [this](FileSendContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"encoder-version", encoderVersion},
                                        {"algorythm", kAlgorithm},
                                        {"parent-uuid", context.remoteParentUUID.value_or(kRootFolder)},
                                        {"file-size", std::to_string(context.fileSize)}}};
        },
        .answer = [](FileSendContext& context, Server_SendPrepareAnswer&& answer, const AnswerMeta&) {
            context.itemUUID = std::move(answer.answer.itemUUID);
            // The first blocks are prepared on their threads; the block step
            // waits for the first one without the engine's lock.
            if (context.fileKey)
                context.prefetch.start(context.localURL, context.fileSize, context.blockSize, context.blockNum,
                                       *context.fileKey, context.clearHash, context.hashedBlocks);
            return Next::go(JobsSteps::fileSend_sendBlock);
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::fileSend_sendBlock() {
    requestStep<FileSendContext, Server_SendBlockAnswer>(*this, kSendBlock, {
        .before = [this](FileSendContext& context) -> std::optional<Next> {
            context.lastStatus = JobsSteps::fileSend_sendBlock;
            // The block sent before is let go now rather than when the next
            // request replaces it, so that no more than the block on its way
            // and the ones prepared ahead are held: its storage serves a block
            // prepared next, and the rest of its request goes on a kept
            // thread (without a thread it goes here).
            if (context.httpSession && context.httpSession->task) {
                auto sent = std::exchange(context.httpSession->task, nullptr);
                if (auto body = sent->takeBody()) context.prefetch.reuse(std::move(*body));
                ReusedThreads::run([sent = std::move(sent)]() mutable { sent.reset(); });
            }
            context.pendingBlock.reset();
            context.pendingBodyDigest.reset();
            context.awaitedBlock.reset();
            if (!context.fileKey) return Next::fail(kEncryptFileKey);
            const std::uint64_t blockNum = context.blockNum;
            // A block still being prepared is waited for without the
            // engine's lock: the step runs again once it is ready.
            const auto waitForBlock = [&]() {
                const auto jobID = context.getJobID();
                if (!jobID) return false;
                auto again = steps::resumeLater<FileSendContext>(
                    *this, *jobID, JobsSteps::fileSend_sendBlock,
                    [this, blockNum](const std::shared_ptr<FileSendContext>& waiting) {
                        if (waiting->awaitedBlock != blockNum) return;
                        waiting->awaitedBlock.reset();
                        setActualJobStep(JobsSteps::fileSend_sendBlock);
                    });
                if (!context.prefetch.whenPrepared(blockNum, std::move(again))) return false;
                context.awaitedBlock = blockNum;
                return true;
            };
            // A block whose turn in the clear digest was lost (the one before
            // it was dropped or failed) does not fit the job's digest.
            const auto takePrepared = [&]() {
                auto prepared = context.prefetch.take(blockNum);
                if (prepared && prepared->block &&
                    (prepared->clearHash ? context.hashedBlocks != blockNum : context.hashedBlocks <= blockNum))
                    prepared.reset();
                return prepared;
            };
            if (waitForBlock()) return Next::handled();
            std::optional<FileSendBlockReader::Block> block;
            try {
                auto prepared = takePrepared();
                if (!prepared && context.preparedAgain != blockNum) {
                    // A block sent again, or one that did not fit: prepared
                    // once more on a worker, from the job's digest as it
                    // stands, rather than read and encrypted here under the
                    // engine's lock.
                    context.preparedAgain = blockNum;
                    context.prefetch.again(context.localURL, context.fileSize, context.blockSize, blockNum,
                                           *context.fileKey, context.clearHash, context.hashedBlocks);
                    if (waitForBlock()) return Next::handled();
                    prepared = takePrepared();
                }
                if (prepared) {
                    context.preparedAgain.reset();
                    // Read ahead of its turn: the file must still be the one
                    // it was read from, as a read now would find it.
                    FileSendBlockReader::checkUnchanged(context.localURL, context.fileSize);
                    if (prepared->clearHash) {
                        context.clearHash = std::move(*prepared->clearHash);
                        context.hashedBlocks = prepared->hashedBlocks;
                    }
                    block = std::move(prepared->block);
                    if (block) context.pendingBodyDigest = std::move(prepared->bodyDigest);
                } else {
                    // No worker could be had, or this block was already given
                    // back to the workers once and came back unfit: read in
                    // line.
                    block = FileSendBlockReader::read(context.localURL, context.fileSize, context.blockSize,
                                                      blockNum, *context.fileKey, context.clearHash,
                                                      context.hashedBlocks);
                    if (block) context.pendingBodyDigest = std::move(block->bodyDigest);
                }
            } catch (const FileSendBlockReader::Failure& failure) {
                return Next::fail(failure.what());
            }
            if (!block) {
                // Every block is stored.
                context.sentBlockSize = 0;
                return Next::go(JobsSteps::fileSend_finalize, false);
            }
            context.sentBlockSize = block->clearSize;
            context.pendingBlock = std::move(block->cipher);
            return std::nullopt;
        },
        .request = [this](FileSendContext& context, const Session::Signing*) {
            auto headers = withItem(context, encoderVersion);
            headers["blocknum"] = std::to_string(context.blockNum);
            headers["blockrange"] = std::to_string(context.blockBegin()) + "-" + std::to_string(context.blockEnd());
            Bytes body = std::move(*context.pendingBlock);
            context.pendingBlock.reset();
            std::optional<Bytes> digest = std::move(context.pendingBodyDigest);
            context.pendingBodyDigest.reset();
            // The next blocks (or the end's check) are prepared while this
            // one is on its way.
            context.prefetch.start(context.localURL, context.fileSize, context.blockSize, context.blockNum + 1,
                                   *context.fileKey, context.clearHash, context.hashedBlocks);
            return Outgoing{.headers = std::move(headers),
                            .body = std::move(body),
                            .contentType = std::string("application/octet-stream"),
                            .progressTimeout = kBlockProgressTimeout,
                            .bodyDigest = std::move(digest)};
        },
        .answer = [this](FileSendContext& context, Server_SendBlockAnswer&& answer, const AnswerMeta& meta) {
            const auto& stored = answer.answer;
            if (stored.blocknum != context.blockNum || stored.blockBegin != context.blockBegin() ||
                stored.blockEnd != context.blockEnd()) {
                return Next::fail(kWrongRange + std::to_string(stored.blocknum) + "_" +
                                  std::to_string(stored.blockBegin) + "-" + std::to_string(stored.blockEnd) +
                                  " instead of " + std::to_string(context.blockNum) + "_" +
                                  std::to_string(context.blockBegin()) + "-" + std::to_string(context.blockEnd()));
            }
            context.hashes.push_back(meta.bodyDigest);
            context.blockTries = 0;
            ++context.blockNum;
            if (context.jobID) queue_->incrementJobStep(*context.jobID);
            return Next::go(JobsSteps::fileSend_sendBlock);
        },
        .beforeChecks = [](FileSendContext& context, const HTTPError& error) -> std::optional<Next> {
            // The server found the block damaged on the way: it is sent
            // again, up to the limit, without a renewal or the other checks.
            if (!error.exception || *error.exception != kBadChecksum) return std::nullopt;
            if (++context.blockTries >= FileSendContext::kBlockSendLimit) return Next::fail(kRepetitiveSending);
            return Next::go(JobsSteps::fileSend_sendBlock, false);
        },
        .afterChecks = nullptr,
    });
}

void SrvComm::fileSend_finalize() {
    requestStep<FileSendContext, Server_FinalizeAnswer>(*this, kSendFinalize, {
        .before = [](FileSendContext& context) -> std::optional<Next> {
            context.lastStatus = JobsSteps::fileSend_finalize;
            context.sentBlockSize = 0;
            // Read from a copy: a finalize that runs again (renewed login,
            // resume) reads the same digest.
            context.metadata.clearFileHash = toHex(Digest(context.clearHash).final());
            context.metadata.treehash = toHex(TreeHash::compute(context.hashes));
            return std::nullopt;
        },
        .request = [this](FileSendContext& context, const Session::Signing*) {
            auto headers = withItem(context, encoderVersion);
            headers["blocks-sent"] = std::to_string(context.blockNum);
            headers["treehash-sha256"] = *context.metadata.treehash;
            return Outgoing{.headers = std::move(headers)};
        },
        .answer = [this](FileSendContext& context, Server_FinalizeAnswer&& answer, const AnswerMeta&) {
            if (!context.itemUUID || *context.itemUUID != answer.answer.itemUUID) return Next::fail(kWrongFileID);
            const std::optional<SecretBytes> password = this->password();
            const SecretBytes passwordKey = EncryptionKey::prepareEncryptionPassword(
                password ? std::optional<std::string_view>(password->textView()) : std::nullopt);
            try {
                context.userMasterKey.emplace(EncryptionKey::unwrapAes256(answer.answer.umk, passwordKey.view()));
            } catch (const std::exception&) {
                return Next::fail(kUndecodableUmk);
            }
            return Next::go(JobsSteps::fileSend_terminate);
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::fileSend_terminate() {
    requestStep<FileSendContext, Server_TerminateAnswer>(*this, kSendTerminate, {
        .before = [](FileSendContext& context) -> std::optional<Next> {
            context.lastStatus = JobsSteps::fileSend_terminate;
            return std::nullopt;
        },
        .request = [this](FileSendContext& context, const Session::Signing*) {
            auto headers = withItem(context, encoderVersion);
            if (!context.fileKey || !context.userMasterKey) throw StepFailure(kEncryptFileKey);
            std::string itemkey;
            try {
                itemkey = context.fileKey->encryptKeyText(context.userMasterKey->key.key.view());
            } catch (const std::exception&) {
                throw StepFailure(kEncryptFileKey);
            }
            Bytes metadata;
            try {
                metadata = RemoteItemMetadata::encrypt(context.metadata, *context.fileKey);
            } catch (const std::exception&) {
                throw StepFailure(kEncryptMetadata);
            }
            std::optional<Bytes> thumbnail;
            try {
                thumbnail = RemoteItemThumbnail::encrypt(context.thumbnail, *context.fileKey);
            } catch (const std::exception&) {
                throw StepFailure(kEncryptThumbnail);
            }
            std::optional<Bytes> body =
                FileSend_TerminateData(std::move(itemkey), std::move(metadata), std::move(thumbnail)).encode();
            if (!body) throw StepFailure(kTerminatePayload);
            return Outgoing{.headers = std::move(headers), .body = std::move(body)};
        },
        .answer = [](FileSendContext& context, Server_TerminateAnswer&& answer, const AnswerMeta&) {
            if (!context.itemUUID || *context.itemUUID != answer.answer.itemUUID) return Next::fail(kWrongFileID);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::fileSend_abort() {
    requestStep<FileSendContext, Server_TerminateAnswer>(*this, kSendAbort, {
        .before = [](FileSendContext& context) -> std::optional<Next> {
            // An aborted upload cannot be resumed.
            context.lastStatus.reset();
            // Aborted before the server named a remote file: there is
            // nothing to drop, and no request may go out without its item.
            if (!context.itemUUID) return Next::aborted();
            return std::nullopt;
        },
        .request = [](FileSendContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"item-uuid", *context.itemUUID}}};
        },
        .answer = [](FileSendContext& context, Server_TerminateAnswer&& answer, const AnswerMeta&) {
            if (!context.itemUUID || *context.itemUUID != answer.answer.itemUUID) return Next::fail(kWrongFileID);
            return Next::aborted();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::fileSend_resume() {
    localStep<FileSendContext>(
        *this, JobsSteps::fileSend_resume,
        [this](const std::shared_ptr<FileSendContext>& context) {
            // The failed job's session was cancelled with it.
            context->prepareResume(urlToUse_);
            if (!context->lastStatus) return Next::fail(kNoResumeState);
            context->isResumed = true;
            return Next::go(*context->lastStatus, false);
        },
        false);
}

}  // namespace ostrelcomm
