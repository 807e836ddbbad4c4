#include "crypto/StreamCryptor.h"

#include <openssl/evp.h>

#include <climits>

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

// The AES cases differ only by name: the key's length picks the variant.
const EVP_CIPHER* cipherFor(CipherAlgorithm algorithm, std::size_t keyLength) {
    if (blockSize(algorithm) != 16) throw CryptoError("cipher algorithm is not available");
    switch (keyLength) {
        case 16: return EVP_aes_128_cbc();
        case 24: return EVP_aes_192_cbc();
        case 32: return EVP_aes_256_cbc();
        default: throw CryptoError("cipher key has an invalid length");
    }
}

}  // namespace

struct StreamCryptor::State {
    EVP_CIPHER_CTX* ctx = nullptr;
    std::size_t blockSize = 16;
    ~State() { EVP_CIPHER_CTX_free(ctx); }
};

StreamCryptor::StreamCryptor(Operation operation, CipherAlgorithm algorithm, ByteView key, ByteView iv)
    : state_(std::make_unique<State>()) {
    const EVP_CIPHER* cipher = cipherFor(algorithm, key.size());
    if (iv.size() != static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher)))
        throw CryptoError("cipher IV has an invalid length");
    state_->ctx = EVP_CIPHER_CTX_new();
    if (state_->ctx == nullptr ||
        EVP_CipherInit_ex(state_->ctx, cipher, nullptr, key.data(), iv.data(),
                          operation == Operation::encrypt ? 1 : 0) != 1)
        throw CryptoError("cryptor cannot be created");
}

StreamCryptor::~StreamCryptor() = default;

std::size_t StreamCryptor::update(ByteView input, std::uint8_t* out) {
    std::size_t total = 0;
    const std::uint8_t* in = input.data();
    std::size_t left = input.size();
    // EVP takes int lengths; huge inputs go through in slices.
    constexpr std::size_t kSlice = std::size_t{1} << 30;
    while (left > 0) {
        std::size_t n = left < kSlice ? left : kSlice;
        int written = 0;
        if (EVP_CipherUpdate(state_->ctx, out + total, &written, in, static_cast<int>(n)) != 1)
            throw CryptoError("cipher run failed");
        total += static_cast<std::size_t>(written);
        in += n;
        left -= n;
    }
    return total;
}

std::size_t StreamCryptor::final(std::uint8_t* out) {
    int written = 0;
    if (EVP_CipherFinal_ex(state_->ctx, out, &written) != 1) throw CryptoError("cipher run cannot complete");
    return static_cast<std::size_t>(written);
}

Bytes StreamCryptor::update(ByteView input) {
    Bytes out(input.size() + state_->blockSize);
    out.resize(update(input, out.data()));
    return out;
}

Bytes StreamCryptor::final() {
    Bytes out(state_->blockSize);
    out.resize(final(out.data()));
    return out;
}

Bytes StreamCryptor::run(Operation operation, CipherAlgorithm algorithm, ByteView key, ByteView iv,
                         ByteView input) {
    StreamCryptor cryptor(operation, algorithm, key, iv);
    Bytes out(input.size() + 16);
    std::size_t n = cryptor.update(input, out.data());
    n += cryptor.final(out.data() + n);
    out.resize(n);
    return out;
}

}  // namespace ostrelcomm
