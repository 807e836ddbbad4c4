#include "devserver/Signing.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <stdexcept>

namespace devserver {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string hexLower(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0f];
    }
    return out;
}

std::string canonicalHeaderText(const HeaderMap& headers) {
    // std::map already orders its keys by plain byte comparison.
    std::string text;
    for (const auto& [name, value] : headers) {
        if (!text.empty()) text += ';';
        text += lowerAscii(name);
        text += ':';
        text += lowerAscii(value);
    }
    return text;
}

std::string signedNameList(const HeaderMap& headers) {
    std::string list;
    for (const auto& entry : headers) {
        if (!list.empty()) list += ',';
        list += entry.first;
    }
    return list;
}

std::string hmacSha256Hex(KeyView key, std::string_view message) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    static const unsigned char noKey = 0;
    const unsigned char* result =
        HMAC(EVP_sha256(), key.empty() ? &noKey : key.data(), static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(message.data()), message.size(), mac, &length);
    if (result == nullptr || length != 32) throw std::runtime_error("HMAC-SHA256 failed");
    return hexLower({mac, length});
}

std::string sha256Hex(std::string_view data) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    return hexLower(digest);
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    return a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

HeaderSignature signHeaders(const HeaderMap& headers, KeyView key) {
    return {signedNameList(headers), hmacSha256Hex(key, canonicalHeaderText(headers))};
}

}  // namespace devserver
