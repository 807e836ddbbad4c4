#pragma once

#include <cstddef>

#include "platform/Bytes.h"

namespace ostrelcomm {

// The sealed form of an item's metadata and thumbnail: a 16-byte IV followed
// by the AES-256-CBC/PKCS#7 ciphertext, under a 32-byte key. It carries no
// MAC, version byte or length: stored items were written so, and another
// client reads exactly these bytes.
class CbcEnvelope {
public:
    static constexpr std::size_t kIvSize = 16;
    static constexpr std::size_t kKeySize = 32;

    // IV ‖ ciphertext of plain. Throws CryptoError when the key is not 32
    // bytes, the IV not 16, or the cipher cannot run.
    static Bytes seal(ByteView key, ByteView iv, ByteView plain);
    // The same under a fresh IV from the secure random source (whose failure
    // is a CryptoError too).
    static Bytes seal(ByteView key, ByteView plain);

    // The clear bytes of a sealed form. Throws CryptoError when the key is not
    // 32 bytes, the form is shorter than an IV, or the cipher run cannot
    // finish (a partial block, bad padding: the usual outcome of a wrong key).
    static Bytes open(ByteView key, ByteView sealed);
};

}  // namespace ostrelcomm
