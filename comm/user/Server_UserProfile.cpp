#include "user/Server_UserProfile.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_UserProfile Server_UserProfile::fromBody(ByteView body) {
    return Server_UserProfile{answer::decodeRecord<UserProfile>(body)};
}

}  // namespace ostrelcomm
