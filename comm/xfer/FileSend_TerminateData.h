#pragma once

#include <optional>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Body of the request that completes an upload: the file's key, wrapped under
// the user master key, and the file's encrypted metadata and thumbnail. The
// body is `data` alone, one flat JSON object: "itemkey" is a JSON string that
// holds the wrapped-key text (not a nested object), "metadata" and
// "thumbnail" are base64, and "thumbnail" is left out, never null, when the
// file has none.
class FileSend_TerminateData {
public:
    struct TerminateData {
        std::string itemkey;
        Bytes metadata;
        std::optional<Bytes> thumbnail;
    };

    TerminateData data;

    FileSend_TerminateData(std::string fileKey, Bytes fileMetadata, std::optional<Bytes> thumbnail);

    // The JSON bytes of `data`; absent when they cannot be written (a key text
    // that is not UTF-8).
    std::optional<Bytes> encode() const;
};

void to_json(json::OrderedJson& value, const FileSend_TerminateData::TerminateData& data);

}  // namespace ostrelcomm
