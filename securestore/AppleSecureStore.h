#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "securestore/SecureStoreError.h"
#include "securestore/SecureStoreQueryable.h"

namespace ostrelcomm {

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF. The
// store keeps text only; callers check what they put in with the same rule.
bool isUtf8(const std::uint8_t* bytes, std::size_t size);

// Text values in the keychain, one item per account name among the items its
// queryable selects. Every call goes to the keychain; the store keeps nothing
// itself. Failures are thrown as SecureStoreError.
class AppleSecureStore {
public:
    // Throws std::invalid_argument for a null queryable.
    explicit AppleSecureStore(std::shared_ptr<const SecureStoreQueryable> secureStoreQueryable);

    template <typename Queryable>
        requires std::derived_from<Queryable, SecureStoreQueryable>
    explicit AppleSecureStore(Queryable secureStoreQueryable)
        : AppleSecureStore(std::make_shared<const Queryable>(std::move(secureStoreQueryable))) {}

    const std::shared_ptr<const SecureStoreQueryable>& secureStoreQueryable() const { return secureStoreQueryable_; }

    // Stores `value` (UTF-8 text) for `account`, replacing its earlier value.
    void setValue(std::string_view value, std::string_view account) const;
    // The text stored for `account`, or none when there is no item.
    std::optional<std::string> getValue(std::string_view account) const;
    // Removes the item of `account`; no item is no failure.
    void removeValue(std::string_view account) const;
    // Removes every item the queryable selects; none is no failure.
    void removeAllValues() const;

private:
    std::shared_ptr<const SecureStoreQueryable> secureStoreQueryable_;
};

}  // namespace ostrelcomm
