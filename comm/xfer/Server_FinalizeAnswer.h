#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of an upload's finalisation: the item and the user master key, wrapped.
class Server_FinalizeAnswer {
public:
    struct Answer {
        std::string itemUUID;
        std::string umk;
    };

    Answer answer;

    static Server_FinalizeAnswer fromBody(ByteView body);
    std::any getAnswer() const { return answer; }
};

void from_json(const json::Json& value, Server_FinalizeAnswer::Answer& record);

}  // namespace ostrelcomm
