#include "shares/TrustCode.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "http/ServerAnswer.h"

namespace ostrelcomm {

TrustCode::TrustCode(std::optional<std::string> trustUUID, std::string uuid, std::string username, Bytes pubSHKey)
    : trustUUID_(std::move(trustUUID)),
      peerUUID_(std::move(uuid)),
      peerUsername_(std::move(username)),
      pubshkey_(std::move(pubSHKey)) {}

TrustCode::TrustCode(std::string_view trustString) {
    // A code read from a camera is ASCII; anything else is not one of ours.
    const bool ascii = std::all_of(trustString.begin(), trustString.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii || trustString.empty()) return;
    try {
        *this = answer::decodeRecord<TrustCode>(asBytes(trustString));
    } catch (const std::exception&) {
        *this = TrustCode();
    }
}

std::string TrustCode::encode() const {
    json::OrderedJson value;
    to_json(value, *this);
    return json::dump(value);
}

std::optional<std::string> TrustCode::generate(const std::string& uuid, const std::string& username,
                                               ByteView pubSHKey) {
    try {
        return TrustCode(std::nullopt, uuid, username, Bytes(pubSHKey.begin(), pubSHKey.end())).encode();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void from_json(const json::Json& value, TrustCode& code) {
    auto trustUUID = json::optionalString(value, "trustUUID");
    auto peerUUID = json::requireString(value, "peerUUID");
    auto peerUsername = json::requireString(value, "peerUsername");
    auto pubshkey = json::requireBase64(value, "pubshkey");
    code = TrustCode(std::move(trustUUID), std::move(peerUUID), std::move(peerUsername), std::move(pubshkey));
}

void to_json(json::OrderedJson& value, const TrustCode& code) {
    value = json::OrderedJson::object();
    json::putOptional(value, "trustUUID", code.trustUUID());
    value["peerUUID"] = code.peerUUID();
    value["peerUsername"] = code.peerUsername();
    json::putBase64(value, "pubshkey", code.pubshkey());
}

}  // namespace ostrelcomm
