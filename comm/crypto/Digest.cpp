#include "crypto/Digest.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <fstream>
#include <mutex>
#include <system_error>

#include "crypto/CryptoError.h"
#include "crypto/Md2.h"

namespace ostrelcomm {

namespace {

// MD4 lives in OpenSSL's legacy provider; loading it next to the default one
// keeps every other algorithm where it was.
void loadProviders() {
    static std::once_flag once;
    std::call_once(once, [] {
        OSSL_PROVIDER_load(nullptr, "legacy");
        OSSL_PROVIDER_load(nullptr, "default");
    });
}

const char* evpName(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::md2: return nullptr;
        case DigestAlgorithm::md4: return "MD4";
        case DigestAlgorithm::md5: return "MD5";
        case DigestAlgorithm::sha1: return "SHA1";
        case DigestAlgorithm::sha224: return "SHA224";
        case DigestAlgorithm::sha256: return "SHA256";
        case DigestAlgorithm::sha384: return "SHA384";
        case DigestAlgorithm::sha512: return "SHA512";
    }
    return nullptr;
}

// Fetched once per algorithm: a fetch walks the provider tables and is far
// slower than the hash of a short input.
const EVP_MD* fetchedMd(DigestAlgorithm algorithm) {
    static std::once_flag once;
    static EVP_MD* table[8] = {};
    std::call_once(once, [] {
        loadProviders();
        for (int i = 1; i < 8; ++i) table[i] = EVP_MD_fetch(nullptr, evpName(static_cast<DigestAlgorithm>(i)), nullptr);
    });
    const EVP_MD* md = table[static_cast<int>(algorithm)];
    if (md == nullptr) throw CryptoError("digest algorithm is not available");
    return md;
}

}  // namespace

struct Digest::State {
    EVP_MD_CTX* ctx = nullptr;
    Md2 md2;
    bool finished = false;
    ~State() { EVP_MD_CTX_free(ctx); }
};

Digest::Digest(DigestAlgorithm algorithm) : algorithm_(algorithm), state_(std::make_unique<State>()) {
    if (algorithm == DigestAlgorithm::md2) return;
    state_->ctx = EVP_MD_CTX_new();
    if (state_->ctx == nullptr || EVP_DigestInit_ex(state_->ctx, fetchedMd(algorithm), nullptr) != 1)
        throw CryptoError("digest cannot be created");
}

Digest::~Digest() = default;
Digest::Digest(Digest&&) noexcept = default;
Digest& Digest::operator=(Digest&&) noexcept = default;

Digest::Digest(const Digest& other) : algorithm_(other.algorithm_), state_(std::make_unique<State>()) {
    state_->md2 = other.state_->md2;
    state_->finished = other.state_->finished;
    if (other.state_->ctx == nullptr) return;
    state_->ctx = EVP_MD_CTX_new();
    if (state_->ctx == nullptr || EVP_MD_CTX_copy_ex(state_->ctx, other.state_->ctx) != 1)
        throw CryptoError("digest cannot be copied");
}

Digest& Digest::operator=(const Digest& other) {
    if (this != &other) *this = Digest(other);
    return *this;
}

Digest& Digest::update(ByteView bytes) {
    if (state_->finished) throw CryptoError("digest already finished");
    if (algorithm_ == DigestAlgorithm::md2) {
        state_->md2.update(bytes);
    } else if (EVP_DigestUpdate(state_->ctx, bytes.data(), bytes.size()) != 1) {
        throw CryptoError("digest update failed");
    }
    return *this;
}

Bytes Digest::final() {
    if (state_->finished) throw CryptoError("digest already finished");
    state_->finished = true;
    if (algorithm_ == DigestAlgorithm::md2) {
        auto out = state_->md2.final();
        return Bytes(out.begin(), out.end());
    }
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(state_->ctx, out.data(), &len) != 1) throw CryptoError("digest final failed");
    out.resize(len);
    return out;
}

std::optional<Bytes> Digest::getFileDigest(const std::filesystem::path& url) {
    std::error_code ec;
    // Anything but a regular file (folders, sockets, devices) has no content
    // digest; following a link to a regular file is fine.
    if (!std::filesystem::is_regular_file(url, ec) || ec) return std::nullopt;
    std::ifstream in(url, std::ios::binary);
    if (!in) return std::nullopt;
    Bytes block(kFileBlockSize);
    while (true) {
        in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
        auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) break;
        update(ByteView(block.data(), got));
        if (!in) break;
    }
    if (in.bad()) return std::nullopt;
    return final();
}

Bytes Digest::compute(DigestAlgorithm algorithm, ByteView bytes) {
    if (algorithm == DigestAlgorithm::md2) return Digest(algorithm).update(bytes).final();
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &len, fetchedMd(algorithm), nullptr) != 1)
        throw CryptoError("digest failed");
    out.resize(len);
    return out;
}

std::size_t Digest::length(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::md2:
        case DigestAlgorithm::md4:
        case DigestAlgorithm::md5: return 16;
        case DigestAlgorithm::sha1: return 20;
        case DigestAlgorithm::sha224: return 28;
        case DigestAlgorithm::sha256: return 32;
        case DigestAlgorithm::sha384: return 48;
        case DigestAlgorithm::sha512: return 64;
    }
    return 0;
}

}  // namespace ostrelcomm
