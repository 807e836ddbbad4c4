#include "tree/Server_FileInformations.h"

#include <utility>

#include "http/ServerAnswer.h"
#include "tree/RemoteItemThumbnail.h"
#include "tree/SharedItemKey.h"

namespace ostrelcomm {

const char* Server_FileInformations::FileInformationsError::what() const noexcept {
    switch (case_) {
        case exceptions::unableToDecryptUK: return "unableToDecryptUK";
        case exceptions::ownerPublicKeyNotPresent: return "ownerPublicKeyNotPresent";
        case exceptions::userPrivateKeyNotPresent: return "userPrivateKeyNotPresent";
        case exceptions::unableToDecryptUserPrivateKey: return "unableToDecryptUserPrivateKey";
    }
    return "unableToDecryptUK";
}

Server_FileInformations Server_FileInformations::fromBody(ByteView body) {
    Server_FileInformations answer;
    answer.infos = answer::decodeRecord<RawFileInfo>(body);
    return answer;
}

EncryptionKey Server_FileInformations::decryptMetadata(ByteView password) {
    std::optional<EncryptionKey> fileKey;
    if (infos.umk) {
        const EncryptionKey umk = EncryptionKey::unwrapAes256(*infos.umk, password);
        fileKey = EncryptionKey::unwrapAes256(infos.itemkey, umk.key.key.view());
    } else {
        fileKey = openSharedItemKey<FileInformationsError>(infos, password);
    }

    metadataDecrypted_ = false;
    try {
        RemoteItemMetadata metadata = RemoteItemMetadata::decrypt(infos.metadata, *fileKey);
        if (!metadata.thumbnailmime && infos.thumbnail) {
            if (auto thumbnail = RemoteItemThumbnail::decrypt(infos.thumbnail, *fileKey)) {
                metadata.thumbnail = std::move(thumbnail->thumbnail);
                metadata.thumbnailmime = std::move(thumbnail->thumbnailmime);
            }
        }
        fileMetadata = std::move(metadata);
        metadataDecrypted_ = true;
    } catch (const std::exception&) {
        // Unreadable metadata or thumbnail costs the item its description,
        // not its key.
        fileMetadata = RemoteItemMetadata::invalidPlaceholder();
    }
    return std::move(*fileKey);
}

void from_json(const json::Json& value, Server_FileInformations::RawFileInfo& record) {
    record.itemUUID = json::requireString(value, "itemUUID");
    record.parentUUID = json::optionalString(value, "parentUUID");
    record.type = json::requireString(value, "type");
    record.fileSize = json::requireInteger<std::uint64_t>(value, "fileSize");
    const json::Json& attrib = json::asArray(json::required(value, "attrib"), "attrib");
    record.attrib.clear();
    record.attrib.reserve(attrib.size());
    for (const auto& word : attrib) record.attrib.push_back(json::asString(word, "attrib"));
    record.metadata = json::requireBase64(value, "metadata");
    record.thumbnail = json::optionalBase64(value, "thumbnail");
    record.itemkey = json::requireString(value, "itemkey");
    record.umk = json::optionalString(value, "umk");
    record.pubshkey = json::optionalBase64(value, "pubshkey");
    record.privshkey = json::optionalString(value, "privshkey");
}

void to_json(json::OrderedJson& value, const Server_FileInformations::RawFileInfo& record) {
    value = json::OrderedJson::object();
    value["itemUUID"] = record.itemUUID;
    json::putOptional(value, "parentUUID", record.parentUUID);
    value["type"] = record.type;
    value["fileSize"] = record.fileSize;
    value["attrib"] = record.attrib;
    json::putBase64(value, "metadata", record.metadata);
    if (record.thumbnail) json::putBase64(value, "thumbnail", *record.thumbnail);
    value["itemkey"] = record.itemkey;
    json::putOptional(value, "umk", record.umk);
    if (record.pubshkey) json::putBase64(value, "pubshkey", *record.pubshkey);
    json::putOptional(value, "privshkey", record.privshkey);
}

}  // namespace ostrelcomm
