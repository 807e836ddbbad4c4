#pragma once

#include <any>
#include <vector>

#include "platform/Bytes.h"
#include "shares/SharesData.h"

namespace ostrelcomm {

// Answer of listing the shares of one of the user's items: the bare JSON
// array of shares, in the server's order. An element that is no object, or
// a member of the wrong type, fails the whole answer.
class Server_GetShares {
public:
    std::vector<SharesData> shares;

    static Server_GetShares fromBody(ByteView body);
    std::any getAnswer() const { return shares; }
};

}  // namespace ostrelcomm
