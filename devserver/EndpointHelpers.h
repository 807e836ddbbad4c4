#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/Exchange.h"
#include "devserver/Users.h"

// What the endpoints of every area share: their refusals, the reading of a
// request body, the session's user and a new identifier.
namespace devserver {

class DevServer;

// 400 "BadRequestException".
ProtocolError badRequest(std::string message);
// 404 "UserNotFoundException".
ProtocolError noSuchUser();

// The user of the request's session; refused without a session (403
// "AccessDeniedException") or when the user is gone.
User sessionUser(DevServer& server, const ServerRequest& request);

// The body as a JSON object with exactly these keys.
nlohmann::json objectWithKeys(std::string_view body, std::initializer_list<const char*> keys);
std::string stringMember(const nlohmann::json& object, const char* key);
// Strict base64.
std::vector<std::uint8_t> base64Member(const nlohmann::json& object, const char* key);

// Bytes from OpenSSL's generator.
std::vector<std::uint8_t> randomBytes(std::size_t count);
// A random (version 4) UUID in lower case.
std::string newUuid();

// A JSON answer whose keys keep the order they were written in.
Reply orderedReply(const nlohmann::ordered_json& value);

}  // namespace devserver
