#pragma once

// Remote records as a listing would give them, for the application tests
// that need a selection or a clipboard but no server: only the fields the
// screens read are meaningful.

#include <chrono>
#include <string>

#include "crypto/EncryptionKey.h"
#include "shares/SharedItem.h"
#include "tree/RemoteItemInfo.h"
#include "tree/RemoteItemType.h"

namespace apptest {

inline ostrelcomm::RemoteItemMetadata namedMetadata(const std::string& name) {
    return ostrelcomm::RemoteItemMetadata(name, std::chrono::sys_seconds{}, std::chrono::sys_seconds{});
}

// An item of the user's own tree, named after its identifier.
inline ostrelcomm::RemoteItemInfo ownItem(const std::string& uuid,
                                          ostrelcomm::RemoteItemType type = ostrelcomm::RemoteItemType::FILE) {
    return ostrelcomm::RemoteItemInfo{uuid, type, std::nullopt, 0, {},
                                      ostrelcomm::EncryptionKey(ostrelcomm::CipherAlgorithm::aes256, 32),
                                      namedMetadata(uuid), 0};
}

// An item shared with the user, named after its identifier.
inline ostrelcomm::SharedItem sharedItem(const std::string& itemuuid, const std::string& shareid,
                                         ostrelcomm::RemoteItemType type = ostrelcomm::RemoteItemType::FILE) {
    return ostrelcomm::SharedItem{"owner", "owner-uuid", shareid, itemuuid,
                                  ostrelcomm::EncryptionKey(ostrelcomm::CipherAlgorithm::aes256, 32), type, 0, "",
                                  "aes256", "1.0", namedMetadata(itemuuid)};
}

}  // namespace apptest
