#include "xfer/Server_FinalizeAnswer.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_FinalizeAnswer Server_FinalizeAnswer::fromBody(ByteView body) {
    return Server_FinalizeAnswer{answer::decodeRecord<Answer>(body)};
}

void from_json(const json::Json& value, Server_FinalizeAnswer::Answer& record) {
    record.itemUUID = json::requireString(value, "itemUUID");
    record.umk = json::requireString(value, "umk");
}

}  // namespace ostrelcomm
