#pragma once

#include <any>
#include <vector>

#include "platform/Bytes.h"
#include "shares/SharingPeer.h"

namespace ostrelcomm {

// Answer of listing the users who share items with the user: the bare JSON
// array of peers, in the server's order. One element that does not decode
// fails the whole answer.
class Server_GetSharingPeers {
public:
    std::vector<SharingPeer> peers;

    static Server_GetSharingPeers fromBody(ByteView body);
    std::any getAnswer() const { return peers; }
};

}  // namespace ostrelcomm
