#pragma once

#include <optional>
#include <string>
#include <vector>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Body of a folder's creation and of its modification: the folder's
// attributes, its item key wrapped under the user master key, and its sealed
// metadata. Every member is optional and an absent one is left out, never
// written as null. "itemkey" is a JSON string holding the wrapped-key text
// (not a nested object); "metadata" is base64. A creation always writes
// "attrib", as [] when the folder has none.
struct NewDirectoryData {
    std::optional<std::vector<std::string>> attrib;
    std::optional<std::string> itemkey;
    std::optional<Bytes> metadata;

    // The JSON bytes, keys in this order. Throws the JSON library's
    // type_error for a text that is not UTF-8.
    Bytes encode() const;
    // Any member may be missing (or null). Throws json::DecodeError.
    static NewDirectoryData decode(ByteView body);
};

void to_json(json::OrderedJson& value, const NewDirectoryData& data);
void from_json(const json::Json& value, NewDirectoryData& data);

}  // namespace ostrelcomm
