// The folder area of the engine: listing a remote folder, and creating one
// with a fresh item key that leaves the machine only wrapped under the user
// master key, and a name that leaves it only inside metadata sealed under
// that item key.

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/EncryptionKey.h"
#include "http/Server_GenericConfirmation.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"
#include "tree/DirectoryWorksContext.h"
#include "tree/NewDirectoryData.h"
#include "tree/RemoteDirInfo.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/Server_DirectoryInformations.h"
#include "tree/Server_key.h"
#include "tree/TreeNotifications.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// The top of the user's tree wherever a parent is sent and none is given.
constexpr char kRoot[] = "root";
constexpr char kAlgorithmName[] = "aes256";

constexpr char kNoAnswerHere[] = "No valid answer on decoded structure.";
constexpr char kUndecryptableListing[] = "Unable to decrypt directory content!";
constexpr char kUserKey[] = "Unable to decrypt user's key: ";
constexpr char kGenerateKey[] = "Error generating file key: ";
constexpr char kWrapKey[] = "Unable to encrypt file key: ";
constexpr char kSealMetadata[] = "Unable to generate and encrypt new folder metadata: ";
constexpr char kEncodeBody[] = "Unable to encode new folder data payload: ";
constexpr char kNoFolder[] = "The folder listing names no folder";
constexpr char kNoUserKey[] = "The folder creation has no user master key";
constexpr char kNoName[] = "The folder creation has no name for the new folder";

constexpr RequestSpec kGetInfo{JobsSteps::directory_getInfoQuery, JobsSteps::directory_getInfoQuery_wait, "GET",
                               "/dir/list/", "GET_DIRECTORY_INFORMATIONS"};
constexpr RequestSpec kCreatePrepare{JobsSteps::directory_createPrepare, JobsSteps::directory_createPrepare_wait,
                                     "GET", "/dir/create_prepare/", "DIRECTORY_CREATE_PREPARE"};
constexpr RequestSpec kCreateExecute{JobsSteps::directory_createExecute, JobsSteps::directory_createExecute_wait,
                                     "PUT", "/dir/create_execute/", "DIRECTORY_CREATE_EXECUTE"};
const RequestRows kFolderRows{kGetInfo, kCreatePrepare, kCreateExecute};

const SrvComm::StepRegistration kFolderSteps{
    {JobsSteps::directory_getInfoQuery, &SrvComm::directory_getInfoQuery},
    {JobsSteps::directory_createPrepare, &SrvComm::directory_createPrepare},
    {JobsSteps::directory_createExecute, &SrvComm::directory_createExecute},
};

// The key that unwraps the user master key, from the password the engine holds.
SecretBytes passwordKey(const std::optional<SecretBytes>& password) {
    return EncryptionKey::prepareEncryptionPassword(password ? std::optional(password->textView()) : std::nullopt);
}

std::chrono::sys_seconds now() {
    return std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
}

}  // namespace

// --- public operations -------------------------------------------------------------------

std::string SrvComm::directory_getInfo(const std::string& uuid, const std::optional<std::string>& source) {
    Lock lock(mutex());
    comLog_.addEvent("Asking for new informations about " + uuid, Logger::EvtType::info);
    return queue_->addNewJob(JobType::getFolderInfo, 1, JobPriority::Normal,
                             std::make_shared<DirectoryWorksContext>(uuid, std::nullopt, std::nullopt, std::nullopt,
                                                                     urlToUse_, JobsSteps::directory_getInfoQuery,
                                                                     tree::kQueryRemoteDirectoryContentNotification,
                                                                     source),
                             std::nullopt, std::nullopt);
}

std::string SrvComm::directory_create(const std::string& name, const std::optional<std::string>& parentUUID,
                                      const std::optional<std::string>& source) {
    Lock lock(mutex());
    comLog_.addEvent("Creating new folder " + name, Logger::EvtType::info);
    return queue_->addNewJob(JobType::createFolder, 2, JobPriority::Normal,
                             std::make_shared<DirectoryWorksContext>(std::nullopt, parentUUID, std::nullopt, name,
                                                                     urlToUse_, JobsSteps::directory_createPrepare,
                                                                     tree::kNewRemoteDirectoryCreatedNotification,
                                                                     source),
                             std::nullopt, std::nullopt);
}

