// The folder changes of the engine: renaming a folder (its metadata sealed
// again under its own item key, which goes back wrapped under the user master
// key as a creation sends it, never in clear), moving it into another folder,
// and deleting it with or without its contents.

#include <chrono>
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
#include "tree/DirectoryWorksContext.h"
#include "tree/NewDirectoryData.h"
#include "tree/RemoteDirInfo.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/Server_DirectoryInformations.h"
#include "tree/TreeNotifications.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Sent for a folder the job does not name; the server knows no such item.
constexpr char kNoItem[] = "???";

constexpr char kUnreadablePrepare[] = "No valid answer on decoded structure: ";
constexpr char kNoOwnEntry[] = "the answer has no entry for the folder itself";
constexpr char kOtherFolder[] = "the answer's entry is for another folder";
constexpr char kSealMetadata[] = "Unable to generate and encrypt new folder metadata: ";
constexpr char kEncodeBody[] = "Unable to encode file new data payload: ";
constexpr char kNoMetadata[] = "The folder rename has no metadata of the folder";
constexpr char kNoItemKey[] = "The folder rename has no item key of the folder";
constexpr char kNoUserKey[] = "The folder rename has no user master key";

constexpr RequestSpec kModifyPrepare{JobsSteps::directory_modifyPrepare, JobsSteps::directory_renamePrepare_wait,
                                     "GET", "/dir/modify_prepare/", "DIRECTORY_MODIFY_PREPARE"};
constexpr RequestSpec kModifyExecute{JobsSteps::directory_modifyExecute, JobsSteps::directory_renameExecute_wait,
                                     "PUT", "/dir/modify_execute/", "DIRECTORY_MODIFY_EXECUTE"};
constexpr RequestSpec kDelete{JobsSteps::directory_delete, JobsSteps::directory_delete_wait, "DELETE", "/dir/",
                              "DIRECTORY_DELETE"};
const RequestRows kFolderChangeRows{kModifyPrepare, kModifyExecute, kDelete};

const SrvComm::StepRegistration kFolderChangeSteps{
    {JobsSteps::directory_modifyPrepare, &SrvComm::directory_modifyPrepare},
    {JobsSteps::directory_modifyExecute, &SrvComm::directory_modifyExecute},
    {JobsSteps::directory_delete, static_cast<SrvComm::AreaStepOperation>(&SrvComm::directory_delete)},
};

// The key that unwraps the user master key, from the password the engine holds.
SecretBytes passwordKey(const std::optional<SecretBytes>& password) {
    return EncryptionKey::prepareEncryptionPassword(password ? std::optional(password->textView()) : std::nullopt);
}

std::chrono::sys_seconds now() {
    return std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
}

// The folder the request is about.
std::string itemUuid(const DirectoryWorksContext& context) { return context.uuid.value_or(kNoItem); }

// The folder the server confirms becomes the job's; the parent it may name is
// not used.
Next confirmed(DirectoryWorksContext& context, Server_GenericConfirmation&& answer) {
    context.uuid = std::move(answer.opdata.itemUUID);
    return Next::done();
}

}  // namespace

// --- public operations -------------------------------------------------------------------

std::string SrvComm::directory_modify(const std::string& uuid, const std::optional<std::string>& destinationUUID,
                                      const std::optional<std::string>& newDirectoryName,
                                      const std::optional<std::string>& source) {
    Lock lock(mutex());
    JobsSteps first = JobsSteps::directory_modifyExecute;
    if (newDirectoryName) {
        comLog_.addEvent("Renaming " + uuid + " remote directory as " + *newDirectoryName, Logger::EvtType::info);
        first = JobsSteps::directory_modifyPrepare;
    } else {
        comLog_.addEvent("Modifying properties of directory UUID " + uuid, Logger::EvtType::info);
    }
    // Two steps either way: a move alone runs only the second.
    return queue_->addNewJob(JobType::directoryModify, 2, JobPriority::Normal,
                             std::make_shared<DirectoryWorksContext>(uuid, std::nullopt, destinationUUID,
                                                                     newDirectoryName, urlToUse_, first,
                                                                     tree::kDirectoryPropertiesModifiedNotification,
                                                                     source),
                             std::nullopt, std::nullopt);
}

