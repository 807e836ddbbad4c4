#include "auth/Server_P1_Answer.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_P1_Answer Server_P1_Answer::fromBody(ByteView body) {
    return Server_P1_Answer{answer::decodeRecord<Answer>(body)};
}

void from_json(const json::Json& value, Server_P1_Answer::Answer& record) {
    record.sessionID = json::requireString(value, "sessionID");
    record.masterAuthParms = json::requireString(value, "masterAuthParms");
    record.salt = json::requireBase64(value, "salt");
    record.publickey = json::requireBase64(value, "publickey");
}

}  // namespace ostrelcomm
