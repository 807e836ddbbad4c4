// The login area of the engine: queuing a login, handing a session over,
// logging out, and the login job's steps (GET and POST "/authenticate/",
// both unsigned).

#include <exception>
#include <memory>
#include <string>

#include "auth/AuthContext.h"
#include "auth/Client_GetChallenge.h"
#include "auth/Server_P1_Answer.h"
#include "auth/Server_P2_Answer.h"
#include "crypto/Random.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/SrvComm.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kAuthPath[] = "/authenticate/";
constexpr char kJson[] = "application/json";
constexpr char kPreparedSession[] = "preparedSession";
constexpr char kLogoutNotification[] = "userLogout";

constexpr char kNoPreparedSession[] = "Unable to initialize prepared SRP session";
constexpr char kNoCredentials[] = "No user name or password to log in with";
constexpr char kNoFirstAnswer[] = "No valid answer on decoded structure!";
constexpr char kUnhandledParms[] = "Unhandled authentication parameters";
constexpr char kIncompleteChallenge[] = "The server's challenge is incomplete";
constexpr char kNoClient[] = "Unable to start the SRP client";
constexpr char kProcessChallenge[] = "Error client.processChallenge";
constexpr char kEncodeChallenge[] = "Unable to encode challenge payload";
constexpr char kNoSecondAnswer[] = "No valid answer on decoded structure.";
constexpr char kServerProof[] = "The server's key proof does not match: the server is not the one that holds the password";

const SrvComm::StepRegistration kLoginSteps{
    {JobsSteps::auth_init, &SrvComm::auth_init},
    {JobsSteps::auth_getchallenge, &SrvComm::auth_getchallenge},
    {JobsSteps::auth_logout, &SrvComm::auth_doLogout},
};

}  // namespace

// --- public operations ---------------------------------------------------------------

std::string SrvComm::auth_add(const std::string& username, const SecretBytes& password, SRPAuthMode mode) {
    Lock lock(mutex());
    {
        std::lock_guard session(sessionMutex_);
        username_ = username;
        password_ = password;
    }
    return queue_->addNewJob(JobType::authenticate, 2, JobPriority::Normal,
                             std::make_shared<AuthContext>(urlToUse_, mode), std::nullopt, std::nullopt);
}

void SrvComm::auth_setup(const std::string& username, const SecretBytes& password, const std::string& sessionID,
                         const SecretBytes& sessionKey) {
    // Only the session mutex: the caller may hold the other engine's lock.
    std::lock_guard session(sessionMutex_);
    username_ = username;
    password_ = password;
    srpSessionID_ = sessionID;
    srpSessionKey_ = sessionKey;
    authStatus_ = UserAuthStatus::authFullAccess;
}

std::optional<SrvComm::HandOverSession> SrvComm::sessionForHandOver() const {
    std::lock_guard session(sessionMutex_);
    if (!username_ || !password_ || !srpSessionID_ || !srpSessionKey_) return std::nullopt;
    return HandOverSession{*username_, *password_, *srpSessionID_, *srpSessionKey_};
}

std::string SrvComm::auth_logout() {
    Lock lock(mutex());
    return queue_->addNewJob(JobType::logout, 1, JobPriority::Normal,
                             std::make_shared<CommJobBasicContext>(JobsSteps::auth_logout, nullptr, kLogoutNotification),
                             std::nullopt, std::nullopt);
}

// --- steps ------------------------------------------------------------------------------

void SrvComm::auth_init() {
    Lock lock(mutex());
    auto context = runningJobContext<AuthContext>();
    if (!context || !context->getJobID()) return;
    queue_->incrementJobStep(*context->getJobID());

    auto fail = [&](const char* message, bool authError) {
        if (authError) setAuthStatus(UserAuthStatus::authError);
        setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string(message));
    };

    if (context->authMode == SRPAuthMode::prepare) {
        // A local session: nothing is sent, and authStatus stays as it is.
        Bytes key;
        try {
            key = randomBytes(32);
        } catch (const std::exception&) {
            fail(kNoPreparedSession, false);
            return;
        }
        {
            std::lock_guard session(sessionMutex_);
            srpSessionID_ = kPreparedSession;
            srpSessionKey_ = SecretBytes(std::move(key));
        }
        setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        return;
    }

    std::map<std::string, std::string> headers;
    bool haveCredentials = false;
    {
        // One critical section, so that an auth_setup of the other engine
        // cannot interleave with the session's reset.
        std::lock_guard session(sessionMutex_);
        if (srpSessionID_ == kPreparedSession) {
            srpSessionID_.reset();
            context->authMode = SRPAuthMode::new_;
        }
        haveCredentials = username_.has_value() && password_.has_value();
        if (haveCredentials) {
            headers["username"] = *username_;
            srpSessionKey_.reset();
            if (context->authMode == SRPAuthMode::renew) {
                if (srpSessionID_) headers["sessionid"] = *srpSessionID_;
                authStatus_ = UserAuthStatus::renewAuthentication;
            } else {
                authStatus_ = UserAuthStatus::inProgress;
                srpSessionID_.reset();
            }
        }
    }
    if (!haveCredentials) {
        fail(kNoCredentials, true);
        return;
    }

    context->httpSession->query<Server_P1_Answer>(
        kAuthPath, "GET", headers, std::nullopt, kJson,
        lockedHandler([this, context](std::optional<Server_P1_Answer> answer, HttpHeaders answerHeaders,
                                      std::optional<HTTPError> error) {
            context->httpError = error;
            if (!afterCommChecks(error, JobsSteps::idle, context, "AUTH_INIT", answerHeaders, false)) return;
            auto fail = [&](const char* message) {
                setAuthStatus(UserAuthStatus::authError);
                setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string(message));
            };
            if (!answer) {
                fail(kNoFirstAnswer);
                return;
            }
            {
                // The exchange cleared the key when it began; a key now means
                // the other engine handed over a whole session meanwhile,
                // whose identifier must stay beside its key.
                std::lock_guard session(sessionMutex_);
                if (!srpSessionKey_) srpSessionID_ = answer->answer.sessionID;
            }
            context->srpUserSalt = std::move(answer->answer.salt);
            context->srpServerPublicKey = std::move(answer->answer.publickey);
            try {
                context->masterAuthParms = SRPAuthParms::decode(answer->answer.masterAuthParms);
            } catch (const std::exception&) {
                fail(kUnhandledParms);
                return;
            }
            setNextStep(JobsSteps::auth_getchallenge, JobStatus::inProgress, false, context);
        }));
    setNextStep(JobsSteps::auth_init_wait, JobStatus::inProgress, false, context);
}

