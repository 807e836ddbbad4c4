#pragma once

// Helpers of the tree tests: item keys with chosen bytes, dates, the sealed
// form (IV ‖ AES-256-CBC) made and read by the openssl command line, and
// listing bodies made on OpenSSL alone (support/ListingOracle.h).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "crypto/EncryptionKey.h"
#include "devserver/Base64.h"
#include "crypto/SecretBytes.h"
#include "platform/Bytes.h"
#include "support/CryptoOracle.h"
#include "support/ListingOracle.h"

namespace treetest {

using ostrelcomm::Bytes;

// A key object whose key bytes are `key` and whose IV is set apart from them,
// so that a use of the IV in place of the key shows.
inline ostrelcomm::EncryptionKey itemKey(const Bytes& key, const Bytes& iv = Bytes(16, 0xee)) {
    ostrelcomm::EncryptionKey k(ostrelcomm::CipherAlgorithm::aes256, 32);
    k.key.key = ostrelcomm::SecretBytes(key);
    k.key.iv = ostrelcomm::SecretBytes(iv);
    return k;
}

inline std::chrono::sys_seconds date(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    using namespace std::chrono;
    return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

// The sealed form of `clear` as another client writes it: a fresh IV, then
// `openssl enc -aes-256-cbc` under key and that IV.
inline Bytes cliSeal(const Bytes& key, const std::string& clear) {
    Bytes sealed = testsupport::oracleRandom(16);
    auto cipher = testsupport::opensslCbc(false, key, sealed, ostrelcomm::toBytes(clear));
    if (!cipher) return {};
    sealed.insert(sealed.end(), cipher->begin(), cipher->end());
    return sealed;
}

// The clear bytes of a sealed form by `openssl enc -d`, its first 16 bytes as IV.
inline std::optional<std::string> cliOpen(const Bytes& key, const Bytes& sealed) {
    if (sealed.size() < 16) return std::nullopt;
    auto clear = testsupport::opensslCbc(true, key, Bytes(sealed.begin(), sealed.begin() + 16),
                                         Bytes(sealed.begin() + 16, sealed.end()));
    if (!clear) return std::nullopt;
    return ostrelcomm::toText(*clear);
}

using testsupport::ListingOracle;
using testsupport::metadataText;

}  // namespace treetest
