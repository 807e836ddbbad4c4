#include "crypto/SecretBytes.h"

#include <openssl/crypto.h>

#include <algorithm>

namespace ostrelcomm {

SecretBytes& SecretBytes::operator=(const SecretBytes& other) {
    if (this != &other) {
        wipe();
        data_ = other.data_;
    }
    return *this;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
        wipe();
        data_ = std::move(other.data_);
        other.wipe();
    }
    return *this;
}

// Growing through a fresh buffer, so no copy of the secret is left behind in a
// block that the vector frees on reallocation.
void SecretBytes::resize(std::size_t n) {
    Bytes grown(n, 0);
    std::copy_n(data_.begin(), std::min(n, data_.size()), grown.begin());
    wipe();
    data_ = std::move(grown);
}

void SecretBytes::append(ByteView bytes) {
    Bytes grown;
    grown.reserve(data_.size() + bytes.size());
    grown.insert(grown.end(), data_.begin(), data_.end());
    grown.insert(grown.end(), bytes.begin(), bytes.end());
    wipe();
    data_ = std::move(grown);
}

void SecretBytes::wipe() noexcept {
    if (!data_.empty()) OPENSSL_cleanse(data_.data(), data_.size());
    data_.clear();
    data_.shrink_to_fit();
}

bool operator==(const SecretBytes& a, const SecretBytes& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace ostrelcomm
