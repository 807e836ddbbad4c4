#pragma once

// The remote tree's key chain and sealed metadata made and read on OpenSSL
// alone (CryptoOracle), never on the client's key or metadata code: listing
// bodies as the server sends them, items as another client would have
// stored them, and the reading of what the client stored.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Bytes.h"
#include "support/CryptoOracle.h"

namespace testsupport {

// One account's key chain: the user master key (iv ‖ key) wrapped under the
// password key, each item key (iv ‖ key) under the master key's 32 key bytes,
// each metadata JSON text sealed under its item key's 32 key bytes.
struct ListingOracle {
    struct Item {
        std::string uuid;
        std::string type = "FILE";
        std::optional<std::string> parentuuid;
        std::uint64_t orig_size = 0;
        std::vector<std::string> attrib;
        std::string metadata;  // clear JSON text
        std::uint64_t thumbnailsize = 0;
        Bytes itemKey = oracleRandom(48);  // iv ‖ key
        // Set to seal the metadata under other key bytes than the item's.
        std::optional<Bytes> metadataKey;
    };

    Bytes passwordKey = oraclePasswordKey("correct horse battery staple, long enough to hash");
    Bytes umk = oracleRandom(48);  // iv ‖ key

    // The chain of an account whose wrapped master key and password are known.
    static std::optional<ListingOracle> forAccount(const std::string& wrappedUmk, const std::string& password);

    Bytes umkKeyBytes() const { return Bytes(umk.begin() + 16, umk.end()); }
    static Bytes keyBytes(const Item& item) { return Bytes(item.itemKey.begin() + 16, item.itemKey.end()); }

    std::string wrappedUmk() const { return oracleWrap(umk, passwordKey); }
    std::string wrappedItemKey(const Item& item) const { return oracleWrap(item.itemKey, umkKeyBytes()); }
    Bytes sealedMetadata(const Item& item) const;

    // One listing item and a whole listing body.
    nlohmann::json item(const Item& i) const;
    nlohmann::json body(const std::optional<Item>& informations, const std::vector<Item>& content) const;

    // The iv ‖ key inside an item key wrapped under this master key.
    std::optional<Bytes> unwrapItemKey(const std::string& wrapped) const { return oracleUnwrap(wrapped, umkKeyBytes()); }
    // The metadata an item stores, as JSON: its key unwrapped under this
    // master key, its sealed metadata opened under the item key's 32 key
    // bytes. Absent when either does not open or the clear text is no JSON.
    std::optional<nlohmann::json> openMetadata(const std::string& wrappedItemKey, const Bytes& sealed) const;
};

// A metadata JSON text with a name and both dates.
std::string metadataText(const std::string& name, const std::string& created = "2021-03-04T05:06:07Z",
                         const std::string& modified = "2022-01-02T03:04:05Z");

}  // namespace testsupport
