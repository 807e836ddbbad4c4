#include "xfer/Server_SendPrepareAnswer.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_SendPrepareAnswer Server_SendPrepareAnswer::fromBody(ByteView body) { return Server_SendPrepareAnswer{answer::decodeRecord<Answer>(body)}; }

void from_json(const json::Json& value, Server_SendPrepareAnswer::Answer& record) { record.itemUUID = json::requireString(value, "itemUUID"); }

}  // namespace ostrelcomm
