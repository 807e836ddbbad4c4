#include "user/Server_UsersSessions.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_UsersSessions Server_UsersSessions::fromBody(ByteView body) {
    return Server_UsersSessions{answer::decodeList<UserSessionData>(body)};
}

}  // namespace ostrelcomm
