// The file area of the engine: a file's information, its modification
// (rename, move, new metadata or thumbnail in one request) and its deletion.
// The file key is unwrapped from the server's answer, through the user
// master key for the user's own file or through the key shared with the
// owner for a file shared with the user; metadata and thumbnail leave the
// machine only sealed under it.

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "crypto/EncryptionKey.h"
#include "http/Server_GenericConfirmation.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"
#include "tree/FileNewData.h"
#include "tree/FileWorksContext.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemThumbnail.h"
#include "tree/Server_FileInformations.h"
#include "tree/TreeNotifications.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kDecryptMetadata[] = "Unable to decrypt file metadata: ";
constexpr char kEncryptMetadata[] = "Unable to encrypt file metadata: ";
constexpr char kEncryptThumbnail[] = "Unable to encrypt file thumbnail";
constexpr char kEncodeBody[] = "Unable to encode file new data payload: ";
constexpr char kNoFileKey[] = "The file modification has no file key";

constexpr RequestSpec kGetInfo{JobsSteps::file_getInfoQuery, JobsSteps::file_getInfoQuery_wait, "GET", "/file/info/",
                               "GET_FILE_INFORMATIONS"};
// The preparation is answered as an information request.
constexpr RequestSpec kModifyPrepare{JobsSteps::file_modifyPrepare, JobsSteps::file_modifyPrepare_wait, "GET",
                                     "/file/modify_prepare/", "GET_FILE_INFORMATIONS"};
constexpr RequestSpec kModifyExecute{JobsSteps::file_modifyExecute, JobsSteps::file_modifyExecute_wait, "PUT",
                                     "/file/modify_execute/", "FILE_MODIFY_EXECUTE"};
constexpr RequestSpec kDelete{JobsSteps::file_delete, JobsSteps::file_delete_wait, "DELETE", "/file/", "FILE_DELETE"};
const RequestRows kFileRows{kGetInfo, kModifyPrepare, kModifyExecute, kDelete};

const SrvComm::StepRegistration kFileSteps{
    {JobsSteps::file_getInfoQuery, &SrvComm::file_getInfoQuery},
    {JobsSteps::file_modifyPrepare, &SrvComm::file_modifyPrepare},
    {JobsSteps::file_modifyExecute, &SrvComm::file_modifyExecute},
    {JobsSteps::file_delete, static_cast<SrvComm::AreaStepOperation>(&SrvComm::file_delete)},
};

// The key that unwraps the user master key and the private sharing key,
// from the password the engine holds.
SecretBytes passwordKey(const std::optional<SecretBytes>& password) {
    return EncryptionKey::prepareEncryptionPassword(password ? std::optional(password->textView()) : std::nullopt);
}

Outgoing aboutTheFile(const FileWorksContext& context) { return Outgoing{.headers = {{"item-uuid", context.uuid}}}; }

}  // namespace

// --- public operations -------------------------------------------------------------------

std::string SrvComm::file_getFileInfo(const std::string& uuid, const std::optional<std::string>& source) {
    Lock lock(mutex());
    comLog_.addEvent("Asking for new informations about " + uuid, Logger::EvtType::info);
    auto context = std::make_shared<FileWorksContext>(uuid, std::nullopt, urlToUse_, JobsSteps::file_getInfoQuery,
                                                      tree::kGetFileInfoNotification);
    context->source = source;
    return queue_->addNewJob(JobType::getFileInfo, 1, JobPriority::Normal, std::move(context), std::nullopt,
                             std::nullopt);
}

std::string SrvComm::file_modify(const std::string& uuid, const std::optional<std::string>& destinationUUID,
                                 const std::optional<RemoteItemMetadata>& newMetadata,
                                 const std::optional<RemoteItemThumbnail>& thumbnailStruct) {
    Lock lock(mutex());
    comLog_.addEvent("Modifying properties of file UUID " + uuid, Logger::EvtType::info);
    return queue_->addNewJob(JobType::fileModify, 2, JobPriority::Normal,
                             std::make_shared<FileWorksContext>(uuid, destinationUUID, newMetadata, thumbnailStruct,
                                                                urlToUse_, JobsSteps::file_modifyPrepare,
                                                                tree::kFilePropertiesModificationNotification),
                             std::nullopt, std::nullopt);
}

std::string SrvComm::file_delete(const std::string& uuid) {
    Lock lock(mutex());
    comLog_.addEvent("Deleting " + uuid, Logger::EvtType::info);
    return queue_->addNewJob(JobType::fileDelete, 1, JobPriority::Normal,
                             std::make_shared<FileWorksContext>(uuid, std::nullopt, urlToUse_, JobsSteps::file_delete,
                                                                tree::kDeleteFileNotification),
                             std::nullopt, std::nullopt);
}

// --- steps ------------------------------------------------------------------------------

