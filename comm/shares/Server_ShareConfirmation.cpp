#include "shares/Server_ShareConfirmation.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_ShareConfirmation Server_ShareConfirmation::fromBody(ByteView body) { return Server_ShareConfirmation{answer::decodeRecord<OpData>(body)}; }

void from_json(const json::Json& value, Server_ShareConfirmation::OpData& record) { record.shareUUID = json::requireString(value, "shareUUID"); }

}  // namespace ostrelcomm
