#pragma once

#include <optional>
#include <string>

#include "securestore/SecureStoreQueryable.h"

namespace ostrelcomm {

// Generic-password items of one service, optionally of one access group.
struct GenericPasswordQueryable final : SecureStoreQueryable {
    std::string service;
    std::optional<std::string> accessGroup;

    explicit GenericPasswordQueryable(std::string service, std::optional<std::string> accessGroup = std::nullopt);

    // kSecClass, kSecAttrService and, only when one is given, kSecAttrAccessGroup.
    keychain::KeychainDictionary query() const override;
};

}  // namespace ostrelcomm
