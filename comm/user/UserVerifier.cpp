#include "user/UserVerifier.h"

namespace ostrelcomm {

void to_json(json::OrderedJson& value, const UserVerifier& verifier) {
    value = json::OrderedJson::object();
    json::putBase64(value, "salt", verifier.salt);
    json::putBase64(value, "verificationKey", verifier.verificationKey);
}

json::OrderedJson verifiersJson(const std::map<std::string, UserVerifier>& verifiers) {
    // An empty map is still an object ({}), never null.
    json::OrderedJson object = json::OrderedJson::object();
    for (const auto& [level, verifier] : verifiers) object[level] = verifier;
    return object;
}

}  // namespace ostrelcomm
