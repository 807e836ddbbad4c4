#include "devserver/LoginEndpoints.h"

#include <openssl/rand.h>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/Signing.h"
#include "srp/AuthenticationFailure.h"
#include "srp/Server.h"

namespace devserver {

namespace {

constexpr char kLoginPath[] = "/authenticate/";

// Between the two requests of a login: the server side of its SRP exchange.
struct PendingLogin {
    std::string userName;
    std::shared_ptr<ostrelcomm::SRP::Server> srp;
};

class PendingLogins {
public:
    void put(const std::string& id, PendingLogin login) {
        std::lock_guard lock(mutex_);
        logins_[id] = std::move(login);
        order_.push_back(id);
        while (order_.size() > kMaxPendingLogins) {
            logins_.erase(order_.front());
            order_.pop_front();
        }
    }

    // One attempt per login: the entry goes whatever the outcome.
    std::optional<PendingLogin> take(const std::string& id) {
        std::lock_guard lock(mutex_);
        auto it = logins_.find(id);
        if (it == logins_.end()) return std::nullopt;
        PendingLogin login = std::move(it->second);
        logins_.erase(it);
        return login;
    }

private:
    std::mutex mutex_;
    std::map<std::string, PendingLogin> logins_;
    // Oldest first; may name logins already taken.
    std::deque<std::string> order_;
};

std::string newSessionID() {
    std::uint8_t bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("no random bytes for a session");
    return hexLower(bytes);
}

std::chrono::sys_seconds now() {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

ProtocolError badRequest(std::string message) { return ProtocolError(400, "BadRequestException", std::move(message)); }

ProtocolError denied(std::string message) { return ProtocolError(403, "AccessDeniedException", std::move(message)); }

std::string requiredHeader(const ServerRequest& request, std::string_view key) {
    auto value = request.protocolHeader(key);
    if (!value || value->empty()) throw badRequest("The login request lacks x-sb-" + std::string(key));
    return *value;
}

std::vector<std::uint8_t> base64Member(const nlohmann::json& body, const char* key) {
    auto it = body.find(key);
    if (it == body.end() || !it->is_string()) throw badRequest(std::string("The body lacks ") + key);
    auto bytes = base64Decode(it->get<std::string>());
    if (!bytes) throw badRequest(std::string("The body's ") + key + " is not base64");
    return *bytes;
}

}  // namespace

void installLoginEndpoints(DevServer& server) {
    auto pending = std::make_shared<PendingLogins>();
    DevServer* s = &server;

    server.route("GET", kLoginPath, Endpoint{"AUTH_INIT", Access::open, [s, pending](const ServerRequest& request) {
        const std::string name = requiredHeader(request, "username");
        const std::optional<User> user = s->users().find(name);
        if (!user) throw denied("Unknown user or wrong password");
        auto srp = std::make_shared<ostrelcomm::SRP::Server>(name, user->salt, user->verifier, user->group,
                                                             user->digest);
        const std::string id = newSessionID();
        nlohmann::ordered_json answer;
        answer["sessionID"] = id;
        answer["masterAuthParms"] = user->authParms;
        answer["salt"] = base64Encode(user->salt);
        answer["publickey"] = base64Encode(srp->publicKey());
        pending->put(id, PendingLogin{name, std::move(srp)});
        Reply reply;
        reply.body = answer.dump();
        return reply;
    }});

    server.route("POST", kLoginPath,
                 Endpoint{"AUTH_GETCHALLENGE", Access::open, [s, pending](const ServerRequest& request) {
                     const std::string name = requiredHeader(request, "username");
                     const std::string id = requiredHeader(request, "sessionid");
                     nlohmann::json body;
                     try {
                         body = nlohmann::json::parse(request.body);
                     } catch (const nlohmann::json::exception&) {
                         throw badRequest("The body is not JSON");
                     }
                     if (!body.is_object()) throw badRequest("The body is not a JSON object");
                     const auto clientPublicKey = base64Member(body, "clientpubkey");
                     const auto clientProof = base64Member(body, "clientkeyproof");

                     std::optional<PendingLogin> login = pending->take(id);
                     if (!login || login->userName != name) throw denied("Unknown login session");
                     std::vector<std::uint8_t> serverProof;
                     try {
                         serverProof = login->srp->verifySession(clientPublicKey, clientProof);
                     } catch (const ostrelcomm::SRP::AuthenticationFailure&) {
                         s->users().recordLogin(name, {now(), "FAILED", "wrong password"});
                         throw denied("Unknown user or wrong password");
                     }
                     const auto key = login->srp->sessionKey();
                     if (!key) throw std::runtime_error("a verified login without a session key");
                     s->sessions().add(Session{id, key->copyOut(), name, false});
                     s->users().recordLogin(name, {now(), "SUCCESS", ""});

                     nlohmann::ordered_json answer;
                     answer["sessionID"] = id;
                     answer["serverKeyProof"] = base64Encode(serverProof);
                     Reply reply;
                     reply.body = answer.dump();
                     return reply;
                 }});
}

}  // namespace devserver
