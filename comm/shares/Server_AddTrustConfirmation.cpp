#include "shares/Server_AddTrustConfirmation.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_AddTrustConfirmation Server_AddTrustConfirmation::fromBody(ByteView body) {
    return Server_AddTrustConfirmation{answer::decodeRecord<AddTrustConfirmation>(body)};
}

void from_json(const json::Json& value, Server_AddTrustConfirmation::AddTrustConfirmation& record) {
    record.peerUUID = json::optionalString(value, "peerUUID");
    record.trustUUID = json::optionalString(value, "trustUUID");
}

}  // namespace ostrelcomm
