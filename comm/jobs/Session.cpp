#include "jobs/Session.h"

#include <utility>

namespace ostrelcomm {

namespace {
using Guard = std::lock_guard<std::mutex>;
}

std::map<std::string, std::string> Session::Signing::headers() const {
    return {{"username", username}, {"sessionid", sessionID}};
}

std::optional<std::string> Session::username() const {
    Guard guard(mutex_);
    return username_;
}

void Session::setUsername(std::optional<std::string> username) {
    Guard guard(mutex_);
    changeUser(std::move(username), password_);
}

std::optional<SecretBytes> Session::password() const {
    Guard guard(mutex_);
    return password_;
}

void Session::setPassword(std::optional<SecretBytes> password) {
    Guard guard(mutex_);
    changeUser(username_, std::move(password));
}

UserAuthStatus Session::status() const {
    Guard guard(mutex_);
    return status_;
}

void Session::setStatus(UserAuthStatus status) {
    Guard guard(mutex_);
    status_ = status;
}

std::optional<std::string> Session::sessionID() const {
    Guard guard(mutex_);
    return sessionID_;
}

void Session::setSessionID(std::optional<std::string> sessionID) {
    Guard guard(mutex_);
    sessionID_ = std::move(sessionID);
}

std::optional<SecretBytes> Session::sessionKey() const {
    Guard guard(mutex_);
    return sessionKey_;
}

void Session::setSessionKey(std::optional<SecretBytes> sessionKey) {
    Guard guard(mutex_);
    sessionKey_ = std::move(sessionKey);
}

void Session::setCredentials(std::string username, SecretBytes password) {
    Guard guard(mutex_);
    changeUser(std::move(username), std::move(password));
}

std::optional<Session::Credentials> Session::credentials() const {
    Guard guard(mutex_);
    if (!username_ || !password_) return std::nullopt;
    return Credentials{*username_, *password_};
}

std::optional<Session::ExchangeStart> Session::beginExchange(bool renewal) {
    Guard guard(mutex_);
    ExchangeStart start;
    if (sessionID_ == kPreparedSessionID) {
        sessionID_.reset();
        start.leftPreparedSession = true;
        renewal = false;
    }
    if (!username_ || !password_) return std::nullopt;
    start.headers["username"] = *username_;
    sessionKey_.reset();
    if (renewal) {
        if (sessionID_) start.headers["sessionid"] = *sessionID_;
        status_ = UserAuthStatus::renewAuthentication;
    } else {
        status_ = UserAuthStatus::inProgress;
        sessionID_.reset();
    }
    return start;
}

void Session::acceptChallengeIdentifier(const std::string& sessionID) {
    Guard guard(mutex_);
    if (!sessionKey_) sessionID_ = sessionID;
}

Session::ExchangeState Session::exchangeState() const {
    Guard guard(mutex_);
    return {username_, password_, sessionID_};
}

void Session::complete(Whole session) {
    Guard guard(mutex_);
    changeUser(std::move(session.username), std::move(session.password));
    sessionID_ = std::move(session.sessionID);
    sessionKey_ = std::move(session.sessionKey);
    status_ = UserAuthStatus::authFullAccess;
}

void Session::markFailed() {
    Guard guard(mutex_);
    status_ = UserAuthStatus::authError;
}

void Session::prepareLocally(SecretBytes key) {
    Guard guard(mutex_);
    sessionID_ = kPreparedSessionID;
    sessionKey_ = std::move(key);
}

std::optional<Session::Signing> Session::forSigning() const {
    Guard guard(mutex_);
    if (!username_ || !sessionID_ || !sessionKey_ || sessionKey_->empty()) return std::nullopt;
    return Signing{*username_, *sessionID_, *sessionKey_};
}

std::optional<Session::Whole> Session::forHandOver() const {
    Guard guard(mutex_);
    if (!username_ || !password_ || !sessionID_ || !sessionKey_) return std::nullopt;
    return Whole{*username_, *password_, *sessionID_, *sessionKey_};
}

Session::Loan Session::lendPassword(const SecretBytes& typed) {
    Guard guard(mutex_);
    Loan loan;
    loan.username = username_;
    loan.password = password_;
    loan.sessionID = sessionID_;
    loan.sessionKey = sessionKey_;
    loan.status = status_;
    loan.lent = typed;
    changeUser(username_, typed);
    return loan;
}

void Session::giveBack(const Loan& loan) {
    Guard guard(mutex_);
    if (password_ && *password_ == loan.lent) changeUser(username_, loan.password);
    if (!sessionKey_ && username_ == loan.username) {
        sessionID_ = loan.sessionID;
        sessionKey_ = loan.sessionKey;
        status_ = loan.status;
    }
}

std::uint64_t Session::userEpoch() const {
    Guard guard(mutex_);
    return userEpoch_;
}

void Session::changeUser(std::optional<std::string> username, std::optional<SecretBytes> password) {
    if (username == username_ && password == password_) return;
    username_ = std::move(username);
    password_ = std::move(password);
    ++userEpoch_;
}

void Session::clear() {
    Guard guard(mutex_);
    changeUser(std::nullopt, std::nullopt);
    sessionID_.reset();
    sessionKey_.reset();
    status_ = UserAuthStatus::notAuthenticated;
}

}  // namespace ostrelcomm
