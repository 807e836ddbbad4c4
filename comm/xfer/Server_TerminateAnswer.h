#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of an upload's end or abort: the item concerned.
class Server_TerminateAnswer {
public:
    struct Answer {
        std::string itemUUID;
    };

    Answer answer;

    static Server_TerminateAnswer fromBody(ByteView body);
    std::any getAnswer() const { return answer; }
};

void from_json(const json::Json& value, Server_TerminateAnswer::Answer& record);

}  // namespace ostrelcomm
