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
#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/AlgorithmService.h"
#include "crypto/curve25519/PrivateKey.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
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
#include "user/UserSessionsContext.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kJson[] = "application/json";
constexpr char kFullAccess[] = "fullaccess";
constexpr char kProfileNotification[] = "userProfileDataAvailable";
constexpr char kDeleteNotification[] = "userProfileDeleted";
constexpr char kLogoutNotification[] = "userLogout";

constexpr char kNoAnswer[] = "No valid answer on decoded structure!";
constexpr char kPrepareKeys[] = "Unable to prepare user's keys and verifiers";
constexpr char kEncodeNewUser[] = "Unable to encode new user data payload";
constexpr char kDecodeKeys[] = "Unable to decode user's keys!";
constexpr char kEncodeKeys[] = "Unable to encode new user's keys!";
constexpr char kEncodeStore[] = "Unable to encode new user's data payload";
constexpr char kRenewalFailed[] = "The login with the current password did not succeed";
constexpr char kNoHttpSession[] = "The job has no HTTPS session";

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

// The running job's context as a step's own, its step counted; null when the
// engine runs no job of that kind. A context without a session ends its job.
template <class Context>
std::shared_ptr<Context> beginStep(SrvComm& engine) {
    auto context = engine.runningJobContext<Context>();
    if (!context || !context->getJobID()) return nullptr;
    engine.queue()->incrementJobStep(*context->getJobID());
    if (!context->httpSession) {
        engine.setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string(kNoHttpSession));
        return nullptr;
    }
    return context;
}

void fail(SrvComm& engine, const std::shared_ptr<CommJobsContext>& context, const char* message) {
    engine.setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string(message));
}

void queueLogout(CommJobs& queue) {
    queue.addNewJob(JobType::logout, 1, JobPriority::ImmediateRun,
                    std::make_shared<CommJobBasicContext>(JobsSteps::auth_logout, nullptr, kLogoutNotification),
                    std::nullopt, std::nullopt);
}

}  // namespace

// --- public operations -------------------------------------------------------------------

std::string SrvComm::user_addCreation(const std::string& username, const SecretBytes& password) {
    Lock lock(mutex());
    comLog_.addEvent("Creating user \"" + username + "\"", Logger::EvtType::info);
    return queue_->addNewJob(JobType::userAdd, 1, JobPriority::Normal,
                             std::make_shared<UserCreationContext>(urlToUse_, username, password, srpDefaultParams),
                             std::nullopt, std::nullopt);
}

std::string SrvComm::user_addGetProfile() {
    Lock lock(mutex());
    comLog_.addEvent("Getting profile informations for \"" + username().value_or("") + "\"", Logger::EvtType::info);
    return queue_->addNewJob(
        JobType::getProfile, 1, JobPriority::Normal,
        std::make_shared<CommJobBasicContext>(JobsSteps::user_getProfile, Http::forJob(urlToUse_), kProfileNotification),
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
                                                                 actualPassword, urlToUse_, kDeleteNotification),
                             std::nullopt, std::nullopt);
}

// --- creation and queries -----------------------------------------------------------------

