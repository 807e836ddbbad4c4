#include "devserver/AccountEndpoints.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/EndpointSupport.h"
#include "devserver/Signing.h"
#include "srp/SaltedVerificationKey.h"

namespace devserver {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;
using ByteVector = std::vector<std::uint8_t>;

constexpr char kFullAccess[] = "fullaccess";
// The IV of the demo user's wrapped keys.
constexpr std::size_t kWrapIvSize = 16;
constexpr std::size_t kPublicKeySize = 32;

// Internet date-time in UTC, without fraction: "2024-02-29T23:59:59Z".
std::string dateText(std::chrono::sys_seconds date) {
    const std::time_t seconds = static_cast<std::time_t>(date.time_since_epoch().count());
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

std::chrono::sys_seconds now() {
    return std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
}

struct NewVerifier {
    ByteVector salt;
    ByteVector verifier;
    ostrelcomm::SRP::Group group;
    ostrelcomm::DigestAlgorithm digest;
    std::string authParms;
};

// "verifiers" and "authParms": the one "fullaccess" verifier with the
// parameters it was made with, or, where allowed, none ({} and "").
std::optional<NewVerifier> verifierMembers(const Json& body, bool required) {
    const Json& verifiers = body.at("verifiers");
    if (!verifiers.is_object()) throw badRequest("verifiers is not an object");
    const std::string parms = stringMember(body, "authParms");
    if (verifiers.empty() && !required) {
        if (!parms.empty()) throw badRequest("authParms without a verifier");
        return std::nullopt;
    }
    if (verifiers.size() != 1 || !verifiers.contains(kFullAccess))
        throw badRequest("verifiers must hold exactly \"fullaccess\"");
    const Json& fullAccess = verifiers.at(kFullAccess);
    if (!fullAccess.is_object()) throw badRequest("the verifier is not an object");
    NewVerifier out{base64Member(fullAccess, "salt"), base64Member(fullAccess, "verificationKey"),
                    ostrelcomm::SRP::Group::N2048(), ostrelcomm::DigestAlgorithm::sha256, parms};
    if (out.salt.empty() || out.verifier.empty()) throw badRequest("the verifier is empty");
    auto named = parseAuthParmsText(parms);
    if (!named) throw badRequest("authParms names no known group and digest");
    out.group = named->first;
    out.digest = named->second;
    return out;
}

void setVerifier(User& user, NewVerifier verifier) {
    user.salt = std::move(verifier.salt);
    user.verifier = std::move(verifier.verifier);
    user.group = std::move(verifier.group);
    user.digest = verifier.digest;
    user.authParms = std::move(verifier.authParms);
}

std::size_t countHeader(const ServerRequest& request, std::string_view key) {
    const auto value = request.protocolHeader(key);
    if (!value || value->empty() || value->size() > 19 ||
        !std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw badRequest("x-sb-" + std::string(key) + " is not a count");
    return static_cast<std::size_t>(std::stoull(*value));
}

OrderedJson userHandled(const std::string& uuid) {
    OrderedJson answer;
    answer["userUUID"] = uuid;
    return answer;
}

// --- key material for a demo user, as a client makes it -----------------------------

class Secret {
public:
    explicit Secret(ByteVector bytes) : bytes_(std::move(bytes)) {}
    ~Secret() {
        if (!bytes_.empty()) OPENSSL_cleanse(bytes_.data(), bytes_.size());
    }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    const ByteVector& bytes() const { return bytes_; }

private:
    ByteVector bytes_;
};

// The password's UTF-8 bytes padded with zeros to 32, or their SHA-256 when longer.
Secret passwordKey(std::string_view password) {
    ByteVector key(32, 0);
    if (password.size() > 32) {
        unsigned int length = 0;
        if (EVP_Digest(password.data(), password.size(), key.data(), &length, EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("SHA-256 failed");
    } else {
        std::copy(password.begin(), password.end(), key.begin());
    }
    return Secret(std::move(key));
}

// {"iv","key"}: AES-256-CBC with PKCS#7 of `plain` under `key`, with a fresh IV.
std::string wrap(const ByteVector& plain, const ByteVector& key) {
    const ByteVector iv = randomBytes(kWrapIvSize);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    ByteVector cipher(plain.size() + 16);
    int n = 0;
    int tail = 0;
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data()) != 1 ||
        EVP_EncryptUpdate(ctx.get(), cipher.data(), &n, plain.data(), static_cast<int>(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), cipher.data() + n, &tail) != 1)
        throw std::runtime_error("AES-256-CBC failed");
    cipher.resize(static_cast<std::size_t>(n + tail));
    OrderedJson text;
    text["iv"] = base64Encode(iv);
    text["key"] = base64Encode(cipher);
    return text.dump();
}

ByteVector x25519PublicKey(const ByteVector& privateKey) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, privateKey.data(), privateKey.size()), EVP_PKEY_free);
    ByteVector out(kPublicKeySize);
    std::size_t length = out.size();
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), out.data(), &length) != 1 || length != kPublicKeySize)
        throw std::runtime_error("X25519 failed");
    return out;
}

}  // namespace

