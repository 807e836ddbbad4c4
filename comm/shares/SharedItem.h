#pragma once

#include <cstdint>
#include <string>

#include "crypto/EncryptionKey.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemType.h"

namespace ostrelcomm {

// An item another user shares with the user, its key unwrapped and its
// metadata decrypted. Made only by Server_GetSharedItems::decryptKeys; it
// has no JSON form. The item key stays in secret buffers.
struct SharedItem {
    std::string ownerusername;
    std::string owneruuid;
    std::string shareid;
    std::string itemuuid;
    EncryptionKey itemkey;
    RemoteItemType itemtype;
    std::uint64_t orig_size;
    std::string treehash;
    std::string itemalgorythm;
    std::string itemencoderversion;
    RemoteItemMetadata metadata;
};

}  // namespace ostrelcomm
