#pragma once

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Body of the login's second request: the client's public value A
// (big-endian, no leading zero bytes) and its proof M, both as base64 text.
struct Client_GetChallenge {
    Bytes clientpubkey;
    Bytes clientkeyproof;

    // The JSON body, members in declaration order.
    Bytes encode() const;
};

void to_json(json::OrderedJson& value, const Client_GetChallenge& record);

}  // namespace ostrelcomm
