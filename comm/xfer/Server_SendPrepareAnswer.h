#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of an upload's preparation: the item that the upload creates.
class Server_SendPrepareAnswer {
public:
    struct Answer {
        std::string itemUUID;
    };

    Answer answer;

    static Server_SendPrepareAnswer fromBody(ByteView body);
    std::any getAnswer() const { return answer; }
};

void from_json(const json::Json& value, Server_SendPrepareAnswer::Answer& record);

}  // namespace ostrelcomm
