#include "shares/SharesData.h"

namespace ostrelcomm {

Bytes SharesData::encode() const { return json::dumpBytes(json::OrderedJson(*this)); }

void from_json(const json::Json& value, SharesData& record) {
    json::asObject(value, "share");
    record.shareUUID = json::optionalString(value, "shareUUID");
    record.peerUUID = json::optionalString(value, "peerUUID");
    record.peerUsername = json::optionalString(value, "peerUsername");
}

void to_json(json::OrderedJson& value, const SharesData& record) {
    value = json::OrderedJson::object();
    json::putOptional(value, "shareUUID", record.shareUUID);
    json::putOptional(value, "peerUUID", record.peerUUID);
    json::putOptional(value, "peerUsername", record.peerUsername);
}

}  // namespace ostrelcomm