User createAccount(UserStore& users, const std::string& name, std::string_view body) {
    if (name.empty()) throw badRequest("The new user has no name");
    const Json value = objectWithKeys(body, {"umk", "privshkey", "pubshkey", "verifiers", "authParms"});
    User user;
    user.name = name;
    user.umk = wrappedKeyMember(value, "umk");
    user.privshkey = wrappedKeyMember(value, "privshkey");
    user.pubshkey = base64Member(value, "pubshkey");
    if (user.pubshkey.size() != kPublicKeySize) throw badRequest("pubshkey is not an X25519 public key");
    setVerifier(user, *verifierMembers(value, true));
    user.uuid = newUuid();
    user.since = now();
    if (!users.add(user)) throw ProtocolError(409, "UserAlreadyExistsException", "The user name is taken");
    return user;
}

User addDemoUser(UserStore& users, const std::string& name, std::string_view password) {
    const Secret key = passwordKey(password);
    // Key objects as the client keeps them: a 16-byte IV, then the key.
    const Secret umk(randomBytes(48));
    Secret privateKey(randomBytes(32));
    ByteVector clamped = privateKey.bytes();
    clamped[0] &= 248;
    clamped[31] &= 127;
    clamped[31] |= 64;
    const Secret sharingKey(std::move(clamped));
    ByteVector carrier = randomBytes(16);
    carrier.insert(carrier.end(), sharingKey.bytes().begin(), sharingKey.bytes().end());
    const Secret carried(std::move(carrier));

    const auto group = ostrelcomm::SRP::Group::N2048();
    const auto digest = ostrelcomm::DigestAlgorithm::sha256;
    const auto verifier = ostrelcomm::SRP::createSaltedVerificationKey(name, password, std::nullopt, group, digest);

    OrderedJson body;
    body["umk"] = wrap(umk.bytes(), key.bytes());
    body["privshkey"] = wrap(carried.bytes(), key.bytes());
    body["pubshkey"] = base64Encode(x25519PublicKey(sharingKey.bytes()));
    body["verifiers"][kFullAccess]["salt"] = base64Encode(verifier.salt);
    body["verifiers"][kFullAccess]["verificationKey"] = base64Encode(verifier.verificationKey);
    body["authParms"] = authParmsText(group, digest);
    return createAccount(users, name, body.dump());
}

