#include "shares/Server_GetSharingPeers.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_GetSharingPeers Server_GetSharingPeers::fromBody(ByteView body) {
    return Server_GetSharingPeers{answer::decodeList<SharingPeer>(body)};
}

}  // namespace ostrelcomm
