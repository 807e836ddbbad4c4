#pragma once

#include <optional>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// One share of an item as the owner's listing gives it: the share and the
// peer the item is shared with. Every member may be missing; a missing or
// null key is absent, and encoding leaves absent members out.
struct SharesData {
    std::optional<std::string> shareUUID;
    std::optional<std::string> peerUUID;
    std::optional<std::string> peerUsername;

    // The JSON bytes, keys in this order.
    Bytes encode() const;

    bool operator==(const SharesData&) const = default;
};

void from_json(const json::Json& value, SharesData& record);
void to_json(json::OrderedJson& value, const SharesData& record);

}  // namespace ostrelcomm
