// The accounts area of the engine: creating a user with its key hierarchy
// and verifier, reading the profile, a peer's sharing profile and the login
// history, changing the password by re-wrapping the user's keys, and deleting
// the profile. The two changes begin with a login with the typed password and
// end with a logout.

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "auth/AuthContext.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthParms.h"
#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/AlgorithmService.h"
#include "crypto/curve25519/PrivateKey.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"
#include "srp/SaltedVerificationKey.h"
#include "user/PeerShareData.h"
#include "user/Server_UserHandled.h"
#include "user/Server_UserModification.h"
#include "user/Server_UserProfile.h"
#include "user/Server_UsersSessions.h"
#include "user/UserCreationContext.h"
#include "user/UserDeleteContext.h"
#include "user/UserGetShareDataContext.h"
#include "user/UserModificationContext.h"
#include "user/UserNotifications.h"
#include "user/UserSessionsContext.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kFullAccess[] = "fullaccess";

constexpr char kPrepareKeys[] = "Unable to prepare user's keys and verifiers";
constexpr char kEncodeNewUser[] = "Unable to encode new user data payload";
constexpr char kDecodeKeys[] = "Unable to decode user's keys!";
constexpr char kEncodeKeys[] = "Unable to encode new user's keys!";
constexpr char kEncodeStore[] = "Unable to encode new user's data payload";
constexpr char kRenewalFailed[] = "The login with the current password did not succeed";

// Account creation goes out unsigned: the user does not exist yet.
constexpr RequestSpec kCreate{JobsSteps::user_create, JobsSteps::user_create_wait, "PUT", "/user/create/", "NEW_USER",
                              false};
constexpr RequestSpec kGetProfile{JobsSteps::user_getProfile, JobsSteps::user_getProfile_wait, "GET",
                                  "/userprofile/getprofile/", "USER_GET_PROFILE"};
constexpr RequestSpec kGetShareProfile{JobsSteps::user_getShareProfile, JobsSteps::user_getShareProfile_wait, "GET",
                                       "/untrustedpeer/getShareProfile/", "SHARE_SEARCH_UNTRUSTED_PEER"};
constexpr RequestSpec kGetSessions{JobsSteps::user_getSessions, JobsSteps::user_getSessions_wait, "GET",
                                   "/userprofile/sessions/", "USER_GET_SESSIONS"};
constexpr RequestSpec kGetKeys{JobsSteps::user_getKeys, JobsSteps::user_getKeys_wait, "GET", "/userprofile/getkeys/",
                               "USER_GET_KEYS"};
constexpr RequestSpec kStoreKeys{JobsSteps::user_storeKeys, JobsSteps::user_storeKeys_wait, "PUT",
                                 "/userprofile/storekeys/", "USER_STORE_KEYS"};
constexpr RequestSpec kDeleteProfile{JobsSteps::user_deleteProfile, JobsSteps::user_deleteProfile_wait, "DELETE",
                                     "/userprofile/delete/", "USER_DELETE_PROFILE"};
const RequestRows kAccountRows{kCreate, kGetProfile, kGetShareProfile, kGetSessions, kGetKeys, kStoreKeys, kDeleteProfile};

const SrvComm::StepRegistration kAccountSteps{
    {JobsSteps::user_create, &SrvComm::user_create},
    {JobsSteps::user_getProfile, &SrvComm::user_getProfile},
    {JobsSteps::user_getShareProfile, &SrvComm::user_getShareProfile},
    {JobsSteps::user_getSessions, &SrvComm::user_getUsersSessions},
    {JobsSteps::user_renewAuthenticationForModification, &SrvComm::user_renewAuthenticationForModify},
    {JobsSteps::user_getKeys, &SrvComm::user_getKeys},
    {JobsSteps::user_storeKeys, &SrvComm::user_storeKeys},
    {JobsSteps::user_renewAuthenticationForDelete, &SrvComm::user_renewAuthenticationForDelete},
    {JobsSteps::user_deleteProfile, &SrvComm::user_deleteProfile},
};

// The key that wraps the user's secrets, from the password as typed.
SecretBytes passwordKey(const SecretBytes& password) {
    return EncryptionKey::prepareEncryptionPassword(password.textView());
}

void queueLogout(CommJobs& queue) {
    queue.addNewJob(JobType::logout, 1, JobPriority::ImmediateRun,
                    std::make_shared<CommJobBasicContext>(JobsSteps::auth_logout, nullptr, auth::kUserLogoutNotification),
                    std::nullopt, std::nullopt);
}

}  // namespace

