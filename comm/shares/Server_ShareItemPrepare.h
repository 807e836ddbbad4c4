#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of the preparation of a share: what the client needs to wrap the
// item's key for the peer. The three wrapped keys are wrapped-key texts; the
// public key is the peer's, not the user's own.
class Server_ShareItemPrepare {
public:
    struct ShareKeys {
        // The user master key, under the password key.
        std::string umk;
        // The user's private sharing key, under the password key.
        std::string privshkey;
        // The peer's public sharing key (base64 on the wire).
        Bytes pubshkey;
        // The item's key, under the user master key.
        std::string itemkey;
    };

    ShareKeys keys;

    static Server_ShareItemPrepare fromBody(ByteView body);
    std::any getAnswer() const { return keys; }
};

void from_json(const json::Json& value, Server_ShareItemPrepare::ShareKeys& record);

}  // namespace ostrelcomm
