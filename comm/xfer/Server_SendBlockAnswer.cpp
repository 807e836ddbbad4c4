#include "xfer/Server_SendBlockAnswer.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_SendBlockAnswer Server_SendBlockAnswer::fromBody(ByteView body) {
    return Server_SendBlockAnswer{answer::decodeRecord<Answer>(body)};
}

void from_json(const json::Json& value, Server_SendBlockAnswer::Answer& record) {
    record.itemUUID = json::requireString(value, "itemUUID");
    record.blocknum = json::requireInteger<std::uint32_t>(value, "blocknum");
    record.blockBegin = json::requireInteger<std::uint64_t>(value, "blockBegin");
    record.blockEnd = json::requireInteger<std::uint64_t>(value, "blockEnd");
}

}  // namespace ostrelcomm
