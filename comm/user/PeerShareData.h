#pragma once

#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Another user's public sharing profile. An empty uuid means that no such
// user was found.
struct PeerShareData {
    std::string uuid;
    bool trusted = false;
    std::string username;
    Bytes pubSHKey;

    // Never fails: a body that does not decode gives the empty record.
    static PeerShareData fromBody(ByteView body);
};

void from_json(const json::Json& value, PeerShareData& peer);
// All four keys, "pubSHKey" spelled so.
void to_json(json::OrderedJson& value, const PeerShareData& peer);

}  // namespace ostrelcomm
