#include "crypto/Hmac.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <mutex>

#include "crypto/CryptoError.h"

namespace ostrelcomm {

namespace {

EVP_MAC* hmacAlgorithm() {
    static EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (mac == nullptr) throw CryptoError("HMAC is not available");
    return mac;
}

}  // namespace

struct HmacSha256::State {
    EVP_MAC_CTX* ctx = nullptr;
    ~State() { EVP_MAC_CTX_free(ctx); }
};

HmacSha256::HmacSha256(ByteView key) : state_(std::make_unique<State>()) {
    state_->ctx = EVP_MAC_CTX_new(hmacAlgorithm());
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_end(),
    };
    // An empty key is legal for HMAC; OpenSSL wants a non-null pointer for it.
    static const unsigned char kEmpty = 0;
    const unsigned char* keyData = key.empty() ? &kEmpty : key.data();
    if (state_->ctx == nullptr || EVP_MAC_init(state_->ctx, keyData, key.size(), params) != 1)
        throw CryptoError("HMAC cannot be created");
}

HmacSha256::~HmacSha256() = default;

HmacSha256& HmacSha256::update(ByteView bytes) {
    if (EVP_MAC_update(state_->ctx, bytes.data(), bytes.size()) != 1) throw CryptoError("HMAC update failed");
    return *this;
}

Bytes HmacSha256::final() {
    Bytes out(32);
    std::size_t len = 0;
    if (EVP_MAC_final(state_->ctx, out.data(), &len, out.size()) != 1) throw CryptoError("HMAC final failed");
    out.resize(len);
    return out;
}

Bytes HmacSha256::compute(ByteView key, ByteView bytes) { return HmacSha256(key).update(bytes).final(); }

}  // namespace ostrelcomm
