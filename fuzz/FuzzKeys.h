#pragma once

// What the targets that read keyed server answers share: a fixed key chain,
// and the means to put its sound keys into a body the fuzzer wrote, since
// such bodies rarely carry keys that unwrap.

#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "crypto/CbcEnvelope.h"
#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/PrivateKey.h"
#include "crypto/curve25519/PublicKey.h"
#include "crypto/curve25519/SharedSecretKey.h"
#include "encoding/Encoding.h"
#include "json/StrictJson.h"

namespace fuzzkeys {

using namespace ostrelcomm;

inline void check(bool condition) {
    if (!condition) std::abort();
}

// The password key, a user master key wrapped under it, and one file key
// wrapped twice: under the master key (the user's own file) and under the key
// a reader and an owner share (a file shared with the reader).
struct Keys {
    SecretBytes password = EncryptionKey::prepareEncryptionPassword("fuzz password");
    EncryptionKey umk{CipherAlgorithm::aes256, 32};
    EncryptionKey file{CipherAlgorithm::aes256, 32};
    PrivateKey reader;
    PrivateKey owner;
    std::string wrappedUmk = umk.encryptKeyText(password.view());
    std::string ownItemKey = file.encryptKeyText(umk.key.key.view());
    std::string sharedItemKey = file.encryptKeyText(SharedSecretKey(reader, owner.publicKey()).KeyValue().view());
    std::string privshkey = *reader.getPrivateEncryptedKey(password.view());
    std::string pubshkey = base64Encode(owner.publicKey().KeyValue());
};

inline const Keys& keys() {
    static const Keys k;
    return k;
}

// Rewrites the body with `mend` applied to it as a JSON object; false, the
// body untouched, when it is not one. The reader's depth check comes first,
// so the mended body is never deeper than one it would refuse.
template <class Mend>
bool mendBody(std::string& body, Mend&& mend) {
    try {
        (void)json::parse(std::string_view(body));
    } catch (const json::DecodeError&) {
        return false;
    }
    auto value = nlohmann::json::parse(body, nullptr, false);
    if (!value.is_object()) return false;
    mend(value);
    body = value.dump();
    return true;
}

// A string member's text sealed under the file key, so that the readers
// behind the key chain see the fuzzer's records.
inline void sealMember(nlohmann::json& object, const char* member) {
    if (!object.contains(member) || !object[member].is_string()) return;
    const auto& clear = object[member].get_ref<const std::string&>();
    object[member] = base64Encode(CbcEnvelope::seal(keys().file.key.key.view(), Bytes(16, 7), asBytes(clear)));
}

}  // namespace fuzzkeys
