#include "crypto/StreamCryptor.h"

#include <openssl/evp.h>

#include <climits>
#include <mutex>

#include "crypto/CryptoError.h"

namespace ostrelcomm {

std::size_t blockSize(CipherAlgorithm algorithm) {
    switch (algorithm) {
        case CipherAlgorithm::aes:
        case CipherAlgorithm::aes128:
        case CipherAlgorithm::aes192:
        case CipherAlgorithm::aes256: return 16;
        default: return 8;
    }
}

namespace {

// Every cryptor is AES in CBC mode, so output grows by at most one block.
constexpr std::size_t kAesBlock = 16;

// The three AES variants, fetched once for the process: naming a cipher
// through EVP_aes_256_cbc() makes OpenSSL look it up again on every
// initialisation, which costs a small message a fifth of its time.
const EVP_CIPHER* fetchedCbc(std::size_t keyLength) {
    static std::once_flag once;
    static EVP_CIPHER* table[3] = {};
    std::call_once(once, [] {
        table[0] = EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr);
        table[1] = EVP_CIPHER_fetch(nullptr, "AES-192-CBC", nullptr);
        table[2] = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    });
    const EVP_CIPHER* cipher = table[(keyLength - 16) / 8];
    if (cipher == nullptr) throw CryptoError("cipher algorithm is not available");
    return cipher;
}

// The AES cases differ only by name: the key's length picks the variant.
const EVP_CIPHER* cipherFor(CipherAlgorithm algorithm, std::size_t keyLength) {
    if (blockSize(algorithm) != kAesBlock) throw CryptoError("cipher algorithm is not available");
    if (keyLength != 16 && keyLength != 24 && keyLength != 32) throw CryptoError("cipher key has an invalid length");
    return fetchedCbc(keyLength);
}

}  // namespace

StreamCryptor::StreamCryptor(Operation operation, CipherAlgorithm algorithm, ByteView key, ByteView iv) {
    const EVP_CIPHER* cipher = cipherFor(algorithm, key.size());
    if (iv.size() != kAesBlock) throw CryptoError("cipher IV has an invalid length");
    ctx_ = EVP_CIPHER_CTX_new();
    if (ctx_ == nullptr ||
        EVP_CipherInit_ex2(ctx_, cipher, key.data(), iv.data(), operation == Operation::encrypt ? 1 : 0,
                           nullptr) != 1) {
        EVP_CIPHER_CTX_free(ctx_);
        throw CryptoError("cryptor cannot be created");
    }
}

StreamCryptor::~StreamCryptor() { EVP_CIPHER_CTX_free(ctx_); }

std::size_t StreamCryptor::update(ByteView input, std::uint8_t* out) {
    std::size_t total = 0;
    const std::uint8_t* in = input.data();
    std::size_t left = input.size();
    // EVP takes int lengths; huge inputs go through in slices.
    constexpr std::size_t kSlice = std::size_t{1} << 30;
    while (left > 0) {
        std::size_t n = left < kSlice ? left : kSlice;
        int written = 0;
        if (EVP_CipherUpdate(ctx_, out + total, &written, in, static_cast<int>(n)) != 1)
            throw CryptoError("cipher run failed");
        total += static_cast<std::size_t>(written);
        in += n;
        left -= n;
    }
    return total;
}

std::size_t StreamCryptor::final(std::uint8_t* out) {
    int written = 0;
    if (EVP_CipherFinal_ex(ctx_, out, &written) != 1) throw CryptoError("cipher run cannot complete");
    return static_cast<std::size_t>(written);
}

Bytes StreamCryptor::update(ByteView input) {
    Bytes out(input.size() + kAesBlock);
    out.resize(update(input, out.data()));
    return out;
}

Bytes StreamCryptor::final() {
    Bytes out(kAesBlock);
    out.resize(final(out.data()));
    return out;
}

Bytes StreamCryptor::run(Operation operation, CipherAlgorithm algorithm, ByteView key, ByteView iv,
                         ByteView input) {
    Bytes out(input.size() + kAesBlock);
    out.resize(run(operation, algorithm, key, iv, input, out.data()));
    return out;
}

std::size_t StreamCryptor::run(Operation operation, CipherAlgorithm algorithm, ByteView key, ByteView iv,
                               ByteView input, std::uint8_t* out) {
    StreamCryptor cryptor(operation, algorithm, key, iv);
    const std::size_t n = cryptor.update(input, out);
    return n + cryptor.final(out + n);
}

}  // namespace ostrelcomm
