#pragma once

#include "crypto/SecretBytes.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// X25519 key agreement for sharing: private sharing keys, their public keys,
// and the 32-byte shared key (HSalsa20 of the X25519 shared point over a zero
// input, which is what crypto_box_beforenm computes) that wraps item keys for
// another user.
class AlgorithmService {
public:
    AlgorithmService() = delete;

    // 32 bytes from the secure random source, clamped. Throws CryptoError if
    // the source fails.
    static SecretBytes GetRandomPrivateKey();

    // The X25519 public key (u-coordinate of the clamped key times the base
    // point), by the fixed-base multiplication. The caller's bytes are not
    // clamped. Throws Exceptions (ArgumentException) "Secret key must be 32
    // bytes long" for any other length.
    static Bytes GetPublicKey(ByteView privateKey);

    // HSalsa20 of X25519(privateKey, peerPublicKey). A low-order peer key gives
    // the all-zero shared point and so one fixed key; it is not refused here.
    // Throws Exceptions (ArgumentException) "Public key must be 32 bytes long"
    // or, after that check, "Secret key must be 32 bytes long".
    static SecretBytes GetSharedSecretKey(ByteView peerPublicKey, ByteView privateKey);
};

}  // namespace ostrelcomm
