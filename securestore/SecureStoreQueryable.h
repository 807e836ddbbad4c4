#pragma once

#include "securestore/Keychain.h"

namespace ostrelcomm {

// Says which keychain items a store works on: `query` is the base query that
// selects them, to which each operation adds its own keys.
class SecureStoreQueryable {
public:
    virtual ~SecureStoreQueryable() = default;
    virtual keychain::KeychainDictionary query() const = 0;
};

}  // namespace ostrelcomm
