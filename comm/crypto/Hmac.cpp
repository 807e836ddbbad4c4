#include "crypto/Hmac.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include "crypto/CryptoError.h"

namespace ostrelcomm {

namespace {

// HMAC with SHA-256 chosen, made once for the process. Every HMAC starts as a
// copy of it, which keeps the digest already fetched: naming the digest on
// each initialisation makes OpenSSL look it up again, a fifth of the time of
// a small message.
const EVP_MAC_CTX* hmacTemplate() {
    static EVP_MAC_CTX* const prepared = [] {
        EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        EVP_MAC_CTX* ctx = mac != nullptr ? EVP_MAC_CTX_new(mac) : nullptr;
        EVP_MAC_free(mac);  // the context keeps its own reference
        char digest[] = "SHA256";
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
            OSSL_PARAM_construct_end(),
        };
        if (ctx != nullptr && EVP_MAC_CTX_set_params(ctx, params) != 1) {
            EVP_MAC_CTX_free(ctx);
            ctx = nullptr;
        }
        return ctx;
    }();
    if (prepared == nullptr) throw CryptoError("HMAC is not available");
    return prepared;
}

}  // namespace

HmacSha256::HmacSha256(ByteView key) : ctx_(EVP_MAC_CTX_dup(hmacTemplate())) {
    // An empty key is legal for HMAC; OpenSSL wants a non-null pointer for it.
    static const unsigned char kEmpty = 0;
    const unsigned char* keyData = key.empty() ? &kEmpty : key.data();
    if (ctx_ == nullptr || EVP_MAC_init(ctx_, keyData, key.size(), nullptr) != 1) {
        EVP_MAC_CTX_free(ctx_);
        throw CryptoError("HMAC cannot be created");
    }
}

HmacSha256::~HmacSha256() { EVP_MAC_CTX_free(ctx_); }

HmacSha256& HmacSha256::update(ByteView bytes) {
    if (EVP_MAC_update(ctx_, bytes.data(), bytes.size()) != 1) throw CryptoError("HMAC update failed");
    return *this;
}

void HmacSha256::final(std::uint8_t* out) {
    std::size_t len = 0;
    if (EVP_MAC_final(ctx_, out, &len, kSize) != 1 || len != kSize) throw CryptoError("HMAC final failed");
}

Bytes HmacSha256::final() {
    Bytes out(kSize);
    final(out.data());
    return out;
}

Bytes HmacSha256::compute(ByteView key, ByteView bytes) { return HmacSha256(key).update(bytes).final(); }

}  // namespace ostrelcomm
