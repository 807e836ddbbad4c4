#include "support/ListingOracle.h"

#include "devserver/Base64.h"

namespace testsupport {

std::optional<ListingOracle> ListingOracle::forAccount(const std::string& wrappedUmk, const std::string& password) {
    ListingOracle oracle;
    oracle.passwordKey = oraclePasswordKey(password);
    auto umk = oracleUnwrap(wrappedUmk, oracle.passwordKey);
    if (!umk || umk->size() != 48) return std::nullopt;
    oracle.umk = std::move(*umk);
    return oracle;
}

Bytes ListingOracle::sealedMetadata(const Item& item) const {
    return oracleSeal(item.metadataKey.value_or(keyBytes(item)), ostrelcomm::toBytes(item.metadata));
}

nlohmann::json ListingOracle::item(const Item& i) const {
    nlohmann::json out = {
        {"uuid", i.uuid},
        {"type", i.type},
        {"orig_size", i.orig_size},
        {"attrib", i.attrib},
        {"metadata", devserver::base64Encode(sealedMetadata(i))},
        {"itemkey", wrappedItemKey(i)},
        {"thumbnailsize", i.thumbnailsize},
    };
    if (i.parentuuid) out["parentuuid"] = *i.parentuuid;
    return out;
}

nlohmann::json ListingOracle::body(const std::optional<Item>& informations, const std::vector<Item>& content) const {
    nlohmann::json out = {{"umk", wrappedUmk()}};
    if (informations) out["informations"] = item(*informations);
    out["content"] = nlohmann::json::array();
    for (const auto& i : content) out["content"].push_back(item(i));
    return out;
}

std::optional<nlohmann::json> ListingOracle::openMetadata(const std::string& wrappedItemKey, const Bytes& sealed) const {
    auto itemKey = unwrapItemKey(wrappedItemKey);
    if (!itemKey || itemKey->size() != 48) return std::nullopt;
    auto clear = oracleOpen(Bytes(itemKey->begin() + 16, itemKey->end()), sealed);
    if (!clear) return std::nullopt;
    auto value = nlohmann::json::parse(clear->begin(), clear->end(), nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

std::string metadataText(const std::string& name, const std::string& created, const std::string& modified) {
    return nlohmann::json{{"name", name}, {"creationDate", created}, {"modificationDate", modified}}.dump();
}

}  // namespace testsupport
