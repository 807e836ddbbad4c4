#pragma once

#include <any>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of the query for the user's wrapped keys: the user master key and
// the private sharing key, each as wrapped-key JSON text.
class Server_UserModification {
public:
    struct UserProfile {
        std::string userUUID;
        std::string umk;
        std::string privshkey;
    };

    UserProfile profile;

    static Server_UserModification fromBody(ByteView body);
    std::any getAnswer() const { return profile; }
};

void from_json(const json::Json& value, Server_UserModification::UserProfile& record);
void to_json(json::OrderedJson& value, const Server_UserModification::UserProfile& record);

}  // namespace ostrelcomm