void SrvComm::user_create() {
    Lock lock(mutex());
    auto context = beginStep<UserCreationContext>(*this);
    if (!context) return;

    try {
        EncryptionKey umk(CipherAlgorithm::aes256, 32);
        const SecretBytes privateKey = AlgorithmService::GetRandomPrivateKey();
        // The private key travels in a key object of its own, behind a random IV.
        EncryptionKey carrier(CipherAlgorithm::aes256, 32);
        carrier.key.key = privateKey;
        context->newData.privshkey = carrier.encryptKeyText(passwordKey(context->password));
        context->newData.pubshkey = AlgorithmService::GetPublicKey(privateKey);
        context->newData.umk = umk.encryptKeyText(passwordKey(context->password));
        auto verifier = SRP::createSaltedVerificationKey(context->username, context->password.textView(),
                                                         std::nullopt, context->authParms.group,
                                                         context->authParms.digestAlgo);
        context->newData.verifiers[kFullAccess] =
            UserVerifier{std::move(verifier.salt), std::move(verifier.verificationKey)};
    } catch (const std::exception&) {
        fail(*this, context, kPrepareKeys);
        return;
    }
    Bytes body;
    try {
        body = context->getJSON();
    } catch (const std::exception&) {
        fail(*this, context, kEncodeNewUser);
        return;
    }

    // The answer check compares "x-sb-username" with the engine's user name:
    // the new user's until the answer is in.
    setUsername(context->username);
    context->httpSession->queryWithPayload<Server_UserHandled>(
        "/user/create/", "PUT", {{"username", context->username}}, std::string(kJson), std::move(body), std::nullopt,
        kJson,
        lockedHandler([this, context](std::optional<Server_UserHandled> answer, HttpHeaders headers,
                                      std::optional<HTTPError> error, Bytes) {
            context->httpError = error;
            // No renewal: the request carries no session, so an expired one
            // cannot be renewed for it, and a deferred creation would wait
            // for ever.
            const bool usable = afterCommChecks(error, JobsSteps::idle, context, "NEW_USER", headers, false);
            // The borrowed name goes whatever the checks found, unless the
            // checks ended this job and the engine has already started the
            // next one, which may have set a name of its own.
            const std::optional<std::string> jobID = context->getJobID();
            if (usable || !runningJob_ || runningJob_ == jobID) setUsername(std::nullopt);
            if (!usable) return;
            if (!answer) {
                fail(*this, context, kNoAnswer);
                return;
            }
            context->uuid = answer->userData.userUUID;
            setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        }));
    setNextStep(JobsSteps::user_create_wait, JobStatus::inProgress, false, context);
}

void SrvComm::user_getProfile() {
    Lock lock(mutex());
    auto context = beginStep<CommJobBasicContext>(*this);
    if (!context) return;
    auto session = signingSession(context);
    if (!session) return;
    context->httpSession->query<Server_UserProfile>(
        "/userprofile/getprofile/", "GET", session->headers(), session->sessionKey, kJson,
        lockedHandler([this, context](std::optional<Server_UserProfile> answer, HttpHeaders headers,
                                      std::optional<HTTPError> error) {
            context->httpError = error;
            if (!afterCommChecks(error, JobsSteps::user_getProfile, context, "USER_GET_PROFILE", headers, true))
                return;
            if (!answer) {
                fail(*this, context, kNoAnswer);
                return;
            }
            context->notificationData = std::move(answer->profile);
            setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        }));
    setNextStep(JobsSteps::user_getProfile_wait, JobStatus::inProgress, false, context);
}

void SrvComm::user_getShareProfile() {
    Lock lock(mutex());
    auto context = beginStep<UserGetShareDataContext>(*this);
    if (!context) return;
    auto session = signingSession(context);
    if (!session) return;
    auto headers = session->headers();
    headers["peer-username"] = context->peerUsername;
    context->httpSession->query<PeerShareData>(
        "/untrustedpeer/getShareProfile/", "GET", headers, session->sessionKey, kJson,
        lockedHandler([this, context](std::optional<PeerShareData> answer, HttpHeaders answerHeaders,
                                      std::optional<HTTPError> error) {
            context->httpError = error;
            if (!afterCommChecks(error, JobsSteps::user_getShareProfile, context, "SHARE_SEARCH_UNTRUSTED_PEER",
                                 answerHeaders, true))
                return;
            if (!answer) {
                fail(*this, context, kNoAnswer);
                return;
            }
            // An empty identifier: the server knows no such user.
            if (answer->uuid.empty()) {
                context->shareData.reset();
            } else {
                context->shareData = std::move(*answer);
            }
            setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        }));
    setNextStep(JobsSteps::user_getShareProfile_wait, JobStatus::inProgress, false, context);
}

void SrvComm::user_getUsersSessions() {
    Lock lock(mutex());
    auto context = beginStep<UserSessionsContext>(*this);
    if (!context) return;
    auto session = signingSession(context);
    if (!session) return;
    auto headers = session->headers();
    headers["start"] = std::to_string(context->start);
    headers["end"] = std::to_string(context->end);
    context->httpSession->query<Server_UsersSessions>(
        "/userprofile/sessions/", "GET", headers, session->sessionKey, kJson,
        lockedHandler([this, context](std::optional<Server_UsersSessions> answer, HttpHeaders answerHeaders,
                                      std::optional<HTTPError> error) {
            context->httpError = error;
            if (!afterCommChecks(error, JobsSteps::user_getSessions, context, "USER_GET_SESSIONS", answerHeaders,
                                 true))
                return;
            if (!answer) {
                fail(*this, context, kNoAnswer);
                return;
            }
            context->notificationData = std::move(answer->sessions);
            setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        }));
    setNextStep(JobsSteps::user_getSessions_wait, JobStatus::inProgress, false, context);
}

