#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypto/EncryptionKey.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemType.h"

namespace ostrelcomm {

// One item of a folder listing, its key unwrapped and its metadata decrypted
// (or the placeholder when the metadata could not be read). A value: a copy
// shares nothing with its original.
struct RemoteItemInfo {
    std::string uuid;
    RemoteItemType type;
    std::optional<std::string> parentuuid;
    // The size the server records, which may differ from metadata.fileSize.
    std::uint64_t orig_size;
    std::vector<std::string> attrib;
    // The item's own key: its metadata, thumbnail and contents are sealed under it.
    EncryptionKey filekey;
    RemoteItemMetadata metadata;
    std::uint64_t thumbnailsize;
};

}  // namespace ostrelcomm