// --- public operations -------------------------------------------------------------------

std::string SrvComm::user_addCreation(const std::string& username, const SecretBytes& password) {
    Lock lock(mutex());
    comLog_.addEvent("Creating user \"" + username + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::userAdd, 1, JobPriority::Normal,
                             std::make_shared<UserCreationContext>(urlToUse_, username, password, srpDefaultParams()),
                             std::nullopt, std::nullopt);
}

std::string SrvComm::user_addGetProfile() {
    Lock lock(mutex());
    comLog_.addEvent("Getting profile informations for \"" + username().value_or("") + "\"", Logger::EvtType::info);
    return queue_->addNewJob(
        JobType::getProfile, 1, JobPriority::Normal,
        std::make_shared<CommJobBasicContext>(JobsSteps::user_getProfile, Http::forJob(urlToUse_),
                                              user::kUserProfileDataAvailableNotification),
        std::nullopt, std::nullopt);
}

std::string SrvComm::user_addGetShareProfile(const std::string& peerUsername) {
    Lock lock(mutex());
    comLog_.addEvent("Getting share informations for \"" + peerUsername + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::getShareProfile, 1, JobPriority::Normal,
                             std::make_shared<UserGetShareDataContext>(urlToUse_, peerUsername), std::nullopt,
                             std::nullopt);
}

std::string SrvComm::user_addGetUserSessions(std::size_t start, std::size_t end) {
    Lock lock(mutex());
    comLog_.addEvent("Getting sessions informations", Logger::EvtType::info);
    return queue_->addNewJob(JobType::getSessionsInformations, 1, JobPriority::Normal,
                             std::make_shared<UserSessionsContext>(urlToUse_, start, end), std::nullopt,
                             std::nullopt);
}

std::string SrvComm::user_modify(const std::string& username, const SecretBytes& actualPassword,
                                 const SecretBytes& newPassword) {
    Lock lock(mutex());
    comLog_.addEvent("Modifying user's data for \"" + username + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::modifyUser, 3, JobPriority::Normal,
                             std::make_shared<UserModificationContext>(urlToUse_, actualPassword, newPassword),
                             std::nullopt, std::nullopt);
}

std::string SrvComm::user_delete(const SecretBytes& actualPassword) {
    Lock lock(mutex());
    comLog_.addEvent("Deleting user's profile for \"" + username().value_or("") + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::deleteProfile, 2, JobPriority::Normal,
                             std::make_shared<UserDeleteContext>(JobsSteps::user_renewAuthenticationForDelete,
                                                                 actualPassword, urlToUse_,
                                                                 user::kUserProfileDeletedNotification),
                             std::nullopt, std::nullopt);
}

// --- creation and queries -----------------------------------------------------------------

