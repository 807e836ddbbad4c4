#include "shares/SharingPeer.h"

namespace ostrelcomm {

void from_json(const json::Json& value, SharingPeer& record) {
    json::asObject(value, "sharing peer");
    record.peerUsername = json::requireString(value, "peerUsername");
    record.peerUUID = json::requireString(value, "peerUUID");
}

}  // namespace ostrelcomm
