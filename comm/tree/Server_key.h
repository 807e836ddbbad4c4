#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of the folder creation's preparation: the user master key, wrapped.
class Server_key {
public:
    struct Key {
        std::string umk;
    };

    Key key;

    static Server_key fromBody(ByteView body);
    std::any getAnswer() const { return key; }
};

void from_json(const json::Json& value, Server_key::Key& record);

}  // namespace ostrelcomm
