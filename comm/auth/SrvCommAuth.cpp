// The login area of the engine: queuing a login, handing a session over,
// logging out, and the login job's steps (GET and POST "/authenticate/",
// both unsigned).

#include <exception>
#include <memory>
#include <string>

#include "auth/AuthContext.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "auth/SRPAuthParms.h"
#include "auth/Client_GetChallenge.h"
#include "auth/Server_P1_Answer.h"
#include "auth/Server_P2_Answer.h"
#include "crypto/Random.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"

namespace ostrelcomm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;


constexpr char kNoPreparedSession[] = "Unable to initialize prepared SRP session";
constexpr char kNoCredentials[] = "No user name or password to log in with";
constexpr char kUnhandledParms[] = "Unhandled authentication parameters";
constexpr char kIncompleteChallenge[] = "The server's challenge is incomplete";
constexpr char kNoClient[] = "Unable to start the SRP client";
constexpr char kProcessChallenge[] = "Error client.processChallenge";
constexpr char kEncodeChallenge[] = "Unable to encode challenge payload";
constexpr char kServerProof[] = "The server's key proof does not match: the server is not the one that holds the password";

// Both requests of the exchange go out unsigned: there is no session yet.
constexpr RequestSpec kAuthInit{JobsSteps::auth_init, JobsSteps::auth_init_wait, "GET", "/authenticate/", "AUTH_INIT",
                                false};
constexpr RequestSpec kAuthChallenge{JobsSteps::auth_getchallenge, JobsSteps::auth_getchallenge_wait, "POST",
                                     "/authenticate/", "AUTH_GETCHALLENGE", false};
const RequestRows kLoginRows{kAuthInit, kAuthChallenge};

const SrvComm::StepRegistration kLoginSteps{
    {JobsSteps::auth_init, &SrvComm::auth_init},
    {JobsSteps::auth_getchallenge, &SrvComm::auth_getchallenge},
    {JobsSteps::auth_logout, &SrvComm::auth_doLogout},
};

// A failed exchange step: the engine's login has failed too.
[[noreturn]] void loginFailure(SrvComm& engine, const char* message) {
    engine.session().markFailed();
    throw StepFailure(message);
}

}  // namespace

// --- public operations ---------------------------------------------------------------

const SRPAuthParms& SrvComm::srpDefaultParams() {
    static const SRPAuthParms params(SRP::Group::N2048(), DigestAlgorithm::sha256);
    return params;
}

std::string SrvComm::auth_add(const std::string& username, const SecretBytes& password, SRPAuthMode mode) {
    Lock lock(mutex());
    session_.setCredentials(username, password);
    return queue_->addNewJob(JobType::authenticate, 2, JobPriority::Normal,
                             std::make_shared<AuthContext>(urlToUse_, mode), std::nullopt, std::nullopt);
}

void SrvComm::auth_setup(const std::string& username, const SecretBytes& password, const std::string& sessionID,
                         const SecretBytes& sessionKey) {
    // Only the session's mutex: the caller may hold the other engine's lock.
    session_.complete({username, password, sessionID, sessionKey});
}

std::optional<SrvComm::HandOverSession> SrvComm::sessionForHandOver() const { return session_.forHandOver(); }

std::string SrvComm::auth_logout() {
    Lock lock(mutex());
    // A job's answer still being read off the lock is not delivered to a
    // user who has asked to leave.
    ++logoutsAsked_;
    return queue_->addNewJob(JobType::logout, 1, JobPriority::Normal,
                             std::make_shared<CommJobBasicContext>(JobsSteps::auth_logout, nullptr,
                                                                   auth::kUserLogoutNotification),
                             std::nullopt, std::nullopt);
}

// --- steps ------------------------------------------------------------------------------

