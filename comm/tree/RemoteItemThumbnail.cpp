#include "tree/RemoteItemThumbnail.h"

#include "crypto/CbcEnvelope.h"
#include "crypto/CryptoError.h"
#include "crypto/Random.h"
#include "json/StrictJson.h"

namespace ostrelcomm {

const char* RemoteItemThumbnail::ThumbnailError::what() const noexcept {
    switch (case_) {
        case exceptions::unableToEncryptThumbnail: return "unableToEncryptThumbnail";
        case exceptions::unableToDecryptThumbnail: return "unableToDecryptThumbnail";
        case exceptions::invalidThumbnail: return "invalidThumbnail";
    }
    return "invalidThumbnail";
}

RemoteItemThumbnail::RemoteItemThumbnail(std::string thumbnailmime_, Bytes thumbnail_)
    : thumbnailmime(std::move(thumbnailmime_)), thumbnail(std::move(thumbnail_)) {}

RemoteItemThumbnail RemoteItemThumbnail::decode(ByteView bytes) {
    const json::Json value = json::parse(bytes);
    json::asObject(value, "thumbnail record");
    return RemoteItemThumbnail(json::requireString(value, "thumbnailmime"), json::requireBase64(value, "thumbnail"));
}

Bytes RemoteItemThumbnail::encode() const {
    json::OrderedJson object = json::OrderedJson::object();
    object["thumbnailmime"] = thumbnailmime;
    json::putBase64(object, "thumbnail", thumbnail);
    return json::dumpBytes(object);
}

std::optional<Bytes> RemoteItemThumbnail::encrypt(const std::optional<RemoteItemThumbnail>& thumbnailData,
                                                  const EncryptionKey& encryptionKey, CipherAlgorithm algorythm,
                                                  std::int64_t /*keyLen*/) {
    if (!thumbnailData) return std::nullopt;
    const Bytes plain = thumbnailData->encode();
    const Bytes iv = randomBytes(CbcEnvelope::kIvSize);
    if (blockSize(algorythm) != CbcEnvelope::kIvSize) throw ThumbnailError(exceptions::unableToEncryptThumbnail);
    try {
        return CbcEnvelope::seal(encryptionKey.key.key.view(), iv, plain);
    } catch (const CryptoError&) {
        throw ThumbnailError(exceptions::unableToEncryptThumbnail);
    }
}

std::optional<RemoteItemThumbnail> RemoteItemThumbnail::decrypt(const std::optional<Bytes>& cypher,
                                                                const EncryptionKey& encryptionKey,
                                                                CipherAlgorithm algorythm, std::int64_t /*keyLen*/) {
    if (!cypher) return std::nullopt;
    if (blockSize(algorythm) != CbcEnvelope::kIvSize) throw ThumbnailError(exceptions::unableToDecryptThumbnail);
    Bytes plain;
    try {
        plain = CbcEnvelope::open(encryptionKey.key.key.view(), *cypher);
    } catch (const CryptoError&) {
        throw ThumbnailError(exceptions::unableToDecryptThumbnail);
    }
    try {
        return decode(plain);
    } catch (const json::DecodeError&) {
        throw ThumbnailError(exceptions::invalidThumbnail);
    } catch (const json::Json::exception&) {
        throw ThumbnailError(exceptions::invalidThumbnail);
    }
}

}  // namespace ostrelcomm
