#pragma once

#include <map>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// The SRP verifier the server checks later logins against: the salt and
// v = g^x mod N (big-endian, minimal length). Sent, never received.
struct UserVerifier {
    Bytes salt;
    Bytes verificationKey;
};

// {"salt", "verificationKey"}, both base64.
void to_json(json::OrderedJson& value, const UserVerifier& verifier);

// The "verifiers" object: one member per access level ("fullaccess").
json::OrderedJson verifiersJson(const std::map<std::string, UserVerifier>& verifiers);

}  // namespace ostrelcomm
