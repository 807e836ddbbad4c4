#include "tree/RemoteDirInfo.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>

#include "json/StrictJson.h"
#include "tree/NameOrder.h"

namespace ostrelcomm {

namespace {

// The wire form of one item: local to the reader, decoded in full before any
// key is touched.
struct RawRemoteItemInfo {
    std::string uuid;
    RemoteItemType type = RemoteItemType::FILE;
    std::optional<std::string> parentuuid;
    std::uint64_t orig_size = 0;
    std::vector<std::string> attrib;
    Bytes metadata;
    std::string itemkey;
    std::uint64_t thumbnailsize = 0;
};

struct RawRemoteDirInfo {
    std::string umk;
    std::optional<RawRemoteItemInfo> informations;
    std::vector<RawRemoteItemInfo> content;
};

RawRemoteItemInfo decodeItem(const json::Json& value) {
    json::asObject(value, "listing item");
    RawRemoteItemInfo raw;
    raw.uuid = json::requireString(value, "uuid");
    from_json(json::required(value, "type"), raw.type);
    raw.parentuuid = json::optionalString(value, "parentuuid");
    raw.orig_size = json::requireInteger<std::uint64_t>(value, "orig_size");
    for (const auto& word : json::asArray(json::required(value, "attrib"), "attrib"))
        raw.attrib.push_back(json::asString(word, "attrib"));
    raw.metadata = json::requireBase64(value, "metadata");
    raw.itemkey = json::requireString(value, "itemkey");
    raw.thumbnailsize = json::requireInteger<std::uint64_t>(value, "thumbnailsize");
    return raw;
}

RawRemoteDirInfo decodeListing(ByteView body) {
    const json::Json value = json::parse(body);
    json::asObject(value, "listing");
    RawRemoteDirInfo raw;
    raw.umk = json::requireString(value, "umk");
    if (const json::Json* informations = json::member(value, "informations"))
        raw.informations = decodeItem(*informations);
    if (const json::Json* content = json::member(value, "content")) {
        json::asArray(*content, "content");
        raw.content.reserve(content->size());
        for (const auto& item : *content) raw.content.push_back(decodeItem(item));
    }
    return raw;
}

RemoteItemInfo readItem(RawRemoteItemInfo&& raw, const EncryptionKey& umk) {
    EncryptionKey filekey = EncryptionKey::unwrapAes256(raw.itemkey, umk.key.key.view());
    std::optional<RemoteItemMetadata> metadata;
    try {
        metadata = RemoteItemMetadata::decrypt(raw.metadata, filekey);
    } catch (const RemoteItemMetadata::MetadataError&) {
        metadata = RemoteItemMetadata::invalidPlaceholder();
    }
    return RemoteItemInfo{std::move(raw.uuid),   raw.type,           std::move(raw.parentuuid), raw.orig_size,
                          std::move(raw.attrib), std::move(filekey), std::move(*metadata),      raw.thumbnailsize};
}

template <class T>
bool itemComparator(const T& lhs, const T& rhs, bool ascending) {
    return ascending ? lhs < rhs : lhs > rhs;
}

// Folders before files ascending; the order of the kinds is ours to fix.
int kindRank(RemoteItemType type) {
    switch (type) {
        case RemoteItemType::ROOT: return 0;
        case RemoteItemType::DIRECTORY: return 1;
        case RemoteItemType::FILE: return 2;
    }
    return 3;
}

}  // namespace

std::optional<RemoteDirInfo::FileOrder> RemoteDirInfo::fileOrderFromRaw(std::string_view raw) {
    if (raw == "name") return FileOrder::name;
    if (raw == "modificationDate") return FileOrder::modificationDate;
    if (raw == "size") return FileOrder::size;
    if (raw == "itemType") return FileOrder::itemType;
    return std::nullopt;
}

std::string_view RemoteDirInfo::rawValue(FileOrder order) {
    switch (order) {
        case FileOrder::name: return "name";
        case FileOrder::modificationDate: return "modificationDate";
        case FileOrder::size: return "size";
        case FileOrder::itemType: return "itemType";
    }
    return "name";
}

std::shared_ptr<RemoteDirInfo> RemoteDirInfo::create(ByteView jsonData, ByteView decryptPassword) {
    RawRemoteDirInfo raw = decodeListing(jsonData);
    std::shared_ptr<RemoteDirInfo> info(new RemoteDirInfo(EncryptionKey::unwrapAes256(raw.umk, decryptPassword)));
    if (raw.informations) info->informations = readItem(std::move(*raw.informations), info->umk_);
    info->content.reserve(raw.content.size());
    for (auto& item : raw.content) info->content.push_back(readItem(std::move(item), info->umk_));
    return info;
}

void RemoteDirInfo::contentsOrderedBy(FileOrder order, bool ascending) {
    std::vector<std::size_t> positions(content.size());
    std::iota(positions.begin(), positions.end(), std::size_t{0});
    const auto sortBy = [&](auto&& less) { std::stable_sort(positions.begin(), positions.end(), less); };
    switch (order) {
        case FileOrder::name: {
            // Normalised once per item, not once per comparison.
            std::vector<std::string> keys;
            keys.reserve(content.size());
            for (const auto& item : content) keys.push_back(nameOrderKey(item.metadata.name));
            sortBy([&](std::size_t a, std::size_t b) { return itemComparator(keys[a], keys[b], ascending); });
            break;
        }
        case FileOrder::modificationDate:
            sortBy([&](std::size_t a, std::size_t b) {
                return itemComparator(content[a].metadata.modificationDate, content[b].metadata.modificationDate,
                                      ascending);
            });
            break;
        case FileOrder::size:
            sortBy([&](std::size_t a, std::size_t b) {
                return itemComparator(content[a].orig_size, content[b].orig_size, ascending);
            });
            break;
        case FileOrder::itemType:
            sortBy([&](std::size_t a, std::size_t b) {
                return itemComparator(kindRank(content[a].type), kindRank(content[b].type), ascending);
            });
            break;
    }
    std::vector<RemoteItemInfo> sorted;
    sorted.reserve(content.size());
    for (std::size_t position : positions) sorted.push_back(std::move(content[position]));
    content = std::move(sorted);
}

}  // namespace ostrelcomm
