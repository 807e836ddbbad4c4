#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/Bytes.h"

struct evp_cipher_ctx_st;

namespace ostrelcomm {

// The cipher algorithms a key object may name. Only the AES cases are
// available; the others exist because stored key objects may name them, and
// creating a cryptor for one fails.
enum class CipherAlgorithm { aes, aes128, aes192, aes256, des, tripleDes, cast, rc2, blowfish };

std::size_t blockSize(CipherAlgorithm algorithm);

// CBC with PKCS#7 padding, fed in pieces. update() returns what is complete so
// far; final() the rest (with padding when encrypting, checking it when
// decrypting). Throws CryptoError when the cryptor cannot be created (key or IV
// of the wrong size, an algorithm that is not available) or a run cannot
// complete (bad padding, a ciphertext that is not a whole number of blocks).
class StreamCryptor {
public:
    enum class Operation { encrypt, decrypt };

    StreamCryptor(Operation operation, CipherAlgorithm algorithm, ByteView key, ByteView iv);
    ~StreamCryptor();
    StreamCryptor(const StreamCryptor&) = delete;
    StreamCryptor& operator=(const StreamCryptor&) = delete;

    // Writes into out, which must hold input.size() + blockSize bytes; returns
    // the count written. The allocation-free form for bulk data.
    std::size_t update(ByteView input, std::uint8_t* out);
    // Writes at most one block; returns the count written.
    std::size_t final(std::uint8_t* out);

    Bytes update(ByteView input);
    Bytes final();

    // Whole buffer in one call: update then final.
    static Bytes run(Operation operation, CipherAlgorithm algorithm, ByteView key, ByteView iv, ByteView input);
    // The same into out, which must hold input.size() + blockSize bytes;
    // returns the count written.
    static std::size_t run(Operation operation, CipherAlgorithm algorithm, ByteView key, ByteView iv, ByteView input,
                           std::uint8_t* out);

private:
    evp_cipher_ctx_st* ctx_ = nullptr;
};

}  // namespace ostrelcomm
