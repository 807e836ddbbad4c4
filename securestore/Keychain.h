#pragma once

// The keychain operations the store is written against: generic-password
// items per (service, account[, access group]) kept by the desktop's Secret
// Service, reached over the session bus. There is no other place to keep
// them: with no Secret Service reachable every operation fails with
// errSecNotAvailable, nothing is ever written to a plain file.
//
// Each operation is bounded in time: a Secret Service that does not answer
// (or a keyring unlock prompt left waiting) ends in errSecTimedOut.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "securestore/KeychainDictionary.h"

namespace ostrelcomm::keychain {

using OSStatus = std::int32_t;

// Statuses. The numbers follow the platform keychain's where it has one.
inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecInternalComponent = -2070;
inline constexpr OSStatus errSecNotAvailable = -25291;
inline constexpr OSStatus errSecAuthFailed = -25293;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecNoDefaultKeychain = -25307;
inline constexpr OSStatus errSecInteractionNotAllowed = -25308;
inline constexpr OSStatus errSecTimedOut = -25340;

// Attribute names and their fixed values.
inline constexpr std::string_view kSecClass = "class";
inline constexpr std::string_view kSecClassGenericPassword = "generic-password";
inline constexpr std::string_view kSecAttrService = "service";
inline constexpr std::string_view kSecAttrAccount = "account";
inline constexpr std::string_view kSecAttrAccessGroup = "access-group";
inline constexpr std::string_view kSecValueData = "value-data";
inline constexpr std::string_view kSecMatchLimit = "match-limit";
inline constexpr std::string_view kSecMatchLimitOne = "match-limit-one";
inline constexpr std::string_view kSecReturnAttributes = "return-attributes";
inline constexpr std::string_view kSecReturnData = "return-data";

// Queries select items by kSecClass (= kSecClassGenericPassword, required),
// kSecAttrService (required), kSecAttrAccount and kSecAttrAccessGroup (each
// optional: left out, it matches any). Attribute texts must be UTF-8 without
// NUL. An unknown key, a value of the wrong type or a key the operation does
// not take gives errSecParam: a selector is never silently dropped, so a
// query can never reach more items than it names.

// Finds the first matching item. With kSecReturnAttributes and/or
// kSecReturnData set, `result` (when given) receives kSecClass and the
// item's attributes and/or its data under kSecValueData.
// errSecSuccess, errSecItemNotFound, or a failure.
OSStatus SecItemCopyMatching(const KeychainDictionary& query, KeychainDictionary* result);

// Adds an item with the query's attributes and its kSecValueData (required)
// to the default collection. An item with exactly these attributes is
// replaced, so there is never more than one. `result` is left empty.
OSStatus SecItemAdd(const KeychainDictionary& attributes, KeychainDictionary* result);

// Replaces the data of every matching item with `attributesToUpdate`'s
// kSecValueData (its only key). errSecItemNotFound when nothing matches.
OSStatus SecItemUpdate(const KeychainDictionary& query, const KeychainDictionary& attributesToUpdate);

// Removes every matching item. errSecItemNotFound when nothing matches.
OSStatus SecItemDelete(const KeychainDictionary& query);

// The text for a status, or none for a status this layer never gives.
std::optional<std::string> SecCopyErrorMessageString(OSStatus status);

}  // namespace ostrelcomm::keychain