// --- steps ------------------------------------------------------------------------------

void SrvComm::directory_getInfoQuery() {
    requestStep<DirectoryWorksContext, Server_DirectoryInformations>(*this, kGetInfo, {
        .before = [](DirectoryWorksContext& context) -> std::optional<Next> {
            if (!context.uuid) return Next::fail(kNoFolder);
            return std::nullopt;
        },
        .request = [](DirectoryWorksContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"item-uuid", *context.uuid}}};
        },
        .answer = nullptr,
        // Every item key unwrapped and every metadata decrypted: off the lock.
        .offLock = [this](DirectoryWorksContext&, Server_DirectoryInformations&& answer, const AnswerMeta&) {
            return OffLockWork<DirectoryWorksContext>(
                [key = passwordKey(password()), answer = std::move(answer)]() -> StoreLines<DirectoryWorksContext> {
                    std::shared_ptr<RemoteDirInfo> listing;
                    try {
                        listing = RemoteDirInfo::create(answer.jsonAnswer, key.view());
                    } catch (const std::exception&) {
                        throw StepFailure(kUndecryptableListing);
                    }
                    return [listing = std::move(listing)](DirectoryWorksContext& context) {
                        context.remoteDirInfo = listing;
                        return Next::done();
                    };
                });
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
        .noAnswer = kNoAnswerHere,
    });
}

void SrvComm::directory_createPrepare() {
    requestStep<DirectoryWorksContext, Server_key>(*this, kCreatePrepare, {
        .before = nullptr,
        .request = [](DirectoryWorksContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"parent-uuid", context.parentuuid.value_or(kRoot)}}};
        },
        .answer = [this](DirectoryWorksContext& context, Server_key&& answer, const AnswerMeta&) {
            try {
                context.uk = EncryptionKey::unwrapAes256(answer.key.umk, passwordKey(password()));
            } catch (const std::exception& error) {
                return Next::fail(kUserKey + std::string(error.what()));
            }
            return Next::go(JobsSteps::directory_createExecute);
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
        .noAnswer = kNoAnswerHere,
    });
}

void SrvComm::directory_createExecute() {
    requestStep<DirectoryWorksContext, Server_GenericConfirmation>(*this, kCreateExecute, {
        .before = [](DirectoryWorksContext& context) -> std::optional<Next> {
            if (!context.uk) return Next::fail(kNoUserKey);
            if (!context.name) return Next::fail(kNoName);
            return std::nullopt;
        },
        // Run again after a renewed session: every attempt draws its own key
        // and seals its own metadata.
        .request = [this](DirectoryWorksContext& context, const Session::Signing*) {
            try {
                context.itemKey.emplace(encryptionAlgorithm, static_cast<std::int64_t>(encryptionKeySize));
            } catch (const std::exception& error) {
                throw StepFailure(kGenerateKey + std::string(error.what()));
            }
            NewDirectoryData data;
            data.attrib = std::vector<std::string>{};
            try {
                data.itemkey = context.itemKey->encryptKeyText(context.uk->key.key.view());
            } catch (const std::exception& error) {
                throw StepFailure(kWrapKey + std::string(error.what()));
            }
            try {
                const std::chrono::sys_seconds creationDate = now();
                const std::chrono::sys_seconds modificationDate = now();
                data.metadata = RemoteItemMetadata::encrypt(
                    RemoteItemMetadata(*context.name, creationDate, modificationDate), *context.itemKey,
                    CipherAlgorithm::aes256, 32);
            } catch (const std::exception& error) {
                throw StepFailure(kSealMetadata + std::string(error.what()));
            }
            Bytes body;
            try {
                body = data.encode();
            } catch (const std::exception& error) {
                throw StepFailure(kEncodeBody + std::string(error.what()));
            }
            return Outgoing{.headers = {{"encoder-version", encoderVersion},
                                        {"algorythm", kAlgorithmName},
                                        {"parent-uuid", context.parentuuid.value_or(kRoot)}},
                            .body = std::move(body)};
        },
        .answer = [](DirectoryWorksContext& context, Server_GenericConfirmation&& answer, const AnswerMeta&) {
            // The parent the server may name is not used.
            context.uuid = std::move(answer.opdata.itemUUID);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

}  // namespace ostrelcomm
