#include "user/Server_UserHandled.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_UserHandled Server_UserHandled::fromBody(ByteView body) {
    return Server_UserHandled{answer::decodeRecord<UserHandled>(body)};
}

void from_json(const json::Json& value, Server_UserHandled::UserHandled& record) {
    record.userUUID = json::requireString(value, "userUUID");
}

void to_json(json::OrderedJson& value, const Server_UserHandled::UserHandled& record) {
    value = json::OrderedJson::object();
    value["userUUID"] = record.userUUID;
}

}  // namespace ostrelcomm
