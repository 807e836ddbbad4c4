#include "devserver/ShareEndpoints.h"

#include <optional>
#include <utility>

#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/EndpointSupport.h"

namespace devserver {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

constexpr char kEncoderVersion[] = "1.0";
constexpr char kAlgorithm[] = "aes256";

ProtocolError noSuchFile() { return ProtocolError(404, "ItemNotFoundException", "No such file"); }

ProtocolError alreadyShared(const ShareGrant& grant) {
    return ProtocolError(409, "ItemAlreadyShared", "Item already shared@" + grant.shareUUID);
}

void requireEncoderVersion(const ServerRequest& request) {
    if (request.protocolHeader("encoder-version") != std::optional<std::string>(kEncoderVersion))
        throw badRequest(std::string("x-sb-encoder-version is not ") + kEncoderVersion);
}

// The signing user, who owns items only with an account identifier.
User owner(DevServer& server, const ServerRequest& request) {
    User user = sessionUser(server, request);
    if (user.uuid.empty()) throw noSuchUser();
    return user;
}

struct Target {
    Item item;
    User peer;
};

// The checks both requests make.
Target shareTarget(const ItemStore& items, const UserStore& users, const User& user, const std::string& peerUsername,
                   const std::string& uuid) {
    auto item = items.find(user.uuid, uuid);
    if (!item || item->kind != ItemKind::file) throw noSuchFile();
    auto peer = users.find(peerUsername);
    if (!peer || peer->uuid.empty()) throw noSuchUser();
    if (peer->uuid == user.uuid) throw badRequest("A user cannot share with itself");
    for (const ShareGrant& grant : items.grantsOf(user.uuid, uuid))
        if (grant.reader == peer->uuid) throw alreadyShared(grant);
    return Target{std::move(*item), std::move(*peer)};
}

}  // namespace

OrderedJson prepareShare(const ItemStore& items, const UserStore& users, const User& user,
                         const std::string& peerUsername, const std::string& uuid) {
    const Target target = shareTarget(items, users, user, peerUsername, uuid);
    OrderedJson answer;
    answer["umk"] = user.umk;
    answer["privshkey"] = user.privshkey;
    answer["pubshkey"] = base64Encode(target.peer.pubshkey);
    answer["itemkey"] = target.item.itemkey;
    return answer;
}

std::string executeShare(ItemStore& items, const UserStore& users, const User& user, std::string_view body) {
    const Json value = objectWithKeys(body, {"peerUsername", "itemUUID", "itemkey", "algorythm"});
    if (stringMember(value, "algorythm") != kAlgorithm)
        throw badRequest(std::string("algorythm is not ") + kAlgorithm);
    std::string itemkey = wrappedKeyMember(value, "itemkey");
    const Target target =
        shareTarget(items, users, user, stringMember(value, "peerUsername"), stringMember(value, "itemUUID"));
    // Another request may have shared or deleted the file since the checks.
    auto sharing = items.share(user.uuid, target.item.uuid, target.peer.uuid, std::move(itemkey));
    if (!sharing) throw noSuchFile();
    if (!sharing->made) throw alreadyShared(sharing->grant);
    return sharing->grant.shareUUID;
}

void installShareEndpoints(DevServer& server) {
    DevServer* s = &server;

    server.route("GET", "/shares/shareitem_prepare/",
                 Endpoint{"SHARE_SHAREITEM_PREPARE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     return orderedReply(prepareShare(s->items(), s->users(), user,
                                                      requiredHeader(request, "peer-username"),
                                                      requiredHeader(request, "item-uuid")));
                 }});

    server.route("PUT", "/shares/shareitem_execute/",
                 Endpoint{"SHARE_SHAREITEM_EXECUTE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     requireEncoderVersion(request);
                     OrderedJson answer;
                     answer["shareUUID"] = executeShare(s->items(), s->users(), user, request.body);
                     return orderedReply(answer);
                 }});
}

}  // namespace devserver