void SrvComm::user_create() {
    requestStep<UserCreationContext, Server_UserHandled>(*this, kCreate, {
        .before = nullptr,
        .request = [this](UserCreationContext& context, const Session::Signing*) {
            try {
                EncryptionKey umk(CipherAlgorithm::aes256, 32);
                const SecretBytes privateKey = AlgorithmService::GetRandomPrivateKey();
                // The private key travels in a key object of its own, behind a random IV.
                EncryptionKey carrier(CipherAlgorithm::aes256, 32);
                carrier.key.key = privateKey;
                context.newData.privshkey = carrier.encryptKeyText(passwordKey(context.password));
                context.newData.pubshkey = AlgorithmService::GetPublicKey(privateKey);
                context.newData.umk = umk.encryptKeyText(passwordKey(context.password));
                auto verifier = SRP::createSaltedVerificationKey(context.username, context.password.textView(),
                                                                 std::nullopt, context.authParms.group,
                                                                 context.authParms.digestAlgo);
                context.newData.verifiers[kFullAccess] =
                    UserVerifier{std::move(verifier.salt), std::move(verifier.verificationKey)};
            } catch (const std::exception&) {
                throw StepFailure(kPrepareKeys);
            }
            Bytes body;
            try {
                body = context.getJSON();
            } catch (const std::exception&) {
                throw StepFailure(kEncodeNewUser);
            }
            // The answer check compares "x-sb-username" with the engine's user
            // name: the new user's until the answer is in.
            setUsername(context.username);
            return Outgoing{.headers = {{"username", context.username}}, .body = std::move(body)};
        },
        .answer = [](UserCreationContext& context, Server_UserHandled&& answer, const AnswerMeta&) {
            context.uuid = answer.userData.userUUID;
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = [this](UserCreationContext& context, bool usable) {
            // The borrowed name goes whatever the checks found, unless the
            // checks ended this job and the engine has already started the
            // next one, which may have set a name of its own.
            const std::optional<std::string> jobID = context.getJobID();
            if (usable || !runningJob_ || runningJob_ == jobID) setUsername(std::nullopt);
        },
    });
}

void SrvComm::user_getProfile() {
    requestStep<CommJobBasicContext, Server_UserProfile>(*this, kGetProfile, {
        .before = nullptr,
        .request = [](CommJobBasicContext&, const Session::Signing*) { return Outgoing{}; },
        .answer = [](CommJobBasicContext& context, Server_UserProfile&& answer, const AnswerMeta&) {
            context.notificationData = std::move(answer.profile);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::user_getShareProfile() {
    requestStep<UserGetShareDataContext, PeerShareData>(*this, kGetShareProfile, {
        .before = nullptr,
        .request = [](UserGetShareDataContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"peer-username", context.peerUsername}}};
        },
        .answer = [](UserGetShareDataContext& context, PeerShareData&& answer, const AnswerMeta&) {
            // An empty identifier: the server knows no such user.
            if (answer.uuid.empty()) {
                context.shareData.reset();
            } else {
                context.shareData = std::move(answer);
            }
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::user_getUsersSessions() {
    requestStep<UserSessionsContext, Server_UsersSessions>(*this, kGetSessions, {
        .before = nullptr,
        .request = [](UserSessionsContext& context, const Session::Signing*) {
            return Outgoing{.headers = {{"start", std::to_string(context.start)}, {"end", std::to_string(context.end)}}};
        },
        .answer = [](UserSessionsContext& context, Server_UsersSessions&& answer, const AnswerMeta&) {
            context.notificationData = std::move(answer.sessions);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

// --- password change and deletion ---------------------------------------------------------

void SrvComm::renewAuthenticationForAccountChange(const std::shared_ptr<CommJobsContext>& context,
                                                  const SecretBytes& actualPassword, JobsSteps next,
                                                  std::function<void()> renewalFailed) {
    auto loan = std::make_shared<Session::Loan>(session_.lendPassword(actualPassword));
    const std::string loginID =
        queue_->addNewJob(JobType::authenticate, 2, JobPriority::ImmediateRun,
                          std::make_shared<AuthContext>(urlToUse_, SRPAuthMode::renew), std::nullopt, std::nullopt);

    // A refused password must not stay in the engine: every later renewal
    // would present it and fail. The failed login has also dropped the
    // session key and replaced the session identifier, so the session that
    // was working before comes back too, unless someone has handed the
    // engine a session meanwhile.
    if (auto center = queue_->notifications()) {
        auto token = std::make_shared<std::optional<NotificationCenter::Token>>();
        std::weak_ptr<NotificationCenter> weakCenter = center;
        std::weak_ptr<SrvComm> weakEngine = weak_from_this();
        *token = center->addObserver(kJobChangedNotification, [token, weakCenter, weakEngine, loginID, loan,
                                                               renewalFailed](const Notification& notification) {
            const auto* id = userInfoValue<std::string>(notification.userInfo, "id");
            if (id == nullptr || *id != loginID) return;
            const auto* item = userInfoValue<CommJobsItem>(notification.userInfo, "data");
            if (item != nullptr && !isFinished(item->status)) return;
            if (auto c = weakCenter.lock(); c && *token) c->removeObserver(**token);
            auto engine = weakEngine.lock();
            if (!engine || (item != nullptr && item->status == JobStatus::completed)) return;
            engine->session_.giveBack(*loan);
            if (renewalFailed) renewalFailed();
        });
    }
    setNextStep(next, JobStatus::deferred, false, context, std::nullopt);
}

void SrvComm::user_renewAuthenticationForModify() {
    localStep<UserModificationContext>(*this, JobsSteps::user_renewAuthenticationForModification,
                                       [this](const std::shared_ptr<UserModificationContext>& context) {
        std::weak_ptr<UserModificationContext> weak = context;
        renewAuthenticationForAccountChange(context, context->actualPassword, JobsSteps::user_getKeys, [weak] {
            if (auto c = weak.lock()) c->renewalFailed = true;
        });
        return Next::handled();
    });
}

void SrvComm::user_renewAuthenticationForDelete() {
    localStep<UserDeleteContext>(*this, JobsSteps::user_renewAuthenticationForDelete, [this](const std::shared_ptr<UserDeleteContext>& context) {
        std::weak_ptr<UserDeleteContext> weak = context;
        renewAuthenticationForAccountChange(context, context->actualPassword, JobsSteps::user_deleteProfile, [weak] {
            if (auto c = weak.lock()) c->renewalFailed = true;
        });
        return Next::handled();
    });
}

void SrvComm::user_getKeys() {
    requestStep<UserModificationContext, Server_UserModification>(*this, kGetKeys, {
        .before = [](UserModificationContext& context) -> std::optional<Next> {
            if (context.renewalFailed) return Next::fail(kRenewalFailed);
            return std::nullopt;
        },
        .request = [](UserModificationContext&, const Session::Signing*) { return Outgoing{}; },
        .answer = [](UserModificationContext& context, Server_UserModification&& answer, const AnswerMeta&) {
            std::optional<EncryptionKey> umk;
            try {
                umk = EncryptionKey::unwrapAes256(answer.profile.umk, passwordKey(context.actualPassword));
            } catch (const std::exception&) {
                return Next::fail(kDecodeKeys);
            }
            // Without its private key the account could never share again:
            // nothing is stored rather than an empty key.
            PrivateKey privateKey(answer.profile.privshkey, passwordKey(context.actualPassword));
            if (!privateKey.KeyValue()) return Next::fail(kDecodeKeys);
            context.UMK = std::move(umk);
            context.userPrivateKey = std::move(privateKey);
            return Next::go(JobsSteps::user_storeKeys);
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::user_storeKeys() {
    requestStep<UserModificationContext, Server_UserHandled>(*this, kStoreKeys, {
        .before = [](UserModificationContext& context) -> std::optional<Next> {
            if (!context.UMK || !context.userPrivateKey || !context.userPrivateKey->KeyValue())
                return Next::fail(kDecodeKeys);
            return std::nullopt;
        },
        .request = [this](UserModificationContext& context, const Session::Signing* session) {
            try {
                context.newData.umk = context.UMK->encryptKeyText(passwordKey(context.newPassword));
                EncryptionKey carrier(CipherAlgorithm::aes256, 32);
                carrier.key.key = *context.userPrivateKey->KeyValue();
                context.newData.privshkey = carrier.encryptKeyText(passwordKey(context.newPassword));
            } catch (const std::exception&) {
                throw StepFailure(kEncodeKeys);
            }
            // A new verifier only with a full session; otherwise the server
            // keeps the one it has.
            if (authStatus() == UserAuthStatus::authFullAccess) {
                try {
                    context.authParms = srpDefaultParams();
                    auto verifier = SRP::createSaltedVerificationKey(
                        session->username, context.newPassword.textView(), std::nullopt,
                        srpDefaultParams().group, srpDefaultParams().digestAlgo);
                    context.newData.verifiers[kFullAccess] =
                        UserVerifier{std::move(verifier.salt), std::move(verifier.verificationKey)};
                } catch (const std::exception&) {
                    throw StepFailure(kEncodeKeys);
                }
            }
            try {
                return Outgoing{.body = context.getJSON()};
            } catch (const std::exception&) {
                throw StepFailure(kEncodeStore);
            }
        },
        .answer = [this](UserModificationContext& context, Server_UserHandled&& answer, const AnswerMeta&) {
            context.uuid = answer.userData.userUUID;
            // Taken as soon as this job has ended, before anything waiting.
            queueLogout(*queue_);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::user_deleteProfile() {
    requestStep<UserDeleteContext, Server_UserHandled>(*this, kDeleteProfile, {
        .before = [](UserDeleteContext& context) -> std::optional<Next> {
            if (context.renewalFailed) return Next::fail(kRenewalFailed);
            return std::nullopt;
        },
        .request = [](UserDeleteContext&, const Session::Signing*) { return Outgoing{}; },
        .answer = [this](UserDeleteContext& context, Server_UserHandled&& answer, const AnswerMeta&) {
            context.notificationData = answer.userData.userUUID;
            queueLogout(*queue_);
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

}  // namespace ostrelcomm