std::string SrvComm::directory_delete(const std::string& uuid, bool recursive,
                                      const std::optional<std::string>& source) {
    Lock lock(mutex());
    comLog_.addEvent((recursive ? "Recursively deleting directory " : "Deleting directory ") + uuid,
                     Logger::EvtType::info);
    auto context = std::make_shared<DirectoryWorksContext>(uuid, std::nullopt, std::nullopt, std::nullopt, urlToUse_,
                                                           JobsSteps::directory_delete,
                                                           tree::kDirectoryDeletedNotification, source);
    context->recursive = recursive;
    return queue_->addNewJob(JobType::directoryDelete, 1, JobPriority::Normal, std::move(context), std::nullopt,
                             std::nullopt);
}

// --- steps ------------------------------------------------------------------------------

void SrvComm::directory_modifyPrepare() {
    requestStep<DirectoryWorksContext, Server_DirectoryInformations>(*this, kModifyPrepare, {
        .before = nullptr,
        .request = [](DirectoryWorksContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"item-uuid", itemUuid(context)}}};
        },
        // The folder's entry is read as a listing reads it: metadata that
        // does not open gives the placeholder, on which the rename then builds.
        .answer = [this](DirectoryWorksContext& context, Server_DirectoryInformations&& answer, const AnswerMeta&) {
            std::shared_ptr<RemoteDirInfo> listing;
            try {
                listing = RemoteDirInfo::create(answer.jsonAnswer, passwordKey(password()).view());
            } catch (const std::exception& error) {
                return Next::fail(kUnreadablePrepare + std::string(error.what()));
            }
            if (!listing->informations) return Next::fail(kUnreadablePrepare + std::string(kNoOwnEntry));
            RemoteItemInfo& folder = *listing->informations;
            // Another folder's key and metadata would overwrite this one's.
            if (context.uuid && folder.uuid != *context.uuid)
                return Next::fail(kUnreadablePrepare + std::string(kOtherFolder));
            context.metadata = std::move(folder.metadata);
            context.attrib = std::move(folder.attrib);
            context.parentuuid = std::move(folder.parentuuid);
            context.itemKey = std::move(folder.filekey);
            // The item key goes back wrapped under it.
            context.uk = listing->umk();
            return Next::go(JobsSteps::directory_modifyExecute);
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::directory_modifyExecute() {
    requestStep<DirectoryWorksContext, Server_GenericConfirmation>(*this, kModifyExecute, {
        .before = [](DirectoryWorksContext& context) -> std::optional<Next> {
            if (!context.name) return std::nullopt;
            if (!context.metadata) return Next::fail(kNoMetadata);
            if (!context.itemKey) return Next::fail(kNoItemKey);
            if (!context.uk) return Next::fail(kNoUserKey);
            return std::nullopt;
        },
        .request = [](DirectoryWorksContext& context, const Session::Signing*) {
            Outgoing outgoing{.headers = {{"item-uuid", itemUuid(context)}}, .body = Bytes{}};
            if (context.newparentuuid) outgoing.headers.emplace("parent-uuid", *context.newparentuuid);
            // A move alone sends an empty body: nothing of the folder's
            // metadata or keys is read.
            if (!context.name) return outgoing;

            // The creation date and every other field stay as read.
            context.metadata->name = *context.name;
            context.metadata->modificationDate = now();
            NewDirectoryData data;
            data.attrib = context.attrib;
            try {
                data.metadata =
                    RemoteItemMetadata::encrypt(*context.metadata, *context.itemKey, CipherAlgorithm::aes256, 32);
            } catch (const std::exception& error) {
                throw StepFailure(kSealMetadata + std::string(error.what()));
            }
            try {
                data.itemkey = context.itemKey->encryptKeyText(context.uk->key.key.view());
                outgoing.body = data.encode();
            } catch (const std::exception& error) {
                throw StepFailure(kEncodeBody + std::string(error.what()));
            }
            return outgoing;
        },
        .answer = [](DirectoryWorksContext& context, Server_GenericConfirmation&& answer, const AnswerMeta&) {
            return confirmed(context, std::move(answer));
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::directory_delete() {
    requestStep<DirectoryWorksContext, Server_GenericConfirmation>(*this, kDelete, {
        .before = nullptr,
        .request = [](DirectoryWorksContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"item-uuid", itemUuid(context)},
                                        {"recursive", context.recursive.value_or(false) ? "true" : "false"}}};
        },
        .answer = [](DirectoryWorksContext& context, Server_GenericConfirmation&& answer, const AnswerMeta&) {
            return confirmed(context, std::move(answer));
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

}  // namespace ostrelcomm
