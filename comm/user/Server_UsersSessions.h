#pragma once

#include <any>
#include <vector>

#include "platform/Bytes.h"
#include "user/UserSessionData.h"

namespace ostrelcomm {

// Answer of the login-history query: a JSON array, in the server's order.
class Server_UsersSessions {
public:
    std::vector<UserSessionData> sessions;

    static Server_UsersSessions fromBody(ByteView body);
    std::any getAnswer() const { return sessions; }
};

}  // namespace ostrelcomm
