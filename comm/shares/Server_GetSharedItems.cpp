#include "shares/Server_GetSharedItems.h"

#include <exception>
#include <optional>
#include <utility>

#include "crypto/curve25519/SharedSecretKey.h"
#include "http/ServerAnswer.h"
#include "platform/SystemLog.h"

namespace ostrelcomm {

namespace {

constexpr char kSharedKeyFailed[] = "Error when computing a shared key";
constexpr char kItemKeyFailed[] = "Error decrypting item key";
constexpr char kMetadataFailed[] = "Error decrypting item metadata";

}  // namespace

Server_GetSharedItems Server_GetSharedItems::fromBody(ByteView body) {
    return answer::decodeRecord<Server_GetSharedItems>(body);
}

void from_json(const json::Json& value, Server_GetSharedItems::RawRemoteItemInfo& record) {
    json::asObject(value, "shared item");
    record.ownerusername = json::requireString(value, "ownerusername");
    record.ownerpubshkey = json::requireBase64(value, "ownerpubshkey");
    record.owneruuid = json::requireString(value, "owneruuid");
    record.shareid = json::requireString(value, "shareid");
    record.itemuuid = json::requireString(value, "itemuuid");
    record.itemkey = json::requireString(value, "itemkey");
    record.keyalgorythm = json::requireString(value, "keyalgorythm");
    from_json(json::required(value, "itemtype"), record.itemtype);
    record.orig_size = json::requireInteger<std::uint64_t>(value, "orig_size");
    record.treehash = json::requireString(value, "treehash");
    record.itemalgorythm = json::requireString(value, "itemalgorythm");
    record.itemencoderversion = json::requireString(value, "itemencoderversion");
    record.metadata = json::requireBase64(value, "metadata");
}

void from_json(const json::Json& value, Server_GetSharedItems& record) {
    record.userprivatekey = json::requireString(value, "userprivatekey");
    const json::Json& items = json::asArray(json::required(value, "sharedItems"), "sharedItems");
    record.sharedItems.clear();
    record.sharedItems.reserve(items.size());
    for (const auto& item : items) {
        Server_GetSharedItems::RawRemoteItemInfo raw{};
        from_json(item, raw);
        record.sharedItems.push_back(std::move(raw));
    }
}

std::vector<SharedItem> Server_GetSharedItems::decryptKeys(const PrivateKey& privateKey) const {
    std::vector<SharedItem> items;
    items.reserve(sharedItems.size());
    for (const RawRemoteItemInfo& raw : sharedItems) {
        // A low-order owner key is taken as it comes: the share exists, and
        // refusing it here would only hide it from its reader.
        std::optional<SharedSecretKey> sharedKey;
        try {
            sharedKey.emplace(privateKey, raw.ownerpubshkey);
        } catch (const std::exception&) {
            systemLog(kSharedKeyFailed);
            continue;
        }
        std::optional<EncryptionKey> itemKey;
        try {
            itemKey = EncryptionKey::unwrapAes256(raw.itemkey, sharedKey->KeyValue().view());
        } catch (const std::exception&) {
            systemLog(kItemKeyFailed);
            continue;
        }
        sharedKey.reset();
        std::optional<RemoteItemMetadata> metadata;
        try {
            metadata = RemoteItemMetadata::decrypt(raw.metadata, *itemKey, CipherAlgorithm::aes256, 32);
        } catch (const std::exception&) {
            systemLog(kMetadataFailed);
            continue;
        }
        items.push_back(SharedItem{raw.ownerusername, raw.owneruuid, raw.shareid, raw.itemuuid, std::move(*itemKey),
                                   raw.itemtype, raw.orig_size, raw.treehash, raw.itemalgorythm,
                                   raw.itemencoderversion, std::move(*metadata)});
    }
    return items;
}

}  // namespace ostrelcomm
