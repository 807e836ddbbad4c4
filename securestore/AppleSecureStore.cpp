#include "securestore/AppleSecureStore.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

namespace ostrelcomm {

using namespace keychain;

bool isUtf8(const std::uint8_t* bytes, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t lead = bytes[i];
        std::size_t length = 0;
        std::uint8_t low = 0x80, high = 0xBF;  // range of the second byte
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (size - i < length) return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

namespace {

// The value's bytes, wiped when they go.
class ValueBytes {
public:
    explicit ValueBytes(std::string_view text) : bytes_(text.begin(), text.end()) {}
    ValueBytes(const ValueBytes&) = delete;
    ValueBytes& operator=(const ValueBytes&) = delete;
    ~ValueBytes() {
        if (!bytes_.empty()) explicit_bzero(bytes_.data(), bytes_.size());
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

AppleSecureStore::AppleSecureStore(std::shared_ptr<const SecureStoreQueryable> secureStoreQueryable)
    : secureStoreQueryable_(std::move(secureStoreQueryable)) {
    if (!secureStoreQueryable_) throw std::invalid_argument("AppleSecureStore needs a queryable");
}

void AppleSecureStore::setValue(std::string_view value, std::string_view account) const {
    const auto* text = reinterpret_cast<const std::uint8_t*>(value.data());
    if (!isUtf8(text, value.size())) throw SecureStoreError::string2DataConversionError();
    ValueBytes data(value);

    KeychainDictionary query = secureStoreQueryable_->query();
    query.setText(kSecAttrAccount, account);

    OSStatus status = SecItemCopyMatching(query, nullptr);
    if (status == errSecSuccess) {
        KeychainDictionary attributesToUpdate;
        attributesToUpdate.setData(kSecValueData, data.bytes());
        status = SecItemUpdate(query, attributesToUpdate);
        if (status != errSecSuccess) throw SecureStoreError::unhandledError(status);
    } else if (status == errSecItemNotFound) {
        query.setData(kSecValueData, data.bytes());
        status = SecItemAdd(query, nullptr);
        if (status != errSecSuccess) throw SecureStoreError::unhandledError(status);
    } else {
        throw SecureStoreError::unhandledError(status);
    }
}

std::optional<std::string> AppleSecureStore::getValue(std::string_view account) const {
    KeychainDictionary query = secureStoreQueryable_->query();
    query.setText(kSecMatchLimit, kSecMatchLimitOne);
    query.setFlag(kSecReturnAttributes, true);
    query.setFlag(kSecReturnData, true);
    query.setText(kSecAttrAccount, account);

    KeychainDictionary result;
    OSStatus status = SecItemCopyMatching(query, &result);
    if (status == errSecItemNotFound) return std::nullopt;
    if (status != errSecSuccess) throw SecureStoreError::unhandledError(status);

    const auto* data = result.findData(kSecValueData);
    if (data == nullptr || !isUtf8(data->data(), data->size())) throw SecureStoreError::data2StringConversionError();
    return std::string(data->begin(), data->end());
}

void AppleSecureStore::removeValue(std::string_view account) const {
    KeychainDictionary query = secureStoreQueryable_->query();
    query.setText(kSecAttrAccount, account);
    OSStatus status = SecItemDelete(query);
    if (status != errSecSuccess && status != errSecItemNotFound) throw SecureStoreError::unhandledError(status);
}

void AppleSecureStore::removeAllValues() const {
    OSStatus status = SecItemDelete(secureStoreQueryable_->query());
    if (status != errSecSuccess && status != errSecItemNotFound) throw SecureStoreError::unhandledError(status);
}

}  // namespace ostrelcomm
