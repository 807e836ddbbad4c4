#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "crypto/SecretBytes.h"
#include "crypto/curve25519/PublicKey.h"
#include "crypto/curve25519/SharedSecretKey.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// A user's private sharing key: 32 random clamped bytes, stored by the server
// only wrapped under the password key.
class PrivateKey {
public:
    // A fresh random clamped key. Throws CryptoError if the random source fails.
    PrivateKey();
    // Unwraps a wrapped-key JSON text (AES-256, key length 32). Any failure,
    // usually a wrong unwrapping key, leaves the value absent; nothing is
    // thrown. So does an unwrapped key that is not 32 bytes long.
    PrivateKey(std::string_view encryptedKey, ByteView encryptionKey);

    // 32 bytes, or absent when the key could not be unwrapped.
    const std::optional<SecretBytes>& KeyValue() const { return privateKeyValue_; }

    // A new PublicKey of this key (fresh Uid each time). Throws Exceptions
    // (ArgumentException) "Secret key must be 32 bytes long" without a value.
    PublicKey publicKey() const;

    // The key shared with a peer. Throws Exceptions (ArgumentException)
    // "peerPublicKey can not be my own public key" when the peer's key is this
    // key's own public key, and the length messages of AlgorithmService.
    SharedSecretKey getSharedSecretKey(const PublicKey& peerPublicKey) const;
    // The same for the peer key's bytes, without the own-key test.
    SharedSecretKey getSharedSecretKey(ByteView peerPublicKey) const;

    // The wrapped-key JSON text of this key under encryptionKey (the password
    // key); absent without a value. The wrapped plaintext is a random 16-byte
    // IV followed by the 32 key bytes. Throws CryptoError.
    std::optional<std::string> getPrivateEncryptedKey(ByteView encryptionKey) const;

    // Upper-case hexadecimal, two digits a byte; empty without a value.
    std::string toString() const;

private:
    std::optional<SecretBytes> privateKeyValue_;
};

}  // namespace ostrelcomm
