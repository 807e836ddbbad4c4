#include "user/Server_UserModification.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_UserModification Server_UserModification::fromBody(ByteView body) {
    return Server_UserModification{answer::decodeRecord<UserProfile>(body)};
}

void from_json(const json::Json& value, Server_UserModification::UserProfile& record) {
    record.userUUID = json::requireString(value, "userUUID");
    record.umk = json::requireString(value, "umk");
    record.privshkey = json::requireString(value, "privshkey");
}

void to_json(json::OrderedJson& value, const Server_UserModification::UserProfile& record) {
    value = json::OrderedJson::object();
    value["userUUID"] = record.userUUID;
    value["umk"] = record.umk;
    value["privshkey"] = record.privshkey;
}

}  // namespace ostrelcomm
