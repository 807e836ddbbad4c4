#include "auth/Client_GetChallenge.h"

namespace ostrelcomm {

void to_json(json::OrderedJson& value, const Client_GetChallenge& record) {
    value = json::OrderedJson::object();
    json::putBase64(value, "clientpubkey", record.clientpubkey);
    json::putBase64(value, "clientkeyproof", record.clientkeyproof);
}

Bytes Client_GetChallenge::encode() const {
    json::OrderedJson value;
    to_json(value, *this);
    return json::dumpBytes(value);
}

}  // namespace ostrelcomm
