#include "tree/Server_key.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_key Server_key::fromBody(ByteView body) { return Server_key{answer::decodeRecord<Key>(body)}; }

void from_json(const json::Json& value, Server_key::Key& record) { record.umk = json::requireString(value, "umk"); }

}  // namespace ostrelcomm
