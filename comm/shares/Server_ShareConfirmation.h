#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of sharing an item and of removing a share: the share concerned.
class Server_ShareConfirmation {
public:
    struct OpData {
        std::string shareUUID;
    };

    OpData opdata;

    static Server_ShareConfirmation fromBody(ByteView body);
    std::any getAnswer() const { return opdata; }
};

void from_json(const json::Json& value, Server_ShareConfirmation::OpData& record);

}  // namespace ostrelcomm
