#include "shares/Server_RemoveTrustConfirmation.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_RemoveTrustConfirmation Server_RemoveTrustConfirmation::fromBody(ByteView body) {
    return Server_RemoveTrustConfirmation{answer::decodeRecord<OpData>(body)};
}

void from_json(const json::Json& value, Server_RemoveTrustConfirmation::OpData& record) {
    record.trustUUID = json::requireString(value, "trustUUID");
}

}  // namespace ostrelcomm
