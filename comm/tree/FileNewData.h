#pragma once

#include <optional>
#include <string>
#include <vector>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Body of a file's modification: the file's attributes as the preparation
// gave them, the folder to move it to, and its metadata and thumbnail sealed
// under the file key. Every member is optional and an absent one is left
// out, never written as null; bytes are base64.
struct FileNewData {
    std::optional<std::vector<std::string>> attrib;
    std::optional<std::string> parentUUID;
    std::optional<Bytes> metadata;
    std::optional<Bytes> thumbnail;

    // The JSON bytes, keys in this order.
    Bytes encode() const;
    // Any member may be missing (or null). Throws json::DecodeError.
    static FileNewData decode(ByteView body);
};

void to_json(json::OrderedJson& value, const FileNewData& data);
void from_json(const json::Json& value, FileNewData& data);

}  // namespace ostrelcomm
