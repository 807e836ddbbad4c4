#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// A trusted peer, and the QR trust code a user shows to be trusted: the
// user's identifier, user name and public sharing key. As a QR code it is
// the compact JSON object {"peerUUID", "peerUsername", "pubshkey"} (base64
// key, UTF-8 text, nothing around it); the server's list of trusted peers
// adds "trustUUID", the trust's own identifier.
//
// The fields are set only by the constructors; a code is replaced whole.
class TrustCode {
public:
    // The empty record: what an unreadable code gives.
    TrustCode() = default;
    TrustCode(std::optional<std::string> trustUUID, std::string uuid, std::string username, Bytes pubSHKey);
    // Reads a QR trust code; never fails. The text must be ASCII (a name
    // outside ASCII travels escaped, "\u00e9"); anything that is not ASCII,
    // not a JSON object, or lacks a required key or has one of a wrong type
    // or with invalid base64, gives the empty record. Callers recognise an
    // unreadable code by its empty peerUsername.
    explicit TrustCode(std::string_view trustString);

    const std::optional<std::string>& trustUUID() const { return trustUUID_; }
    const std::string& peerUUID() const { return peerUUID_; }
    const std::string& peerUsername() const { return peerUsername_; }
    // Exactly as the user's profile gives it; no length is checked.
    const Bytes& pubshkey() const { return pubshkey_; }

    // The JSON text: compact, "trustUUID" only when present. Throws
    // nlohmann's type_error for text that is not valid UTF-8.
    std::string encode() const;

    // The QR trust code of a user; absent when it cannot be encoded.
    static std::optional<std::string> generate(const std::string& uuid, const std::string& username,
                                               ByteView pubSHKey);

    bool operator==(const TrustCode&) const = default;

private:
    std::optional<std::string> trustUUID_;
    std::string peerUUID_;
    std::string peerUsername_;
    Bytes pubshkey_;
};

// "trustUUID" missing or null is absent; "peerUUID", "peerUsername" and
// "pubshkey" (strict base64) are required. Unknown keys are ignored.
void from_json(const json::Json& value, TrustCode& code);
// "trustUUID" (only when present), "peerUUID", "peerUsername", "pubshkey".
void to_json(json::OrderedJson& value, const TrustCode& code);

}  // namespace ostrelcomm
