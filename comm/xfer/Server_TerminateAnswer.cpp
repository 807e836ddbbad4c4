#include "xfer/Server_TerminateAnswer.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_TerminateAnswer Server_TerminateAnswer::fromBody(ByteView body) { return Server_TerminateAnswer{answer::decodeRecord<Answer>(body)}; }

void from_json(const json::Json& value, Server_TerminateAnswer::Answer& record) { record.itemUUID = json::requireString(value, "itemUUID"); }

}  // namespace ostrelcomm
