#pragma once

// What the endpoint files share: the checks of a request body and its
// members, the user behind a signed request, fresh identifiers, and the
// answer made of an ordered JSON value.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/Exchange.h"
#include "devserver/Users.h"

namespace devserver {

class DevServer;

// A malformed request: "BadRequestException" (400).
ProtocolError badRequest(std::string message);
// The session's user is gone: "UserNotFoundException" (404).
ProtocolError noSuchUser();

std::vector<std::uint8_t> randomBytes(std::size_t count);
// A random (version 4) UUID in lower case.
std::string newUuid();

// The body as a JSON object with exactly these keys.
nlohmann::json objectWithKeys(std::string_view body, std::initializer_list<const char*> keys);
std::string stringMember(const nlohmann::json& object, const char* key);
// Strict base64 text.
std::vector<std::uint8_t> base64Member(const nlohmann::json& object, const char* key);
// The one check of a wrapped key, for every endpoint that stores one: a
// string holding the JSON text {"iv","key"} of an AES-256 key object wrapped
// as the client wraps it (a 16-byte IV, then the 64-byte ciphertext of the
// object's 16-byte IV and 32-byte key with a full block of padding). The
// server cannot unwrap it; it keeps the text as the client wrote it.
std::string wrappedKeyMember(const nlohmann::json& object, const char* key);
// Sealed bytes (metadata, a thumbnail) as the client makes them, in base64:
// an IV, then whole AES blocks, the padding in a block of its own at least.
std::vector<std::uint8_t> sealedMember(const nlohmann::json& object, const char* key);
// The value of "x-sb-" + key, which the request must carry.
std::string requiredHeader(const ServerRequest& request, std::string_view key);

// The account that signed the request.
User sessionUser(DevServer& server, const ServerRequest& request);

Reply orderedReply(const nlohmann::ordered_json& value);

}  // namespace devserver
