#pragma once

#include <cstdint>
#include <string>

#include "json/StrictJson.h"

namespace ostrelcomm {

// One stored block of a file: its byte range in the clear file, both ends
// inclusive, and the hexadecimal SHA-256 of the block as stored (encrypted),
// which is the block's leaf in the file's tree hash.
struct FileChunk {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::string chksum;
};

void from_json(const json::Json& value, FileChunk& chunk);
void to_json(json::OrderedJson& value, const FileChunk& chunk);

}  // namespace ostrelcomm
