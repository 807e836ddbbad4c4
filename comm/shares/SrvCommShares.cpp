// The sharing area of the engine: trusted peers (adding one from a trust
// code, listing them, removing one).

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"
#include "shares/CreateTrustContext.h"
#include "shares/ListTrustsContext.h"
#include "shares/RemoveTrustContext.h"
#include "shares/Server_AddTrustConfirmation.h"
#include "shares/Server_RemoveTrustConfirmation.h"
#include "shares/Server_TrustsList.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kEncodeTrust[] = "Unable to encode new trust data payload: ";
constexpr char kConvertTrust[] = "Unable to comvert payload to Data";

constexpr RequestSpec kAddTrust{JobsSteps::share_addTrustedUser, JobsSteps::share_addTrustedUser_wait, "PUT",
                                "/trustedpeers/add/", "SHARE_CREATE_TRUST"};
constexpr RequestSpec kListTrusts{JobsSteps::share_listTrusts, JobsSteps::share_listTrusts_wait, "GET",
                                  "/trustedpeers/list/", "SHARE_LIST_TRUSTS"};
constexpr RequestSpec kRemoveTrust{JobsSteps::share_removeTrust, JobsSteps::share_removeTrust_wait, "DELETE",
                                   "/trustedpeers/remove/", "SHARE_REMOVE_TRUST"};
const RequestRows kTrustRows{kAddTrust, kListTrusts, kRemoveTrust};

const SrvComm::StepRegistration kTrustSteps{
    {JobsSteps::share_addTrustedUser, &SrvComm::share_addTrustedUserQuery},
    {JobsSteps::share_listTrusts, &SrvComm::share_listTrustsQuery},
    {JobsSteps::share_removeTrust, &SrvComm::share_removeTrustedUserQuery},
};

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

// --- public operations -------------------------------------------------------------------

std::string SrvComm::shares_addTrustedUser(const std::string& uuid, const std::string& username,
                                           const Bytes& pubSHKey) {
    Lock lock(mutex());
    auto context = std::make_shared<CreateTrustContext>(urlToUse_, uuid, username, pubSHKey);
    comLog_.addEvent("Creating trust for \"" + username + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::addTrustedUser, 1, JobPriority::Normal, context, std::nullopt, std::nullopt);
}

std::string SrvComm::shares_getTrustedUsers() {
    Lock lock(mutex());
    comLog_.addEvent("Getting list of trusts for \"" + username().value_or("") + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::listTrusts, 1, JobPriority::Normal,
                             std::make_shared<ListTrustsContext>(urlToUse_), std::nullopt, std::nullopt);
}

std::string SrvComm::shares_deleteTrust(const std::string& trustedUserUUID) {
    Lock lock(mutex());
    comLog_.addEvent("Deleting trust ID \"" + trustedUserUUID + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::removeTrust, 2, JobPriority::Normal,
                             std::make_shared<RemoveTrustContext>(urlToUse_, trustedUserUUID), std::nullopt,
                             std::nullopt);
}

// --- steps -------------------------------------------------------------------------------

void SrvComm::share_addTrustedUserQuery() {
    requestStep<CreateTrustContext, Server_AddTrustConfirmation>(*this, kAddTrust, {
        .before = nullptr,
        .request = [this](CreateTrustContext& context, const Session::Signing*) {
            std::string text;
            try {
                text = context.newTrustData.encode();
            } catch (const std::exception& error) {
                throw StepFailure(kEncodeTrust + std::string(error.what()));
            }
            // The body goes out as ASCII, as the code's readers take it.
            if (text.empty() || !isAscii(text)) throw StepFailure(kConvertTrust);
            return Outgoing{.headers = {{"encoder-version", encoderVersion}}, .body = toBytes(text)};
        },
        .answer = [](CreateTrustContext& context, Server_AddTrustConfirmation&& answer, const AnswerMeta&) {
            context.uuid = std::move(answer.confirmation.trustUUID);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::share_listTrustsQuery() {
    requestStep<ListTrustsContext, Server_TrustsList>(*this, kListTrusts, {
        .before = nullptr,
        .request = [](ListTrustsContext&, const Session::Signing*) { return Outgoing{}; },
        .answer = [](ListTrustsContext& context, Server_TrustsList&& answer, const AnswerMeta&) {
            context.trusts = std::move(answer.trusts);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::share_removeTrustedUserQuery() {
    requestStep<RemoveTrustContext, Server_RemoveTrustConfirmation>(*this, kRemoveTrust, {
        .before = nullptr,
        .request = [this](RemoveTrustContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"encoder-version", encoderVersion},
                                        {"trusted-user-uuid", context.uuid.value_or("")}}};
        },
        // The answer names the trust; the job reports the peer it was asked for.
        .answer = [](RemoveTrustContext&, Server_RemoveTrustConfirmation&&, const AnswerMeta&) {
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

}  // namespace ostrelcomm