void installAccountEndpoints(DevServer& server) {
    DevServer* s = &server;

    server.route("PUT", "/user/create/", Endpoint{"NEW_USER", Access::open, [s](const ServerRequest& request) {
        const auto name = request.protocolHeader("username");
        if (!name) throw badRequest("The request lacks x-sb-username");
        return orderedReply(userHandled(createAccount(s->users(), *name, request.body).uuid));
    }});

    server.route("GET", "/userprofile/getprofile/",
                 Endpoint{"USER_GET_PROFILE", Access::session, [s](const ServerRequest& request) {
                     const User user = sessionUser(*s, request);
                     OrderedJson profile;
                     profile["userUUID"] = user.uuid;
                     profile["profilename"] = user.profilename;
                     if (user.currentplanexpiry) profile["currentplanexpiry"] = dateText(*user.currentplanexpiry);
                     profile["pubshkey"] = base64Encode(user.pubshkey);
                     profile["since"] = dateText(user.since);
                     if (!user.logins.empty()) profile["lastlogin"] = dateText(user.logins.back().timestamp);
                     profile["lastresult"] = user.logins.empty() ? std::string("NONE") : user.logins.back().result;
                     profile["diskspace"] = user.diskspace;
                     profile["usedspace"] = user.usedspace;
                     profile["availablespace"] = user.diskspace > user.usedspace ? user.diskspace - user.usedspace : 0;
                     profile["directories"] = user.directories;
                     profile["files"] = user.files;
                     return orderedReply(profile);
                 }});

    server.route("GET", "/userprofile/getkeys/",
                 Endpoint{"USER_GET_KEYS", Access::session, [s](const ServerRequest& request) {
                     const User user = sessionUser(*s, request);
                     OrderedJson keys;
                     keys["userUUID"] = user.uuid;
                     keys["umk"] = user.umk;
                     keys["privshkey"] = user.privshkey;
                     return orderedReply(keys);
                 }});

    server.route("PUT", "/userprofile/storekeys/",
                 Endpoint{"USER_STORE_KEYS", Access::session, [s](const ServerRequest& request) {
                     const User user = sessionUser(*s, request);
                     const Json value = objectWithKeys(request.body, {"umk", "verifiers", "authParms", "privshkey"});
                     std::string umk = wrappedKeyMember(value, "umk");
                     std::string privshkey = wrappedKeyMember(value, "privshkey");
                     std::optional<NewVerifier> verifier = verifierMembers(value, false);
                     const bool stored = s->users().modify(user.name, [&](User& stored) {
                         stored.umk = std::move(umk);
                         stored.privshkey = std::move(privshkey);
                         if (verifier) setVerifier(stored, std::move(*verifier));
                     });
                     if (!stored) throw noSuchUser();
                     return orderedReply(userHandled(user.uuid));
                 }});

    server.route("GET", "/userprofile/sessions/",
                 Endpoint{"USER_GET_SESSIONS", Access::session, [s](const ServerRequest& request) {
                     const User user = sessionUser(*s, request);
                     const std::size_t start = countHeader(request, "start");
                     const std::size_t end = std::min(countHeader(request, "end"), user.logins.size());
                     OrderedJson list = OrderedJson::array();
                     for (std::size_t i = start; i < end; ++i) {
                         OrderedJson entry;
                         entry["timestamp"] = dateText(user.logins[i].timestamp);
                         entry["result"] = user.logins[i].result;
                         entry["extdiag"] = user.logins[i].extdiag;
                         list.push_back(std::move(entry));
                     }
                     return orderedReply(list);
                 }});

    server.route("DELETE", "/userprofile/delete/",
                 Endpoint{"USER_DELETE_PROFILE", Access::session, [s](const ServerRequest& request) {
                     const User user = sessionUser(*s, request);
                     if (!s->users().remove(user.name)) throw noSuchUser();
                     s->items().removeOwner(user.uuid);
                     // The answer is still signed with the key of the request.
                     s->sessions().remove(request.session->id);
                     return orderedReply(userHandled(user.uuid));
                 }});

    server.route("GET", "/untrustedpeer/getShareProfile/",
                 Endpoint{"SHARE_SEARCH_UNTRUSTED_PEER", Access::session, [s](const ServerRequest& request) {
                     const User user = sessionUser(*s, request);
                     const auto peerName = request.protocolHeader("peer-username");
                     if (!peerName) throw badRequest("The request lacks x-sb-peer-username");
                     const std::optional<User> peer = s->users().find(*peerName);
                     OrderedJson profile;
                     profile["uuid"] = peer ? peer->uuid : std::string();
                     profile["trusted"] = peer && s->trusts().trusts(user.uuid, peer->uuid);
                     profile["username"] = peer ? peer->name : std::string();
                     profile["pubSHKey"] = peer ? base64Encode(peer->pubshkey) : std::string();
                     return orderedReply(profile);
                 }});
}

}  // namespace devserver
