#include "user/PeerShareData.h"

#include <exception>

#include "http/ServerAnswer.h"

namespace ostrelcomm {

PeerShareData PeerShareData::fromBody(ByteView body) {
    try {
        return answer::decodeRecord<PeerShareData>(body);
    } catch (const std::exception&) {
        return PeerShareData{};
    }
}

void from_json(const json::Json& value, PeerShareData& peer) {
    peer.uuid = json::requireString(value, "uuid");
    peer.trusted = json::requireBool(value, "trusted");
    peer.username = json::requireString(value, "username");
    peer.pubSHKey = json::requireBase64(value, "pubSHKey");
}

void to_json(json::OrderedJson& value, const PeerShareData& peer) {
    value = json::OrderedJson::object();
    value["uuid"] = peer.uuid;
    value["trusted"] = peer.trusted;
    value["username"] = peer.username;
    json::putBase64(value, "pubSHKey", peer.pubSHKey);
}

}  // namespace ostrelcomm
