// The shares around the user's items: the shares of one of the user's items
// and their removal, the users who share items with the user, and those
// items, whose keys are opened here with the user's private sharing key.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/PrivateKey.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"
#include "shares/GetSharedItemsContext.h"
#include "shares/GetSharesContext.h"
#include "shares/GetSharingPeersContext.h"
#include "shares/RemoveShareContext.h"
#include "shares/Server_GetSharedItems.h"
#include "shares/Server_GetShares.h"
#include "shares/Server_GetSharingPeers.h"
#include "shares/Server_ShareConfirmation.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kUndecryptablePrivateKey[] = "Cannot decrypt user's private key!";

constexpr RequestSpec kQueryShares{JobsSteps::share_queryForShares, JobsSteps::share_queryForShares_wait, "GET",
                                   "/shares/listshares/", "SHARE_GETSHARE_FOR_ITEM"};
constexpr RequestSpec kRemoveShare{JobsSteps::share_removeShare, JobsSteps::share_removeShare_wait, "DELETE",
                                   "/shares/remove/", "SHARE_REMOVE_SHARE"};
constexpr RequestSpec kQuerySharingPeers{JobsSteps::share_queryForSharingPeers,
                                         JobsSteps::share_queryForSharingPeers_wait, "GET",
                                         "/shares/getsharingpeers/", "SHARE_GETSHARING_PEERS"};
constexpr RequestSpec kQuerySharedItems{JobsSteps::share_queryForSharedItems,
                                        JobsSteps::share_queryForSharedItems_wait, "GET", "/shares/getshareditems/",
                                        "SHARE_GETSHARED_ITEMS"};
const RequestRows kShareListRows{kQueryShares, kRemoveShare, kQuerySharingPeers, kQuerySharedItems};

const SrvComm::StepRegistration kShareListSteps{
    {JobsSteps::share_queryForShares, &SrvComm::share_queryForShares_query},
    {JobsSteps::share_removeShare, &SrvComm::share_removeShare_query},
    {JobsSteps::share_queryForSharingPeers, &SrvComm::share_queryForSharingPeers_query},
    {JobsSteps::share_queryForSharedItems, &SrvComm::share_queryForSharedItems_query},
};

// Made afresh for each unwrap and never kept.
SecretBytes passwordKey(const std::optional<SecretBytes>& password) {
    return EncryptionKey::prepareEncryptionPassword(password ? std::optional(password->textView()) : std::nullopt);
}

}  // namespace

// --- public operations -------------------------------------------------------------------

std::string SrvComm::shares_queryForShares(const std::string& itemUUID) {
    Lock lock(mutex());
    auto context = std::make_shared<GetSharesContext>(urlToUse_, itemUUID);
    comLog_.addEvent("Querying shares for \"" + itemUUID + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::queryForShares, 3, JobPriority::Normal, context, std::nullopt, std::nullopt);
}

std::string SrvComm::shares_removeShare(const std::string& shareUUID) {
    Lock lock(mutex());
    auto context = std::make_shared<RemoveShareContext>(urlToUse_, shareUUID);
    comLog_.addEvent("Removing share \"" + shareUUID + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::removeShare, 3, JobPriority::Normal, context, std::nullopt, std::nullopt);
}

std::string SrvComm::shares_queryForSharingPeer() {
    Lock lock(mutex());
    auto context = std::make_shared<GetSharingPeersContext>(urlToUse_);
    comLog_.addEvent("Querying for sharing peers", Logger::EvtType::info);
    return queue_->addNewJob(JobType::queryForSharingPeers, 3, JobPriority::Normal, context, std::nullopt,
                             std::nullopt);
}

std::string SrvComm::shares_queryForSharedItems(std::optional<std::string> peerUUID) {
    Lock lock(mutex());
    auto context = std::make_shared<GetSharedItemsContext>(urlToUse_, std::move(peerUUID));
    comLog_.addEvent("Querying for shared items", Logger::EvtType::info);
    return queue_->addNewJob(JobType::queryForSharedItems, 3, JobPriority::Normal, context, std::nullopt,
                             std::nullopt);
}

// --- steps -------------------------------------------------------------------------------

void SrvComm::share_queryForShares_query() {
    requestStep<GetSharesContext, Server_GetShares>(*this, kQueryShares, {
        .before = nullptr,
        .request = [](GetSharesContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"item-uuid", context.itemUUID}}};
        },
        .answer = [](GetSharesContext& context, Server_GetShares&& answer, const AnswerMeta&) {
            context.shares = std::move(answer.shares);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::share_removeShare_query() {
    requestStep<RemoveShareContext, Server_ShareConfirmation>(*this, kRemoveShare, {
        .before = nullptr,
        .request = [](RemoveShareContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"share-uuid", context.shareUUID}}};
        },
        // The answer names the share; the job reports the one it was asked for.
        .answer = [](RemoveShareContext&, Server_ShareConfirmation&&, const AnswerMeta&) { return Next::done(); },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::share_queryForSharingPeers_query() {
    requestStep<GetSharingPeersContext, Server_GetSharingPeers>(*this, kQuerySharingPeers, {
        .before = nullptr,
        .request = [](GetSharingPeersContext&, const Session::Signing*) { return Outgoing{}; },
        .answer = [](GetSharingPeersContext& context, Server_GetSharingPeers&& answer, const AnswerMeta&) {
            context.sharingPeers = std::move(answer.peers);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::share_queryForSharedItems_query() {
    requestStep<GetSharedItemsContext, Server_GetSharedItems>(*this, kQuerySharedItems, {
        .before = nullptr,
        .request = [](GetSharedItemsContext& context, const Session::Signing*) {
            Outgoing outgoing;
            if (context.peerUUID) outgoing.headers.emplace("peer-uuid", *context.peerUUID);
            return outgoing;
        },
        .answer = nullptr,
        // The private key unwrapped, and each item's shared key, item key and
        // metadata opened, off the lock.
        .offLock = [this](GetSharedItemsContext&, Server_GetSharedItems&& answer, const AnswerMeta&) {
            return OffLockWork<GetSharedItemsContext>(
                [key = passwordKey(password()), answer = std::move(answer)]() -> StoreLines<GetSharedItemsContext> {
                    PrivateKey privateKey(answer.userprivatekey, key.view());
                    if (!privateKey.KeyValue()) throw StepFailure(kUndecryptablePrivateKey);
                    std::vector<SharedItem> items = answer.decryptKeys(privateKey);
                    return [privateKey = std::move(privateKey),
                            items = std::move(items)](GetSharedItemsContext& context) mutable {
                        context.userPrivateKey.emplace(std::move(privateKey));
                        context.shares = std::move(items);
                        return Next::done();
                    };
                });
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

}  // namespace ostrelcomm