void SrvComm::file_getInfoQuery() {
    requestStep<FileWorksContext, Server_FileInformations>(*this, kGetInfo, {
        .before = nullptr,
        .request = [](FileWorksContext& context, const Session::Signing*) { return aboutTheFile(context); },
        .answer = nullptr,
        // The key chain, the metadata and the thumbnail opened off the lock.
        .offLock = [this](FileWorksContext&, Server_FileInformations&& answer, const AnswerMeta&) {
            return OffLockWork<FileWorksContext>(
                [key = passwordKey(password()), answer = std::move(answer)]() mutable -> StoreLines<FileWorksContext> {
                    try {
                        // Only the metadata is wanted here; the key goes with the answer.
                        answer.decryptMetadata(key.view());
                    } catch (const std::exception& error) {
                        throw StepFailure(kDecryptMetadata + std::string(error.what()));
                    }
                    return [metadata = std::move(answer.fileMetadata),
                            placeholder = !answer.metadataDecrypted()](FileWorksContext& context) mutable {
                        context.metadata = std::move(metadata);
                        context.metadataIsPlaceholder = placeholder;
                        return Next::done();
                    };
                });
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::file_modifyPrepare() {
    requestStep<FileWorksContext, Server_FileInformations>(*this, kModifyPrepare, {
        .before = nullptr,
        .request = [](FileWorksContext& context, const Session::Signing*) { return aboutTheFile(context); },
        .answer = nullptr,
        .offLock = [this](FileWorksContext&, Server_FileInformations&& answer, const AnswerMeta&) {
            return OffLockWork<FileWorksContext>(
                [key = passwordKey(password()), answer = std::move(answer)]() mutable -> StoreLines<FileWorksContext> {
                    // Without the file key nothing can be sealed: the stored
                    // file stays as it is.
                    std::optional<EncryptionKey> fileKey;
                    try {
                        fileKey = answer.decryptMetadata(key.view());
                    } catch (const std::exception& error) {
                        throw StepFailure(kDecryptMetadata + std::string(error.what()));
                    }
                    return [fileKey = std::move(fileKey), attrib = std::move(answer.infos.attrib),
                            metadata = std::move(answer.fileMetadata),
                            placeholder = !answer.metadataDecrypted()](FileWorksContext& context) mutable {
                        context.fileKey = std::move(fileKey);
                        context.attrib = std::move(attrib);
                        context.metadata = std::move(metadata);
                        context.metadataIsPlaceholder = placeholder;
                        return Next::go(JobsSteps::file_modifyExecute);
                    };
                });
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::file_modifyExecute() {
    requestStep<FileWorksContext, Server_GenericConfirmation>(*this, kModifyExecute, {
        .before = [](FileWorksContext& context) -> std::optional<Next> {
            if (!context.fileKey) return Next::fail(kNoFileKey);
            return std::nullopt;
        },
        // Run again after a renewed session: the same clear contents, sealed
        // anew (fresh IVs).
        .request = [](FileWorksContext& context, const Session::Signing*) {
            FileNewData data;
            data.attrib = context.attrib;
            data.parentUUID = context.parentuuid;
            // A move alone stores the current metadata again; the stand-in
            // for metadata this client could not read never replaces it.
            if (!context.newMetadata && context.metadata && !context.metadataIsPlaceholder)
                context.newMetadata = context.metadata;
            if (context.newMetadata) {
                RemoteItemMetadata& metadata = *context.newMetadata;
                // The thumbnail travels apart from the metadata; one given on
                // its own wins over the one inside. A MIME type without
                // image bytes names no thumbnail to send.
                if (!context.thumbnail && metadata.thumbnailmime && metadata.thumbnail)
                    context.thumbnail = RemoteItemThumbnail(*metadata.thumbnailmime, *metadata.thumbnail);
                metadata.thumbnailmime.reset();
                metadata.thumbnail.reset();
                try {
                    data.metadata = RemoteItemMetadata::encrypt(metadata, *context.fileKey, CipherAlgorithm::aes256, 32);
                } catch (const std::exception& error) {
                    throw StepFailure(kEncryptMetadata + std::string(error.what()));
                }
            }
            try {
                data.thumbnail = RemoteItemThumbnail::encrypt(context.thumbnail, *context.fileKey,
                                                              CipherAlgorithm::aes256, 32);
            } catch (const std::exception&) {
                throw StepFailure(kEncryptThumbnail);
            }
            Outgoing outgoing = aboutTheFile(context);
            try {
                outgoing.body = data.encode();
            } catch (const std::exception& error) {
                throw StepFailure(kEncodeBody + std::string(error.what()));
            }
            return outgoing;
        },
        .answer = [](FileWorksContext&, Server_GenericConfirmation&&, const AnswerMeta&) { return Next::done(); },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::file_delete() {
    requestStep<FileWorksContext, Server_GenericConfirmation>(*this, kDelete, {
        .before = nullptr,
        .request = [](FileWorksContext& context, const Session::Signing*) { return aboutTheFile(context); },
        .answer = [](FileWorksContext&, Server_GenericConfirmation&&, const AnswerMeta&) { return Next::done(); },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

}  // namespace ostrelcomm
