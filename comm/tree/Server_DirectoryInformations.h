#pragma once

#include <any>

#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of a folder listing: the body exactly as received. Nothing is parsed
// here; RemoteDirInfo::create reads it once the requesting step has its keys.
class Server_DirectoryInformations {
public:
    Bytes jsonAnswer;

    static Server_DirectoryInformations fromBody(ByteView body) {
        return Server_DirectoryInformations{Bytes(body.begin(), body.end())};
    }
    std::any getAnswer() const { return jsonAnswer; }
};

}  // namespace ostrelcomm
