#pragma once

#include <any>
#include <vector>

#include "platform/Bytes.h"
#include "shares/TrustCode.h"

namespace ostrelcomm {

// Answer of listing the trusted peers: a JSON array of trust codes, each
// with its "trustUUID", in the server's order. One element that does not
// decode fails the whole answer.
class Server_TrustsList {
public:
    std::vector<TrustCode> trusts;

    static Server_TrustsList fromBody(ByteView body);
    std::any getAnswer() const { return trusts; }
};

}  // namespace ostrelcomm
