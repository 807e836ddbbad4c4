#include "tree/Server_CopyPrepare.h"

#include <utility>

#include "http/ServerAnswer.h"
#include "tree/SharedItemKey.h"

namespace ostrelcomm {

const char* Server_CopyPrepare::CopyPrepareError::what() const noexcept {
    switch (case_) {
        case exceptions::unableToDecryptUK: return "unableToDecryptUK";
        case exceptions::ownerPublicKeyNotPresent: return "ownerPublicKeyNotPresent";
        case exceptions::userPrivateKeyNotPresent: return "userPrivateKeyNotPresent";
        case exceptions::unableToDecryptUserPrivateKey: return "unableToDecryptUserPrivateKey";
    }
    return "unableToDecryptUK";
}

Server_CopyPrepare Server_CopyPrepare::fromBody(ByteView body) {
    Server_CopyPrepare answer;
    answer.infos = answer::decodeRecord<RawFileInfo>(body);
    return answer;
}

EncryptionKey Server_CopyPrepare::decryptUserKey(ByteView password) const {
    if (!infos.umk) throw CopyPrepareError(exceptions::unableToDecryptUserPrivateKey);
    return EncryptionKey::unwrapAes256(*infos.umk, password);
}

EncryptionKey Server_CopyPrepare::decryptFileKey(ByteView password) const {
    if (!infos.pubshkey && !infos.privshkey) {
        const EncryptionKey umk = decryptUserKey(password);
        return EncryptionKey::unwrapAes256(infos.itemkey, umk.key.key.view());
    }
    return openSharedItemKey<CopyPrepareError>(infos, password);
}

void from_json(const json::Json& value, Server_CopyPrepare::RawFileInfo& record) {
    record.itemUUID = json::requireString(value, "itemUUID");
    record.fileSize = json::requireInteger<std::uint64_t>(value, "fileSize");
    record.itemkey = json::requireString(value, "itemkey");
    record.umk = json::optionalString(value, "umk");
    record.pubshkey = json::optionalBase64(value, "pubshkey");
    record.privshkey = json::optionalString(value, "privshkey");
}

void to_json(json::OrderedJson& value, const Server_CopyPrepare::RawFileInfo& record) {
    value = json::OrderedJson::object();
    value["itemUUID"] = record.itemUUID;
    value["fileSize"] = record.fileSize;
    value["itemkey"] = record.itemkey;
    json::putOptional(value, "umk", record.umk);
    if (record.pubshkey) json::putBase64(value, "pubshkey", *record.pubshkey);
    json::putOptional(value, "privshkey", record.privshkey);
}

Bytes CopyExecuteData::encode() const { return json::dumpBytes(json::OrderedJson(*this)); }

CopyExecuteData CopyExecuteData::decode(ByteView body) {
    const json::Json value = json::parse(body);
    json::asObject(value, "copy data");
    CopyExecuteData data;
    from_json(value, data);
    return data;
}

void to_json(json::OrderedJson& value, const CopyExecuteData& data) {
    value = json::OrderedJson::object();
    value["parentUUID"] = data.parentUUID;
    value["itemkey"] = data.itemkey;
}

void from_json(const json::Json& value, CopyExecuteData& data) {
    data.parentUUID = json::requireString(value, "parentUUID");
    data.itemkey = json::requireString(value, "itemkey");
}

}  // namespace ostrelcomm