// --- password change and deletion ---------------------------------------------------------

void SrvComm::renewAuthenticationForAccountChange(const std::shared_ptr<CommJobsContext>& context,
                                                  const SecretBytes& actualPassword, JobsSteps next,
                                                  std::function<void()> renewalFailed) {
    queue_->incrementJobStep(*context->getJobID());

    struct Previous {
        std::optional<std::string> username;
        std::optional<SecretBytes> password;
        std::optional<std::string> sessionID;
        std::optional<SecretBytes> sessionKey;
        UserAuthStatus authStatus;
    };
    auto previous = std::make_shared<Previous>();
    {
        std::lock_guard session(sessionMutex_);
        *previous = Previous{username_, password_, srpSessionID_, srpSessionKey_, authStatus_};
        password_ = actualPassword;
    }
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
        *token = center->addObserver(
            kJobChangedNotification, [token, weakCenter, weakEngine, loginID, previous, renewalFailed,
                                      typed = actualPassword](const Notification& notification) {
                const auto* id = userInfoValue<std::string>(notification.userInfo, "id");
                if (id == nullptr || *id != loginID) return;
                const auto* item = userInfoValue<CommJobsItem>(notification.userInfo, "data");
                if (item != nullptr && !isFinished(item->status)) return;
                if (auto c = weakCenter.lock(); c && *token) c->removeObserver(**token);
                auto engine = weakEngine.lock();
                if (!engine || (item != nullptr && item->status == JobStatus::completed)) return;
                {
                    std::lock_guard session(engine->sessionMutex_);
                    if (engine->password_ && *engine->password_ == typed) engine->password_ = previous->password;
                    if (!engine->srpSessionKey_ && engine->username_ == previous->username) {
                        engine->srpSessionID_ = previous->sessionID;
                        engine->srpSessionKey_ = previous->sessionKey;
                        engine->authStatus_ = previous->authStatus;
                    }
                }
                if (renewalFailed) renewalFailed();
            });
    }
    setNextStep(next, JobStatus::deferred, false, context, std::nullopt);
}

void SrvComm::user_renewAuthenticationForModify() {
    Lock lock(mutex());
    auto context = runningJobContext<UserModificationContext>();
    if (!context || !context->getJobID()) return;
    std::weak_ptr<UserModificationContext> weak = context;
    renewAuthenticationForAccountChange(context, context->actualPassword, JobsSteps::user_getKeys, [weak] {
        if (auto c = weak.lock()) c->renewalFailed = true;
    });
}

void SrvComm::user_renewAuthenticationForDelete() {
    Lock lock(mutex());
    auto context = runningJobContext<UserDeleteContext>();
    if (!context || !context->getJobID()) return;
    std::weak_ptr<UserDeleteContext> weak = context;
    renewAuthenticationForAccountChange(context, context->actualPassword, JobsSteps::user_deleteProfile, [weak] {
        if (auto c = weak.lock()) c->renewalFailed = true;
    });
}

void SrvComm::user_getKeys() {
    Lock lock(mutex());
    auto context = beginStep<UserModificationContext>(*this);
    if (!context) return;
    if (context->renewalFailed) {
        fail(*this, context, kRenewalFailed);
        return;
    }
    auto session = signingSession(context);
    if (!session) return;
    context->httpSession->query<Server_UserModification>(
        "/userprofile/getkeys/", "GET", session->headers(), session->sessionKey, kJson,
        lockedHandler([this, context](std::optional<Server_UserModification> answer, HttpHeaders headers,
                                      std::optional<HTTPError> error) {
            context->httpError = error;
            if (!afterCommChecks(error, JobsSteps::user_getKeys, context, "USER_GET_KEYS", headers, true)) return;
            if (!answer) {
                fail(*this, context, kNoAnswer);
                return;
            }
            std::optional<EncryptionKey> umk;
            try {
                umk = EncryptionKey::decryptKey(answer->profile.umk, passwordKey(context->actualPassword),
                                                CipherAlgorithm::aes256, 32);
            } catch (const std::exception&) {
            }
            // A key of any other shape would be stored again as it came out,
            // and every item key under it would be lost.
            if (!umk || umk->key.iv.size() != 16 || umk->key.key.size() != 32) {
                fail(*this, context, kDecodeKeys);
                return;
            }
            // Without its private key the account could never share again:
            // nothing is stored rather than an empty key.
            PrivateKey privateKey(answer->profile.privshkey, passwordKey(context->actualPassword));
            if (!privateKey.KeyValue()) {
                fail(*this, context, kDecodeKeys);
                return;
            }
            context->UMK = std::move(umk);
            context->userPrivateKey = std::move(privateKey);
            setNextStep(JobsSteps::user_storeKeys, JobStatus::inProgress, false, context);
        }));
    setNextStep(JobsSteps::user_getKeys_wait, JobStatus::inProgress, false, context);
}

