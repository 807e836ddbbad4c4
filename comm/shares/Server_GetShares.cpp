#include "shares/Server_GetShares.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_GetShares Server_GetShares::fromBody(ByteView body) {
    return Server_GetShares{answer::decodeList<SharesData>(body)};
}

}  // namespace ostrelcomm
