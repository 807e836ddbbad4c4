#include "devserver/TrustEndpoints.h"

#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/EndpointSupport.h"

namespace devserver {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

constexpr char kEncoderVersion[] = "1.0";

void requireEncoderVersion(const ServerRequest& request) {
    if (request.protocolHeader("encoder-version") != std::optional<std::string>(kEncoderVersion))
        throw badRequest(std::string("x-sb-encoder-version is not ") + kEncoderVersion);
}

OrderedJson trustEntry(const Trust& trust) {
    OrderedJson entry;
    entry["trustUUID"] = trust.trustUUID;
    entry["peerUUID"] = trust.peerUUID;
    entry["peerUsername"] = trust.peerUsername;
    entry["pubshkey"] = base64Encode(trust.pubshkey);
    return entry;
}

}  // namespace

void installTrustEndpoints(DevServer& server) {
    DevServer* s = &server;

    server.route("PUT", "/trustedpeers/add/",
                 Endpoint{"SHARE_CREATE_TRUST", Access::session, [s](const ServerRequest& request) {
                     const User user = sessionUser(*s, request);
                     requireEncoderVersion(request);
                     const Json body = objectWithKeys(request.body, {"peerUUID", "peerUsername", "pubshkey"});
                     Trust trust{newUuid(), stringMember(body, "peerUUID"), stringMember(body, "peerUsername"),
                                 base64Member(body, "pubshkey")};
                     const std::optional<User> peer = s->users().find(trust.peerUsername);
                     if (!peer || peer->uuid != trust.peerUUID) throw noSuchUser();
                     if (peer->uuid == user.uuid) throw badRequest("A user cannot trust itself");
                     if (peer->pubshkey != trust.pubshkey) throw badRequest("pubshkey is not the peer's key");
                     const Trust stored = s->trusts().add(user.uuid, std::move(trust));
                     OrderedJson answer;
                     answer["peerUUID"] = stored.peerUUID;
                     answer["trustUUID"] = stored.trustUUID;
                     return orderedReply(answer);
                 }});

    server.route("GET", "/trustedpeers/list/",
                 Endpoint{"SHARE_LIST_TRUSTS", Access::session, [s](const ServerRequest& request) {
                     const User user = sessionUser(*s, request);
                     OrderedJson list = OrderedJson::array();
                     for (const Trust& trust : s->trusts().list(user.uuid)) list.push_back(trustEntry(trust));
                     return orderedReply(list);
                 }});

    server.route("DELETE", "/trustedpeers/remove/",
                 Endpoint{"SHARE_REMOVE_TRUST", Access::session, [s](const ServerRequest& request) {
                     const User user = sessionUser(*s, request);
                     requireEncoderVersion(request);
                     const auto peerUUID = request.protocolHeader("trusted-user-uuid");
                     if (!peerUUID) throw badRequest("The request lacks x-sb-trusted-user-uuid");
                     const std::optional<Trust> removed = s->trusts().remove(user.uuid, *peerUUID);
                     if (!removed) throw ProtocolError(404, "TrustNotFoundException", "No trust in that user");
                     OrderedJson answer;
                     answer["trustUUID"] = removed->trustUUID;
                     return orderedReply(answer);
                 }});
}

}  // namespace devserver
