#pragma once

#include <any>
#include <optional>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of the operations that only confirm a change to a remote folder or
// file: the item concerned and, where the server sends it, its parent.
class Server_GenericConfirmation {
public:
    struct OpData {
        std::optional<std::string> parentUUID;
        std::string itemUUID;
    };

    OpData opdata;

    static Server_GenericConfirmation fromBody(ByteView body);
    std::any getAnswer() const { return opdata; }
};

void from_json(const json::Json& value, Server_GenericConfirmation::OpData& opdata);
void to_json(json::OrderedJson& value, const Server_GenericConfirmation::OpData& opdata);

}  // namespace ostrelcomm
