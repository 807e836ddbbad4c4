// Sharing an item with a peer. The item's key, which the server keeps
// wrapped under the user master key, is unwrapped here and wrapped again
// under the key that the user's private sharing key and the peer's public
// one agree on; only that wrap leaves the machine.

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/AlgorithmService.h"
#include "crypto/curve25519/PrivateKey.h"
#include "crypto/curve25519/Salsa20.h"
#include "encoding/Encoding.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"
#include "shares/Server_ShareConfirmation.h"
#include "shares/Server_ShareItemPrepare.h"
#include "shares/ShareItemContext.h"
#include "shares/ShareNotifications.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kUndecryptableKeys[] = "Cannot decrypt user's private key or item key!";
constexpr char kSharedKey[] = "Unable to create shared key: ";
constexpr char kLowOrderPeerKey[] =
    "The peer's public key is a point of low order, whose shared key anyone can compute";
constexpr char kEncodeShare[] = "Unable to encode new share data payload: ";
constexpr char kNoAnswerHere[] = "No valid answer on decoded structure.";
constexpr char kNoKeys[] = "The share has no keys to wrap the item key with";

constexpr RequestSpec kSharePrepare{JobsSteps::shareItem_prepare, JobsSteps::shareItem_prepare_wait, "GET",
                                    "/shares/shareitem_prepare/", "SHARE_SHAREITEM_PREPARE"};
constexpr RequestSpec kShareExecute{JobsSteps::shareItem_execute, JobsSteps::shareItem_execute_wait, "PUT",
                                    "/shares/shareitem_execute/", "SHARE_SHAREITEM_EXECUTE"};
const RequestRows kShareItemRows{kSharePrepare, kShareExecute};

const SrvComm::StepRegistration kShareItemSteps{
    {JobsSteps::shareItem_prepare, &SrvComm::share_shareItem_prepare},
    {JobsSteps::shareItem_execute, &SrvComm::share_shareItem_execute},
};

// Made afresh for each unwrap and never kept.
SecretBytes passwordKey(const std::optional<SecretBytes>& password) {
    return EncryptionKey::prepareEncryptionPassword(password ? std::optional(password->textView()) : std::nullopt);
}

// X25519 with a peer key of low order (u = 0, u = 1 and the other points of
// small order, in any encoding) gives the zero point for every private key,
// so the shared key would be HSalsa20 of zeros: a public constant under
// which the server could unwrap the item key.
bool comesFromTheZeroPoint(const SecretBytes& sharedKey) {
    static const std::array<std::uint8_t, 32> kZeroPointKey = Salsa20::HSalsa20(Bytes(32, 0));
    return constantTimeEquals(sharedKey.view(), ByteView(kZeroPointKey));
}

}  // namespace

// --- public operation --------------------------------------------------------------------

std::string SrvComm::shares_shareItem(const std::string& peerUsername, const std::string& itemUUID) {
    Lock lock(mutex());
    auto context = std::make_shared<ShareItemContext>(urlToUse_, peerUsername, itemUUID);
    comLog_.addEvent("Sharing item with \"" + peerUsername + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::shareItem, 4, JobPriority::Normal, context, std::nullopt, std::nullopt);
}

// --- steps -------------------------------------------------------------------------------

void SrvComm::share_shareItem_prepare() {
    requestStep<ShareItemContext, Server_ShareItemPrepare>(*this, kSharePrepare, {
        .before = nullptr,
        .request = [](ShareItemContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"peer-username", context.peerUsername}, {"item-uuid", context.itemUUID}}};
        },
        .answer = [this](ShareItemContext& context, Server_ShareItemPrepare&& answer, const AnswerMeta&) {
            try {
                PrivateKey privateKey(answer.keys.privshkey, passwordKey(password()).view());
                if (!privateKey.KeyValue()) return Next::fail(kUndecryptableKeys);
                // The master key serves this unwrap only.
                const EncryptionKey umk = EncryptionKey::unwrapAes256(answer.keys.umk, passwordKey(password()).view());
                EncryptionKey itemKey = EncryptionKey::unwrapAes256(answer.keys.itemkey, umk.key.key.view());
                context.userPrivateKey = std::move(privateKey);
                context.itemKey = std::move(itemKey);
            } catch (const std::exception&) {
                return Next::fail(kUndecryptableKeys);
            }
            context.peersharekey = std::move(answer.keys.pubshkey);
            return Next::go(JobsSteps::shareItem_execute);
        },
        // The server's report that the item is shared with the peer already
        // names the share: the job has its result, without the checks.
        .beforeChecks = [](ShareItemContext& context, const HTTPError& error) -> std::optional<Next> {
            if (error.exception != shares::kItemAlreadyShared) return std::nullopt;
            context.shareUUID = ShareItemContext::existingShareID(error.errDescr);
            return Next::done();
        },
        .afterChecks = nullptr,
    });
}

void SrvComm::share_shareItem_execute() {
    requestStep<ShareItemContext, Server_ShareConfirmation>(*this, kShareExecute, {
        .before = [](ShareItemContext& context) -> std::optional<Next> {
            if (!context.userPrivateKey || !context.userPrivateKey->KeyValue() || !context.itemKey ||
                !context.peersharekey)
                return Next::fail(kNoKeys);
            return std::nullopt;
        },
        // Run again after a renewed session: each attempt wraps afresh.
        .request = [this](ShareItemContext& context, const Session::Signing*) {
            {
                // The shared key serves this wrap only.
                SecretBytes sharedKey;
                try {
                    sharedKey = AlgorithmService::GetSharedSecretKey(*context.peersharekey,
                                                                     context.userPrivateKey->KeyValue()->view());
                } catch (const std::exception& error) {
                    throw StepFailure(kSharedKey + std::string(error.what()));
                }
                if (comesFromTheZeroPoint(sharedKey)) throw StepFailure(kSharedKey + std::string(kLowOrderPeerKey));
                try {
                    context.newSharePayload.itemkey = context.itemKey->encryptKeyText(sharedKey.view());
                } catch (const std::exception& error) {
                    throw StepFailure(kEncodeShare + std::string(error.what()));
                }
            }
            Bytes body;
            try {
                body = context.newSharePayload.encode();
            } catch (const std::exception& error) {
                throw StepFailure(kEncodeShare + std::string(error.what()));
            }
            return Outgoing{.headers = {{"encoder-version", encoderVersion}}, .body = std::move(body)};
        },
        .answer = [](ShareItemContext& context, Server_ShareConfirmation&& answer, const AnswerMeta&) {
            context.shareUUID = std::move(answer.opdata.shareUUID);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
        .noAnswer = kNoAnswerHere,
    });
}

}  // namespace ostrelcomm
