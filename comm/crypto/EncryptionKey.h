#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "crypto/SecretBytes.h"
#include "crypto/StreamCryptor.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// The one symmetric key object: the user master key, every item key, and the
// carrier of a wrapped private sharing key. A key is wrapped under another
// with AES-256-CBC/PKCS#7 and a fresh IV each time, and travels as the
// compact JSON text {"iv","key"} with base64 values.
class EncryptionKey {
public:
    // Plain content of a key object (its own IV and key bytes), or a wrapped
    // key (the wrap's IV and the ciphertext of iv‖key).
    struct Key {
        SecretBytes iv;
        SecretBytes key;
    };

    // Draws a fresh IV (block size) and key (keyLen) from the secure random
    // source. Throws CryptoError if the source fails.
    EncryptionKey(CipherAlgorithm algorythm, std::int64_t keyLen);

    Key key;
    CipherAlgorithm algo;
    std::int64_t keyLen;
    std::int64_t blockSize;

    // Wraps this key under encryptionKey. Throws CryptoError.
    Key encryptKey(ByteView encryptionKey) const;
    // The same, as the wrapped-key JSON text.
    std::string encryptKeyText(ByteView encryptionKey) const;

    // Unwraps a wrapped-key JSON text. Throws KeyDecodeError for a text that is
    // not a JSON object with both base64 members, CryptoError for a cipher run
    // that cannot complete (the usual outcome of a wrong key).
    static EncryptionKey decryptKey(std::string_view encryptedKey, ByteView encryptionKey,
                                    CipherAlgorithm algorythm, std::int64_t keyLen);
    // Unwraps a wrapped key that must be an AES-256 key object: a 16-byte IV
    // and a 32-byte key. A wrong unwrapping key passes the padding check now
    // and then and yields a clear text of another length; such a key would
    // wrap, seal or be stored as it came out, so it throws CryptoError here.
    // Other failures as decryptKey.
    static EncryptionKey unwrapAes256(std::string_view wrapped, ByteView wrappingKey);
    // The unwrapping key given as hexadecimal text.
    static EncryptionKey decryptKeyHex(std::string_view encryptedKey, std::string_view encryptionKeyHex,
                                       CipherAlgorithm algorythm, std::int64_t keyLen);

    // The 32-byte password key: the password's UTF-8 bytes padded with zeros to
    // 32, or their SHA-256 digest when longer. No salt, no iterations: weak,
    // but every stored account's keys are wrapped under it.
    static SecretBytes prepareEncryptionPassword(std::optional<std::string_view> password);

    // The wrapped-key JSON text of a record, and back.
    static std::string encodeWrapped(const Key& wrapped);
    static Key decodeWrapped(std::string_view text);

private:
    // A key object from bytes already at hand, without drawing random ones:
    // a listing unwraps thousands of keys.
    EncryptionKey(Key key, CipherAlgorithm algorythm, std::int64_t keyLen);
};

class KeyDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace ostrelcomm