void SrvComm::auth_getchallenge() {
    Lock lock(mutex());
    auto context = runningJobContext<AuthContext>();
    if (!context || !context->getJobID()) return;
    queue_->incrementJobStep(*context->getJobID());

    auto fail = [&](const char* message) {
        setAuthStatus(UserAuthStatus::authError);
        setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string(message));
    };

    std::optional<std::string> user;
    std::optional<SecretBytes> password;
    std::optional<std::string> sessionID;
    {
        std::lock_guard session(sessionMutex_);
        user = username_;
        password = password_;
        sessionID = srpSessionID_;
    }
    if (!user || !password) {
        fail(kNoCredentials);
        return;
    }
    if (!sessionID || !context->masterAuthParms || !context->srpUserSalt || !context->srpServerPublicKey) {
        fail(kIncompleteChallenge);
        return;
    }

    try {
        context->srpClient.emplace(SRP::Client::withPassword(*user, password->textView(),
                                                             context->masterAuthParms->group,
                                                             context->masterAuthParms->digestAlgo));
    } catch (const std::exception&) {
        fail(kNoClient);
        return;
    }
    context->srpClientPublicKey = context->srpClient->startAuthentication().publicKey;
    try {
        context->srpClientKeyProof =
            context->srpClient->processChallenge(*context->srpUserSalt, *context->srpServerPublicKey);
    } catch (const std::exception&) {
        fail(kProcessChallenge);
        return;
    }

    Bytes body;
    try {
        body = Client_GetChallenge{context->srpClient->publicKey(), context->srpClientKeyProof}.encode();
    } catch (const std::exception&) {
        fail(kEncodeChallenge);
        return;
    }

    const std::map<std::string, std::string> headers{{"username", *user}, {"sessionid", *sessionID}};
    context->httpSession->queryWithPayload<Server_P2_Answer>(
        kAuthPath, "POST", headers, std::string(kJson), std::move(body), std::nullopt, kJson,
        lockedHandler([this, context, user = *user, password = *password, sessionID = *sessionID](
                          std::optional<Server_P2_Answer> answer, HttpHeaders answerHeaders,
                          std::optional<HTTPError> error, Bytes) {
            context->httpError = error;
            if (!afterCommChecks(error, JobsSteps::idle, context, "AUTH_GETCHALLENGE", answerHeaders, false))
                return;
            auto fail = [&](const char* message) {
                setAuthStatus(UserAuthStatus::authError);
                setNextStep(JobsSteps::idle, JobStatus::error, false, context, std::string(message));
            };
            if (!answer) {
                fail(kNoSecondAnswer);
                return;
            }
            std::optional<SecretBytes> key;
            if (context->srpClient) {
                try {
                    context->srpClient->verifySession(answer->answer.serverKeyProof);
                    key = context->srpClient->sessionKey();
                } catch (const std::exception&) {
                }
            }
            // Only a verified server proof gives the engine a key; the
            // session identifier stays the one of the first answer.
            if (!key) {
                fail(kServerProof);
                return;
            }
            {
                // The whole session this exchange made, at once: the other
                // engine may have handed this one a session meanwhile, and
                // its identifier must not stay beside this exchange's key.
                std::lock_guard session(sessionMutex_);
                username_ = user;
                password_ = password;
                srpSessionID_ = sessionID;
                srpSessionKey_ = std::move(key);
                authStatus_ = UserAuthStatus::authFullAccess;
            }
            setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
        }));
    setNextStep(JobsSteps::auth_getchallenge_wait, JobStatus::inProgress, false, context);
}

void SrvComm::auth_doLogout() {
    Lock lock(mutex());
    auto context = runningJobContext<CommJobBasicContext>();
    if (!context || !context->getJobID()) return;
    queue_->incrementJobStep(*context->getJobID());
    {
        std::lock_guard session(sessionMutex_);
        username_.reset();
        password_.reset();
        srpSessionID_.reset();
        srpSessionKey_.reset();
        authStatus_ = UserAuthStatus::notAuthenticated;
    }
    setNextStep(JobsSteps::idle, JobStatus::completed, false, context);
}

}  // namespace ostrelcomm
