#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of the login's first exchange: the new session, the account's SRP
// parameters (as the JSON text of their encoded form), the user's salt and
// the server's public value B, big-endian.
class Server_P1_Answer {
public:
    struct Answer {
        std::string sessionID;
        std::string masterAuthParms;
        Bytes salt;
        Bytes publickey;
    };

    Answer answer;

    static Server_P1_Answer fromBody(ByteView body);
    std::any getAnswer() const { return answer; }
};

void from_json(const json::Json& value, Server_P1_Answer::Answer& record);

}  // namespace ostrelcomm