void SrvComm::auth_init() {
    requestStep<AuthContext, Server_P1_Answer>(*this, kAuthInit, {
        .before = [this](AuthContext& context) -> std::optional<Next> {
            if (context.authMode != SRPAuthMode::prepare) return std::nullopt;
            // A local session: nothing is sent, and authStatus stays as it is.
            Bytes key;
            try {
                key = randomBytes(32);
            } catch (const std::exception&) {
                return Next::fail(kNoPreparedSession);
            }
            session_.prepareLocally(SecretBytes(std::move(key)));
            return Next::done();
        },
        .request = [this](AuthContext& context, const Session::Signing*) {
            std::optional<Session::ExchangeStart> start =
                session_.beginExchange(context.authMode == SRPAuthMode::renew);
            if (!start) loginFailure(*this, kNoCredentials);
            if (start->leftPreparedSession) context.authMode = SRPAuthMode::new_;
            return Outgoing{.headers = std::move(start->headers), .body = std::nullopt};
        },
        .answer = [this](AuthContext& context, Server_P1_Answer&& answer, const AnswerMeta&) {
            session_.acceptChallengeIdentifier(answer.answer.sessionID);
            context.srpUserSalt = std::move(answer.answer.salt);
            context.srpServerPublicKey = std::move(answer.answer.publickey);
            try {
                context.masterAuthParms = SRPAuthParms::decode(answer.answer.masterAuthParms);
            } catch (const std::exception&) {
                loginFailure(*this, kUnhandledParms);
            }
            return Next::go(JobsSteps::auth_getchallenge);
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::auth_getchallenge() {
    requestStep<AuthContext, Server_P2_Answer>(*this, kAuthChallenge, {
        .before = nullptr,
        .request = [this](AuthContext& context, const Session::Signing*) {
            const Session::ExchangeState state = session_.exchangeState();
            if (!state.username || !state.password) loginFailure(*this, kNoCredentials);
            if (!state.sessionID || !context.masterAuthParms || !context.srpUserSalt || !context.srpServerPublicKey)
                loginFailure(*this, kIncompleteChallenge);
            try {
                context.srpClient.emplace(SRP::Client::withPassword(*state.username, state.password->textView(),
                                                                    context.masterAuthParms->group,
                                                                    context.masterAuthParms->digestAlgo));
            } catch (const std::exception&) {
                loginFailure(*this, kNoClient);
            }
            context.srpClientPublicKey = context.srpClient->startAuthentication().publicKey;
            try {
                context.srpClientKeyProof =
                    context.srpClient->processChallenge(*context.srpUserSalt, *context.srpServerPublicKey);
            } catch (const std::exception&) {
                loginFailure(*this, kProcessChallenge);
            }
            Bytes body;
            try {
                body = Client_GetChallenge{context.srpClient->publicKey(), context.srpClientKeyProof}.encode();
            } catch (const std::exception&) {
                loginFailure(*this, kEncodeChallenge);
            }
            // The session this exchange will complete, as it stands now.
            context.exchange = Session::Whole{*state.username, *state.password, *state.sessionID, SecretBytes{}};
            return Outgoing{.headers = {{"username", *state.username}, {"sessionid", *state.sessionID}},
                            .body = std::move(body)};
        },
        .answer = [this](AuthContext& context, Server_P2_Answer&& answer, const AnswerMeta&) {
            std::optional<SecretBytes> key;
            if (context.srpClient) {
                try {
                    context.srpClient->verifySession(answer.answer.serverKeyProof);
                    key = context.srpClient->sessionKey();
                } catch (const std::exception&) {
                }
            }
            // Only a verified server proof gives the engine a key; the
            // session identifier stays the one of the first answer.
            if (!key || !context.exchange) loginFailure(*this, kServerProof);
            // The whole session at once: the other engine may have handed
            // this one a session meanwhile, and its identifier must not stay
            // beside this exchange's key.
            Session::Whole whole = std::move(*context.exchange);
            context.exchange.reset();
            whole.sessionKey = std::move(*key);
            session_.complete(std::move(whole));
            return Next::done();
        },
        .beforeChecks = nullptr,
        .afterChecks = nullptr,
    });
}

void SrvComm::auth_doLogout() {
    localStep<CommJobBasicContext>(*this, JobsSteps::auth_logout, [this](const std::shared_ptr<CommJobBasicContext>&) {
        session_.clear();
        return Next::done();
    });
}

}  // namespace ostrelcomm
