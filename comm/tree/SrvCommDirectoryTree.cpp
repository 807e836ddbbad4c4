// The folder tree job of the engine: the whole subtree below one folder in one
// request, every item key unwrapped and every item's metadata decrypted once.

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "crypto/EncryptionKey.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"
#include "tree/DirectoryTreeContext.h"
#include "tree/Server_DirectoryTreeInformations.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kAllItems[] = "ALL";
constexpr char kFoldersOnly[] = "DIRECTORY";

constexpr char kNoAnswerHere[] = "No valid answer on decoded structure.";
constexpr char kUndecryptableTree[] = "Unable to decrypt directory content!";

constexpr RequestSpec kGetTree{JobsSteps::directory_getTreeQuery, JobsSteps::directory_getTreeQuery_wait, "GET",
                               "/dir/tree/", "GET_DIRECTORY_TREE"};
const RequestRows kTreeRows{kGetTree};

const SrvComm::StepRegistration kTreeSteps{
    {JobsSteps::directory_getTreeQuery, &SrvComm::directory_getDirectoryTreeQuery},
};

// The key that unwraps the user master key, from the password the engine holds.
SecretBytes passwordKey(const std::optional<SecretBytes>& password) {
    return EncryptionKey::prepareEncryptionPassword(password ? std::optional(password->textView()) : std::nullopt);
}

}  // namespace

std::string SrvComm::directory_getTree(const std::string& topUUID, bool lazy, const std::string& treeType,
                                       const std::string& source) {
    Lock lock(mutex());
    const std::string sentType = treeType == kAllItems ? kAllItems : kFoldersOnly;
    comLog_.addEvent("Asking for directory tree", Logger::EvtType::info);
    // Two steps, of which one request runs.
    return queue_->addNewJob(JobType::getDirectoryTree, 2, JobPriority::Normal,
                             std::make_shared<DirectoryTreeContext>(urlToUse_, topUUID, lazy, sentType, source),
                             std::nullopt, std::nullopt);
}

void SrvComm::directory_getDirectoryTreeQuery() {
    requestStep<DirectoryTreeContext, Server_DirectoryTreeInformations>(*this, kGetTree, {
        .before = nullptr,
        .request = [](DirectoryTreeContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"item-uuid", context.topUUID},
                                        {"lazy", context.lazy ? "true" : "false"},
                                        {"treetype", context.treeType}}};
        },
        // One entry that does not open fails the whole tree: unlike a
        // listing, a tree has no placeholder.
        .answer = nullptr,
        .offLock = [this](DirectoryTreeContext&, Server_DirectoryTreeInformations&& answer, const AnswerMeta&) {
            return OffLockWork<DirectoryTreeContext>(
                [key = passwordKey(password()), answer = std::move(answer)]() mutable -> StoreLines<DirectoryTreeContext> {
                    std::vector<std::shared_ptr<RemoteDirectoryBranch>> tree;
                    try {
                        tree = answer.decryptAnswer(key.view());
                    } catch (const std::exception&) {
                        throw StepFailure(kUndecryptableTree);
                    }
                    return [tree = std::move(tree)](DirectoryTreeContext& context) mutable {
                        context.tree = std::move(tree);
                        return Next::done();
                    };
                });
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
        .noAnswer = kNoAnswerHere,
    });
}

}  // namespace ostrelcomm
