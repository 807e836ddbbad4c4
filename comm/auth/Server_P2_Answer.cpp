#include "auth/Server_P2_Answer.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_P2_Answer Server_P2_Answer::fromBody(ByteView body) {
    return Server_P2_Answer{answer::decodeRecord<Answer>(body)};
}

void from_json(const json::Json& value, Server_P2_Answer::Answer& record) {
    record.sessionID = json::requireString(value, "sessionID");
    record.serverKeyProof = json::requireBase64(value, "serverKeyProof");
}

}  // namespace ostrelcomm
