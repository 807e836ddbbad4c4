#include "devserver/EndpointSupport.h"

#include <openssl/rand.h>

#include <set>
#include <stdexcept>
#include <utility>

#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/Signing.h"

namespace devserver {

namespace {

// A wrapped AES-256 key object: the wrap's IV, and the ciphertext of the
// object's 16-byte IV and 32-byte key with a full block of padding.
constexpr std::size_t kWrapIvSize = 16;
constexpr std::size_t kWrappedKeySize = 64;
constexpr std::size_t kAesBlock = 16;

}  // namespace

ProtocolError badRequest(std::string message) { return ProtocolError(400, "BadRequestException", std::move(message)); }

ProtocolError noSuchUser() { return ProtocolError(404, "UserNotFoundException", "No such user"); }

std::vector<std::uint8_t> randomBytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    if (count > 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1)
        throw std::runtime_error("no random bytes");
    return bytes;
}

std::string newUuid() {
    std::vector<std::uint8_t> b = randomBytes(16);
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3f) | 0x80);
    const std::string hex = hexLower(b);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20);
}

nlohmann::json objectWithKeys(std::string_view body, std::initializer_list<const char*> keys) {
    nlohmann::json value = nlohmann::json::parse(body, nullptr, false);
    if (value.is_discarded() || !value.is_object()) throw badRequest("The body is not a JSON object");
    const std::set<std::string> expected(keys.begin(), keys.end());
    for (const auto& [key, member] : value.items()) {
        if (expected.count(key) == 0) throw badRequest("The body has an unexpected member: " + key);
    }
    for (const char* key : keys) {
        if (!value.contains(key)) throw badRequest(std::string("The body lacks ") + key);
    }
    return value;
}

std::string stringMember(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) throw badRequest(std::string(key) + " is not a string");
    return it->get<std::string>();
}

std::vector<std::uint8_t> base64Member(const nlohmann::json& object, const char* key) {
    auto bytes = base64Decode(stringMember(object, key));
    if (!bytes) throw badRequest(std::string(key) + " is not base64");
    return *bytes;
}

std::string wrappedKeyMember(const nlohmann::json& object, const char* key) {
    std::string text = stringMember(object, key);
    const nlohmann::json wrapped = nlohmann::json::parse(text, nullptr, false);
    if (wrapped.is_discarded() || !wrapped.is_object()) throw badRequest(std::string(key) + " is not a wrapped key");
    try {
        if (base64Member(wrapped, "iv").size() != kWrapIvSize || base64Member(wrapped, "key").size() != kWrappedKeySize)
            throw badRequest(std::string(key) + " does not wrap an AES-256 key");
    } catch (const ProtocolError&) {
        throw badRequest(std::string(key) + " is not a wrapped AES-256 key");
    }
    return text;
}

std::vector<std::uint8_t> sealedMember(const nlohmann::json& object, const char* key) {
    std::vector<std::uint8_t> bytes = base64Member(object, key);
    if (bytes.size() < 2 * kAesBlock || bytes.size() % kAesBlock != 0)
        throw badRequest(std::string(key) + " is not sealed in whole AES blocks");
    return bytes;
}

std::string requiredHeader(const ServerRequest& request, std::string_view key) {
    auto value = request.protocolHeader(key);
    if (!value || value->empty()) throw badRequest("The request lacks x-sb-" + std::string(key));
    return *value;
}

User sessionUser(DevServer& server, const ServerRequest& request) {
    if (!request.session) throw ProtocolError(403, "AccessDeniedException", "The request is not signed");
    auto user = server.users().find(request.session->userName);
    if (!user) throw noSuchUser();
    return *user;
}

Reply orderedReply(const nlohmann::ordered_json& value) {
    Reply reply;
    reply.body = value.dump();
    return reply;
}

}  // namespace devserver
