#pragma once

#include <any>

#include "platform/Bytes.h"
#include "user/UserProfile.h"

namespace ostrelcomm {

// Answer of the profile query; the body is the profile itself.
class Server_UserProfile {
public:
    UserProfile profile;

    static Server_UserProfile fromBody(ByteView body);
    std::any getAnswer() const { return profile; }
};

}  // namespace ostrelcomm
