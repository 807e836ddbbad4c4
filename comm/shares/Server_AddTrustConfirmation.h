#pragma once

#include <any>
#include <optional>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of adding a trusted peer.
class Server_AddTrustConfirmation {
public:
    struct AddTrustConfirmation {
        std::optional<std::string> peerUUID;
        std::optional<std::string> trustUUID;
    };

    AddTrustConfirmation confirmation;

    static Server_AddTrustConfirmation fromBody(ByteView body);
    std::any getAnswer() const { return confirmation; }
};

void from_json(const json::Json& value, Server_AddTrustConfirmation::AddTrustConfirmation& record);

}  // namespace ostrelcomm
