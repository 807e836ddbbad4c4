#include "crypto/EncryptionKey.h"

#include <utility>

#include "crypto/CryptoError.h"
#include "crypto/Digest.h"
#include "encoding/Encoding.h"
#include "crypto/Random.h"
#include "json/StrictJson.h"

namespace ostrelcomm {

EncryptionKey::EncryptionKey(CipherAlgorithm algorythm, std::int64_t keyLen_)
    : algo(algorythm), keyLen(keyLen_), blockSize(static_cast<std::int64_t>(ostrelcomm::blockSize(algorythm))) {
    if (keyLen < 0) throw CryptoError("key length must not be negative");
    key.iv = SecretBytes(randomBytes(static_cast<std::size_t>(blockSize)));
    key.key = SecretBytes(randomBytes(static_cast<std::size_t>(keyLen)));
}

EncryptionKey::EncryptionKey(Key key_, CipherAlgorithm algorythm, std::int64_t keyLen_)
    : key(std::move(key_)), algo(algorythm), keyLen(keyLen_),
      blockSize(static_cast<std::int64_t>(ostrelcomm::blockSize(algorythm))) {}

EncryptionKey::Key EncryptionKey::encryptKey(ByteView encryptionKey) const {
    SecretBytes plain(key.iv.view());
    plain.append(key.key.view());
    Bytes wrapIv = randomBytes(static_cast<std::size_t>(blockSize));
    StreamCryptor cryptor(StreamCryptor::Operation::encrypt, algo, encryptionKey, wrapIv);
    Bytes cipher(plain.size() + static_cast<std::size_t>(blockSize));
    std::size_t n = cryptor.update(plain.view(), cipher.data());
    n += cryptor.final(cipher.data() + n);
    cipher.resize(n);
    return Key{SecretBytes(std::move(wrapIv)), SecretBytes(std::move(cipher))};
}

std::string EncryptionKey::encryptKeyText(ByteView encryptionKey) const {
    return encodeWrapped(encryptKey(encryptionKey));
}

std::string EncryptionKey::encodeWrapped(const Key& wrapped) {
    json::OrderedJson object = json::OrderedJson::object();
    json::putBase64(object, "iv", wrapped.iv.view());
    json::putBase64(object, "key", wrapped.key.view());
    return json::dump(object);
}

EncryptionKey::Key EncryptionKey::decodeWrapped(std::string_view text) {
    try {
        auto object = json::parse(text);
        json::asObject(object, "wrapped key");
        return Key{SecretBytes(json::requireBase64(object, "iv")), SecretBytes(json::requireBase64(object, "key"))};
    } catch (const json::DecodeError& e) {
        throw KeyDecodeError(std::string("wrapped key is malformed: ") + e.what());
    }
}

EncryptionKey EncryptionKey::decryptKey(std::string_view encryptedKey, ByteView encryptionKey,
                                        CipherAlgorithm algorythm, std::int64_t keyLen) {
    Key wrapped = decodeWrapped(encryptedKey);
    StreamCryptor cryptor(StreamCryptor::Operation::decrypt, algorythm, encryptionKey, wrapped.iv.view());
    SecretBytes plain;
    plain.resize(wrapped.key.size() + 16);
    std::size_t n = cryptor.update(wrapped.key.view(), plain.data());
    n += cryptor.final(plain.data() + n);
    plain.resize(n);

    // The IV is what precedes the last keyLen bytes and the key what follows
    // the first block; for a well-formed 48-byte plaintext they split it.
    auto len = plain.size();
    auto keyLength = keyLen < 0 ? std::size_t{0} : static_cast<std::size_t>(keyLen);
    auto block = ostrelcomm::blockSize(algorythm);
    std::size_t ivLen = len > keyLength ? len - keyLength : 0;
    std::size_t keyStart = len > block ? block : len;
    return EncryptionKey(Key{SecretBytes(ByteView(plain.data(), ivLen)),
                             SecretBytes(ByteView(plain.data() + keyStart, len - keyStart))},
                         CipherAlgorithm::aes256, 32);
}

EncryptionKey EncryptionKey::unwrapAes256(std::string_view wrapped, ByteView wrappingKey) {
    EncryptionKey key = decryptKey(wrapped, wrappingKey, CipherAlgorithm::aes256, 32);
    if (key.key.iv.size() != 16 || key.key.key.size() != 32)
        throw CryptoError("unwrapped key is not an AES-256 key object");
    return key;
}

EncryptionKey EncryptionKey::decryptKeyHex(std::string_view encryptedKey, std::string_view encryptionKeyHex,
                                           CipherAlgorithm algorythm, std::int64_t keyLen) {
    auto keyBytes = fromHex(encryptionKeyHex);
    if (!keyBytes) throw KeyDecodeError("unwrapping key is not hexadecimal text");
    SecretBytes secret(std::move(*keyBytes));
    return decryptKey(encryptedKey, secret.view(), algorythm, keyLen);
}

SecretBytes EncryptionKey::prepareEncryptionPassword(std::optional<std::string_view> password) {
    std::string_view text = password.value_or(std::string_view{});
    if (text.size() > 32) return SecretBytes(sha256(asBytes(text)));
    SecretBytes out(asBytes(text));
    out.resize(32);
    return out;
}

}  // namespace ostrelcomm
