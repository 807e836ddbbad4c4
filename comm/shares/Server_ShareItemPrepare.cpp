#include "shares/Server_ShareItemPrepare.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_ShareItemPrepare Server_ShareItemPrepare::fromBody(ByteView body) {
    return Server_ShareItemPrepare{answer::decodeRecord<ShareKeys>(body)};
}

void from_json(const json::Json& value, Server_ShareItemPrepare::ShareKeys& record) {
    record.umk = json::requireString(value, "umk");
    record.privshkey = json::requireString(value, "privshkey");
    record.pubshkey = json::requireBase64(value, "pubshkey");
    record.itemkey = json::requireString(value, "itemkey");
}

}  // namespace ostrelcomm
