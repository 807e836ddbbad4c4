#include "tree/RemoteItemMetadata.h"

#include "crypto/CbcEnvelope.h"
#include "crypto/CryptoError.h"
#include "crypto/Random.h"
#include "json/StrictJson.h"

namespace ostrelcomm {

namespace {

constexpr const char* kTreehashKey = "treehash-SHA256";
constexpr const char* kClearFileHashKey = "filehash-SHA256";

}  // namespace

const char* RemoteItemMetadata::MetadataError::what() const noexcept {
    switch (case_) {
        case exceptions::unableToEncryptMetadata: return "unableToEncryptMetadata";
        case exceptions::unableToDecryptMetadata: return "unableToDecryptMetadata";
        case exceptions::invalidMetadata: return "invalidMetadata";
    }
    return "invalidMetadata";
}

RemoteItemMetadata::RemoteItemMetadata(std::string name_, std::chrono::sys_seconds creationDate_,
                                       std::chrono::sys_seconds modificationDate_)
    : name(std::move(name_)), creationDate(creationDate_), modificationDate(modificationDate_) {}

RemoteItemMetadata RemoteItemMetadata::invalidPlaceholder() {
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    return RemoteItemMetadata(std::string(kInvalidMetadataName), now, now);
}

RemoteItemMetadata RemoteItemMetadata::decode(ByteView bytes) {
    const json::Json value = json::parse(bytes);
    json::asObject(value, "metadata");
    RemoteItemMetadata metadata(json::requireString(value, "name"), json::requireDate(value, "creationDate"),
                                json::requireDate(value, "modificationDate"));
    metadata.fileSize = json::optionalInteger<std::int64_t>(value, "fileSize");
    metadata.mime = json::optionalString(value, "mime");
    metadata.isPackage = json::optionalBool(value, "isPackage");
    metadata.thumbnailmime = json::optionalString(value, "thumbnailmime");
    metadata.thumbnail = json::optionalBase64(value, "thumbnail");
    metadata.treehash = json::optionalString(value, kTreehashKey);
    metadata.clearFileHash = json::optionalString(value, kClearFileHashKey);
    return metadata;
}

Bytes RemoteItemMetadata::encode() const {
    json::OrderedJson object = json::OrderedJson::object();
    object["name"] = name;
    json::putDate(object, "creationDate", creationDate);
    json::putDate(object, "modificationDate", modificationDate);
    json::putOptional(object, "fileSize", fileSize);
    json::putOptional(object, "mime", mime);
    json::putOptional(object, "isPackage", isPackage);
    json::putOptional(object, "thumbnailmime", thumbnailmime);
    if (thumbnail) json::putBase64(object, "thumbnail", *thumbnail);
    json::putOptional(object, kTreehashKey, treehash);
    json::putOptional(object, kClearFileHashKey, clearFileHash);
    return json::dumpBytes(object);
}

Bytes RemoteItemMetadata::encrypt(const RemoteItemMetadata& metadata, const EncryptionKey& encryptionKey,
                                  CipherAlgorithm algorythm, std::int64_t /*keyLen*/) {
    RemoteItemMetadata copy = metadata;
    copy.thumbnailmime.reset();
    copy.thumbnail.reset();
    const Bytes plain = copy.encode();
    const Bytes iv = randomBytes(CbcEnvelope::kIvSize);
    if (blockSize(algorythm) != CbcEnvelope::kIvSize) throw MetadataError(exceptions::unableToEncryptMetadata);
    try {
        return CbcEnvelope::seal(encryptionKey.key.key.view(), iv, plain);
    } catch (const CryptoError&) {
        throw MetadataError(exceptions::unableToEncryptMetadata);
    }
}

RemoteItemMetadata RemoteItemMetadata::decrypt(ByteView cypher, const EncryptionKey& encryptionKey,
                                               CipherAlgorithm algorythm, std::int64_t /*keyLen*/) {
    if (blockSize(algorythm) != CbcEnvelope::kIvSize) throw MetadataError(exceptions::unableToDecryptMetadata);
    Bytes plain;
    try {
        plain = CbcEnvelope::open(encryptionKey.key.key.view(), cypher);
    } catch (const CryptoError&) {
        throw MetadataError(exceptions::unableToDecryptMetadata);
    }
    try {
        return decode(plain);
    } catch (const json::DecodeError&) {
        throw MetadataError(exceptions::invalidMetadata);
    } catch (const json::Json::exception&) {
        throw MetadataError(exceptions::invalidMetadata);
    }
}

}  // namespace ostrelcomm
