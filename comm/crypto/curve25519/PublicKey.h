#pragma once

#include <string>
#include <utility>

#include "platform/Bytes.h"

namespace ostrelcomm {

class PrivateKey;

// An X25519 public key: 32 bytes, the little-endian u-coordinate. Uid names
// the object, not the key: two objects of one key have different Uids.
class PublicKey {
public:
    // The public key of a private key. Throws Exceptions (ArgumentException)
    // when the private key has no 32-byte value.
    explicit PublicKey(const PrivateKey& privateKey);
    // A peer's key as received, unchanged.
    explicit PublicKey(ByteView keyValue);

    const Bytes& KeyValue() const { return keyValue_; }
    void setKeyValue(Bytes keyValue) { keyValue_ = std::move(keyValue); }
    const std::string& Uid() const { return uid_; }

    // Upper-case hexadecimal, two digits a byte.
    std::string toString() const;

private:
    Bytes keyValue_;
    std::string uid_;
};

}  // namespace ostrelcomm
