#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "crypto/SecretBytes.h"
#include "jobs/UserAuthStatus.h"

namespace ostrelcomm {

// An engine's login session: the user's name and password, the server's
// session identifier and key, and the login status. The other engine reads
// and replaces it while this engine runs a job (the application hands a
// session from one engine to the other), and the fields only make sense
// together: a key beside another login's identifier signs every request
// wrongly. So the session has its own small mutex and offers whole-session
// operations only; nothing outside it sees the mutex. It never takes an
// engine's lock, so it may be called with either engine's lock held.
class Session {
public:
    struct Credentials {
        std::string username;
        SecretBytes password;
    };
    // What a signed request needs, read in one piece.
    struct Signing {
        std::string username;
        std::string sessionID;
        SecretBytes sessionKey;
        // {"username", "sessionid"}: the custom headers of every signed
        // request; a step adds its own to them.
        std::map<std::string, std::string> headers() const;
    };
    // A complete session, as a finished login makes it and as it is handed
    // from one engine to the other.
    struct Whole {
        std::string username;
        SecretBytes password;
        std::string sessionID;
        SecretBytes sessionKey;
    };
    // The start of a login exchange: its first request's custom headers.
    struct ExchangeStart {
        std::map<std::string, std::string> headers;
        // The engine held a locally prepared session, which a login replaces:
        // the exchange is a new login whatever mode it was queued with.
        bool leftPreparedSession = false;
    };
    // What the exchange's second request reads.
    struct ExchangeState {
        std::optional<std::string> username;
        std::optional<SecretBytes> password;
        std::optional<std::string> sessionID;
    };
    // Everything before a password was lent, to give back if the login with
    // the lent password fails.
    class Loan {
        friend class Session;
        std::optional<std::string> username;
        std::optional<SecretBytes> password;
        std::optional<std::string> sessionID;
        std::optional<SecretBytes> sessionKey;
        UserAuthStatus status = UserAuthStatus::notAuthenticated;
        SecretBytes lent;
    };

    static constexpr const char* kPreparedSessionID = "preparedSession";

    // --- single fields, for the engine's public accessors ------------------------
    std::optional<std::string> username() const;
    void setUsername(std::optional<std::string> username);
    std::optional<SecretBytes> password() const;
    void setPassword(std::optional<SecretBytes> password);
    UserAuthStatus status() const;
    void setStatus(UserAuthStatus status);
    std::optional<std::string> sessionID() const;
    void setSessionID(std::optional<std::string> sessionID);
    std::optional<SecretBytes> sessionKey() const;
    void setSessionKey(std::optional<SecretBytes> sessionKey);

    // --- whole-session operations ------------------------------------------------

    // The user and password a login will present.
    void setCredentials(std::string username, SecretBytes password);
    std::optional<Credentials> credentials() const;

    // Begins a login exchange: the key goes, the status says a login runs
    // (renewAuthentication for a renewal, which also presents the current
    // identifier; inProgress otherwise, which drops the identifier). Absent,
    // and nothing changed but a prepared session dropped, without user name
    // and password.
    std::optional<ExchangeStart> beginExchange(bool renewal);
    // The identifier the server's challenge gave. Ignored when a key has come
    // meanwhile: the other engine handed over a whole session, whose
    // identifier must stay beside its key.
    void acceptChallengeIdentifier(const std::string& sessionID);
    ExchangeState exchangeState() const;
    // A finished login, or a session handed over: all five fields at once,
    // status authFullAccess.
    void complete(Whole session);
    // A login that did not succeed.
    void markFailed();
    // A session that exists only on this machine (nothing was sent).
    void prepareLocally(SecretBytes key);

    // Absent unless user, password, identifier and a non-empty key are set.
    std::optional<Signing> forSigning() const;
    // Absent unless user, password, identifier and key are set.
    std::optional<Whole> forHandOver() const;

    // Puts the typed password in place of the stored one, keeping what was
    // there to give back.
    Loan lendPassword(const SecretBytes& typed);
    // The login with the lent password failed: the previous password comes
    // back unless another one was set meanwhile, and the previous identifier,
    // key and status unless a key has come meanwhile or the user changed.
    void giveBack(const Loan& loan);

    // Logout: nothing of the session stays.
    void clear();

    // Counts the changes of user or password (a logout, another user's
    // session handed over, a new password), not those of the session
    // identifier and key: what was read with the keys the password opens
    // belongs to the user of the epoch it was read in.
    std::uint64_t userEpoch() const;

private:
    // Under the mutex: the user and password, the epoch counted on a change.
    void changeUser(std::optional<std::string> username, std::optional<SecretBytes> password);

    mutable std::mutex mutex_;
    std::uint64_t userEpoch_ = 0;
    std::optional<std::string> username_;
    std::optional<SecretBytes> password_;
    UserAuthStatus status_ = UserAuthStatus::notAuthenticated;
    std::optional<std::string> sessionID_;
    std::optional<SecretBytes> sessionKey_;
};

}  // namespace ostrelcomm
