#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of account creation, key storage and profile deletion: the user concerned.
class Server_UserHandled {
public:
    struct UserHandled {
        std::string userUUID;
    };

    UserHandled userData;

    static Server_UserHandled fromBody(ByteView body);
    std::any getAnswer() const { return userData; }
};

void from_json(const json::Json& value, Server_UserHandled::UserHandled& record);
void to_json(json::OrderedJson& value, const Server_UserHandled::UserHandled& record);

}  // namespace ostrelcomm
