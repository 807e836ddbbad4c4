#pragma once

#include <string>

#include "json/StrictJson.h"

namespace ostrelcomm {

// A user who shares items with the user: both keys are required.
struct SharingPeer {
    std::string peerUsername;
    std::string peerUUID;

    bool operator==(const SharingPeer&) const = default;
};

void from_json(const json::Json& value, SharingPeer& record);

}  // namespace ostrelcomm