void SrvComm::user_storeKeys() {
    Lock lock(mutex());
    auto context = beginStep<UserModificationContext>(*this);
    if (!context) return;
    if (!context->UMK || !context->userPrivateKey || !context->userPrivateKey->KeyValue()) {
        fail(*this, context, kDecodeKeys);
        return;
    }
    auto session = signingSession(context);
    if (!session) return;

    try {
        context->newData.umk = context->UMK->encryptKeyText(passwordKey(context->newPassword));
        EncryptionKey carrier(CipherAlgorithm::aes256, 32);
        carrier.key.key = *context->userPrivateKey->KeyValue();
        context->newData.privshkey = carrier.encryptKeyText(passwordKey(context->newPassword));
    } catch (const std::exception&) {
        fail(*this, context, kEncodeKeys);
        return;
    }
    // A new verifier only with a full session; otherwise the server keeps
    // the one it has.
    if (authStatus() == UserAuthStatus::authFullAccess) {
        try {
            context->authParms = srpDefaultParams;
            auto verifier = SRP::createSaltedVerificationKey(session->username, context->newPassword.textView(),
                                                             std::nullopt, srpDefaultParams.group,
                                                             srpDefaultParams.digestAlgo);
            context->newData.verifiers[kFullAccess] =
                UserVerifier{std::move(verifier.salt), std::move(verifier.verificationKey)};
        } catch (const std::exception&) {
            fail(*this, context, kEncodeKeys);
            return;
        }
    }
    Bytes body;
    try {
        body = context->getJSON();
    } catch (const std::exception&) {
        fail(*this, context, kEncodeStore);
        return;
    }

    context->httpSession->queryWithPayload<Server_UserHandled>(
        "/userprofile/storekeys/", "PUT", session->headers(), std::string(kJson), std::move(body),
        session->sessionKey, kJson,
        lockedHandler([this, context](std::optional<Server_UserHandled> answer, HttpHeaders headers,
                                      std::optional<HTTPError> error, Bytes) {
            context->httpError = error;
            if (!afterCommChecks(error, JobsSteps::user_storeKeys, context, "USER_STORE_KEYS", headers, true))
                return;
            if (!answer) {
                fail(*this, context, kNoAnswer);
                return;
            }
            context->uuid = answer->userData.userUUID;
            // Taken as soon as this job has ended, before anything waiting.
            queueLogout(*queue_);
            setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        }));
    setNextStep(JobsSteps::user_storeKeys_wait, JobStatus::inProgress, false, context);
}

void SrvComm::user_deleteProfile() {
    Lock lock(mutex());
    auto context = beginStep<UserDeleteContext>(*this);
    if (!context) return;
    if (context->renewalFailed) {
        fail(*this, context, kRenewalFailed);
        return;
    }
    auto session = signingSession(context);
    if (!session) return;
    context->httpSession->query<Server_UserHandled>(
        "/userprofile/delete/", "DELETE", session->headers(), session->sessionKey, kJson,
        lockedHandler([this, context](std::optional<Server_UserHandled> answer, HttpHeaders headers,
                                      std::optional<HTTPError> error) {
            context->httpError = error;
            if (!afterCommChecks(error, JobsSteps::user_deleteProfile, context, "USER_DELETE_PROFILE", headers,
                                 true))
                return;
            if (!answer) {
                fail(*this, context, kNoAnswer);
                return;
            }
            context->notificationData = answer->userData.userUUID;
            queueLogout(*queue_);
            setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        }));
    setNextStep(JobsSteps::user_deleteProfile_wait, JobStatus::inProgress, false, context);
}

}  // namespace ostrelcomm
