#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace ostrelcomm {

// One local source item of a multi-file upload: a file or a folder, and the
// counters with which the upload follows how much of the file has gone out.
// Held by std::shared_ptr in the uploader's source list (and as its item
// under work); the uploader changes it only under its engine's lock.
class LocalItemInfo {
public:
    enum class ItemType { file, directory };

    // No block reported yet: blockSize 0, lastBlockSent absent, bytesSent 0.
    LocalItemInfo(std::filesystem::path url, ItemType type, std::int64_t size);

    std::filesystem::path url;
    ItemType type;
    // In bytes; 0 for a folder.
    std::int64_t size;
    // The size of the last block reported sent.
    std::int32_t blockSize = 0;
    // The number of the last block reported sent; absent until the first
    // report, so that block 0 counts too.
    std::optional<std::uint64_t> lastBlockSent;
    // The bytes of this file reported sent so far.
    std::int64_t bytesSent = 0;
};

}  // namespace ostrelcomm
