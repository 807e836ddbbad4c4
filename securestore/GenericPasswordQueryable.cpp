#include "securestore/GenericPasswordQueryable.h"

#include <utility>

namespace ostrelcomm {

GenericPasswordQueryable::GenericPasswordQueryable(std::string service, std::optional<std::string> accessGroup)
    : service(std::move(service)), accessGroup(std::move(accessGroup)) {}

keychain::KeychainDictionary GenericPasswordQueryable::query() const {
    keychain::KeychainDictionary query;
    query.setText(keychain::kSecClass, keychain::kSecClassGenericPassword);
    query.setText(keychain::kSecAttrService, service);
    if (accessGroup) query.setText(keychain::kSecAttrAccessGroup, *accessGroup);
    return query;
}

}  // namespace ostrelcomm
