#pragma once

// Helpers of the tree tests: item keys with chosen bytes, dates, the sealed
// form (IV ‖ AES-256-CBC) made and read by the openssl command line, and
// listing bodies made on OpenSSL alone.

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

// A listing body as the server sends it, every key and metadata made by the
// oracle: the user master key wrapped under the password key, each item key
// under the master key's 32 key bytes, each metadata JSON text sealed under
// its item key.
struct ListingOracle {
    struct Item {
        std::string uuid;
        std::string type = "FILE";
        std::optional<std::string> parentuuid;
        std::uint64_t orig_size = 0;
        std::vector<std::string> attrib;
        std::string metadata;  // clear JSON text
        std::uint64_t thumbnailsize = 0;
        Bytes itemKey = testsupport::oracleRandom(48);  // iv ‖ key
        // Set to seal the metadata under other key bytes than the item's.
        std::optional<Bytes> metadataKey;
    };

    Bytes passwordKey = testsupport::oraclePasswordKey("correct horse battery staple, long enough to hash");
    Bytes umk = testsupport::oracleRandom(48);  // iv ‖ key

    Bytes umkKeyBytes() const { return Bytes(umk.begin() + 16, umk.end()); }
    static Bytes keyBytes(const Item& item) { return Bytes(item.itemKey.begin() + 16, item.itemKey.end()); }

    nlohmann::json item(const Item& i) const {
        nlohmann::json out = {
            {"uuid", i.uuid},
            {"type", i.type},
            {"orig_size", i.orig_size},
            {"attrib", i.attrib},
            {"metadata", devserver::base64Encode(testsupport::oracleSeal(i.metadataKey.value_or(keyBytes(i)),
                                                                         ostrelcomm::toBytes(i.metadata)))},
            {"itemkey", testsupport::oracleWrap(i.itemKey, umkKeyBytes())},
            {"thumbnailsize", i.thumbnailsize},
        };
        if (i.parentuuid) out["parentuuid"] = *i.parentuuid;
        return out;
    }

    nlohmann::json body(const std::optional<Item>& informations, const std::vector<Item>& content) const {
        nlohmann::json out = {{"umk", testsupport::oracleWrap(umk, passwordKey)}};
        if (informations) out["informations"] = item(*informations);
        out["content"] = nlohmann::json::array();
        for (const auto& i : content) out["content"].push_back(item(i));
        return out;
    }
};

// A metadata JSON text with a name and both dates.
inline std::string metadataText(const std::string& name, const std::string& created = "2021-03-04T05:06:07Z",
                                const std::string& modified = "2022-01-02T03:04:05Z") {
    return nlohmann::json{{"name", name}, {"creationDate", created}, {"modificationDate", modified}}.dump();
}

}  // namespace treetest
