#pragma once

#include <string>
#include <utility>

#include "crypto/SecretBytes.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

class PrivateKey;
class PublicKey;

// The 32-byte key shared by a private key and a peer's public key, under
// which item keys are wrapped for that peer. Uid names the object.
class SharedSecretKey {
public:
    // Both throw Exceptions (ArgumentException) for a peer key or a private
    // key value that is not 32 bytes long (the peer key is checked first).
    SharedSecretKey(const PrivateKey& secretKey, const PublicKey& peerPublicKey);
    SharedSecretKey(const PrivateKey& secretKey, ByteView peerPublicKey);

    const SecretBytes& KeyValue() const { return keyValue_; }
    void setKeyValue(SecretBytes keyValue) { keyValue_ = std::move(keyValue); }
    const std::string& Uid() const { return uid_; }

    // Upper-case hexadecimal, two digits a byte.
    std::string toString() const;

private:
    SecretBytes keyValue_;
    std::string uid_;
};

}  // namespace ostrelcomm
