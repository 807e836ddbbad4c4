// The copy of one remote file on the server. The client's share is the key:
// the file key, unwrapped from the user's own key chain or through the key
// shared with the file's owner, goes back wrapped under the user's own
// master key, so that the copy belongs to the user whoever owned the source.
// Content and sealed metadata stay on the server.

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
#include "tree/FileWorksContext.h"
#include "tree/Server_CopyPrepare.h"
#include "tree/TreeNotifications.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kDecryptUserKey[] = "Unable to decrypt user's key: ";
constexpr char kDecryptFileKey[] = "Unable to decrypt file key: ";
constexpr char kEncryptFileKey[] = "Unable to encrypt file key!";
constexpr char kEncodeBody[] = "Unable to encode file new data payload: ";
constexpr char kNoKeys[] = "The file copy has no keys to send";

constexpr RequestSpec kCopyPrepare{JobsSteps::file_copyPrepare, JobsSteps::file_copyPrepare_wait, "GET",
                                   "/file/copy_prepare/", "FILE_COPY_PREPARE"};
constexpr RequestSpec kCopyExecute{JobsSteps::file_copyExecute, JobsSteps::file_copyExecute_wait, "PUT",
                                   "/file/copy_execute/", "FILE_COPY_EXECUTE"};
const RequestRows kFileCopyRows{kCopyPrepare, kCopyExecute};

const SrvComm::StepRegistration kFileCopySteps{
    {JobsSteps::file_copyPrepare, &SrvComm::file_copyPrepare},
    {JobsSteps::file_copyExecute, &SrvComm::file_copyExecute},
};

SecretBytes passwordKey(const std::optional<SecretBytes>& password) {
    return EncryptionKey::prepareEncryptionPassword(password ? std::optional(password->textView()) : std::nullopt);
}

std::string destinationOrRoot(const std::optional<std::string>& destination) {
    return destination.value_or("root");
}

}  // namespace

std::string SrvComm::file_copy(const std::string& uuid, const std::optional<std::string>& destinationUUID) {
    Lock lock(mutex());
    comLog_.addEvent("Copying " + uuid + " remote file to " + destinationOrRoot(destinationUUID),
                     Logger::EvtType::info);
    return queue_->addNewJob(JobType::fileCopy, 2, JobPriority::Normal,
                             std::make_shared<FileWorksContext>(uuid, destinationUUID, urlToUse_,
                                                                JobsSteps::file_copyPrepare,
                                                                tree::kFileCopyNotification),
                             std::nullopt, std::nullopt);
}

void SrvComm::file_copyPrepare() {
    requestStep<FileWorksContext, Server_CopyPrepare>(*this, kCopyPrepare, {
        .before = nullptr,
        .request = [](FileWorksContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"item-uuid", context.uuid}}};
        },
        .answer = nullptr,
        .offLock = [this](FileWorksContext&, Server_CopyPrepare&& answer, const AnswerMeta&) {
            return OffLockWork<FileWorksContext>(
                [key = passwordKey(password()), answer = std::move(answer)]() -> StoreLines<FileWorksContext> {
                    // The copy's key goes under the user's own master key,
                    // also for a shared file: without it nothing is sent.
                    std::optional<EncryptionKey> umk;
                    std::optional<EncryptionKey> fileKey;
                    try {
                        umk = answer.decryptUserKey(key.view());
                    } catch (const std::exception& error) {
                        throw StepFailure(kDecryptUserKey + std::string(error.what()));
                    }
                    try {
                        fileKey = answer.decryptFileKey(key.view());
                    } catch (const std::exception& error) {
                        throw StepFailure(kDecryptFileKey + std::string(error.what()));
                    }
                    return [umk = std::move(umk), fileKey = std::move(fileKey)](FileWorksContext& context) mutable {
                        context.umk = std::move(umk);
                        context.fileKey = std::move(fileKey);
                        return Next::go(JobsSteps::file_copyExecute);
                    };
                });
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::file_copyExecute() {
    requestStep<FileWorksContext, Server_GenericConfirmation>(*this, kCopyExecute, {
        .before = [](FileWorksContext& context) -> std::optional<Next> {
            if (!context.fileKey || !context.umk) return Next::fail(kNoKeys);
            return std::nullopt;
        },
        // Run again after a renewed session: the key wrapped anew.
        .request = [](FileWorksContext& context, const Session::Signing*) {
            CopyExecuteData data;
            data.parentUUID = destinationOrRoot(context.parentuuid);
            try {
                data.itemkey = context.fileKey->encryptKeyText(context.umk->key.key.view());
            } catch (const std::exception&) {
                throw StepFailure(kEncryptFileKey);
            }
            Outgoing outgoing{.headers = {{"item-uuid", context.uuid}}};
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

}  // namespace ostrelcomm
