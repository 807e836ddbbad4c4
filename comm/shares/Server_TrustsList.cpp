#include "shares/Server_TrustsList.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_TrustsList Server_TrustsList::fromBody(ByteView body) {
    return Server_TrustsList{answer::decodeList<TrustCode>(body)};
}

}  // namespace ostrelcomm
