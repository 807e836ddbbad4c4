#include "crypto/curve25519/PrivateKey.h"

#include <exception>

#include "encoding/Encoding.h"
#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/AlgorithmService.h"
#include "crypto/curve25519/Exceptions.h"

namespace ostrelcomm {

namespace {

ByteView valueOrEmpty(const std::optional<SecretBytes>& value) {
    return value ? value->view() : ByteView();
}

}  // namespace

PrivateKey::PrivateKey() : privateKeyValue_(AlgorithmService::GetRandomPrivateKey()) {}

PrivateKey::PrivateKey(std::string_view encryptedKey, ByteView encryptionKey) {
    try {
        // The private key travels as the key bytes of an AES-256 key object.
        privateKeyValue_ = std::move(EncryptionKey::unwrapAes256(encryptedKey, encryptionKey).key.key);
    } catch (const std::exception&) {
        // A wrong password key or a damaged text: the key stays without a
        // value, which is how callers learn of it.
        privateKeyValue_.reset();
    }
}

PublicKey PrivateKey::publicKey() const { return PublicKey(*this); }

SharedSecretKey PrivateKey::getSharedSecretKey(const PublicKey& peerPublicKey) const {
    const Bytes own = AlgorithmService::GetPublicKey(valueOrEmpty(privateKeyValue_));
    if (peerPublicKey.KeyValue() == own) {
        throw Exceptions::ArgumentException("peerPublicKey can not be my own public key");
    }
    return SharedSecretKey(*this, peerPublicKey);
}

SharedSecretKey PrivateKey::getSharedSecretKey(ByteView peerPublicKey) const {
    return SharedSecretKey(*this, peerPublicKey);
}

std::optional<std::string> PrivateKey::getPrivateEncryptedKey(ByteView encryptionKey) const {
    if (!privateKeyValue_) {
        return std::nullopt;
    }
    EncryptionKey carrier(CipherAlgorithm::aes256, 32);
    carrier.key.key = *privateKeyValue_;
    return carrier.encryptKeyText(encryptionKey);
}

std::string PrivateKey::toString() const { return toHexUpper(valueOrEmpty(privateKeyValue_)); }

}  // namespace ostrelcomm
