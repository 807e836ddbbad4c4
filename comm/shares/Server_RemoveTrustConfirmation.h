#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of removing a trusted peer: the trust concerned.
class Server_RemoveTrustConfirmation {
public:
    struct OpData {
        std::string trustUUID;
    };

    OpData opdata;

    static Server_RemoveTrustConfirmation fromBody(ByteView body);
    std::any getAnswer() const { return opdata; }
};

void from_json(const json::Json& value, Server_RemoveTrustConfirmation::OpData& record);

}  // namespace ostrelcomm
