#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of the login's second exchange: the server's key proof.
class Server_P2_Answer {
public:
    struct Answer {
        std::string sessionID;
        Bytes serverKeyProof;
    };

    Answer answer;

    static Server_P2_Answer fromBody(ByteView body);
    std::any getAnswer() const { return answer; }
};

void from_json(const json::Json& value, Server_P2_Answer::Answer& record);

}  // namespace ostrelcomm
