#include "devserver/ShareEndpoints.h"

#include <optional>
#include <set>
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

OrderedJson listShares(const ItemStore& items, const UserStore& users, const User& user, const std::string& uuid) {
    if (!items.find(user.uuid, uuid)) throw ProtocolError(404, "ItemNotFoundException", "No such item");
    OrderedJson answer = OrderedJson::array();
    for (const ShareGrant& grant : items.grantsOf(user.uuid, uuid)) {
        const auto reader = users.findByUuid(grant.reader);
        if (!reader) continue;
        OrderedJson share;
        share["shareUUID"] = grant.shareUUID;
        share["peerUUID"] = reader->uuid;
        share["peerUsername"] = reader->name;
        answer.push_back(std::move(share));
    }
    return answer;
}

std::string removeShare(ItemStore& items, const User& user, const std::string& shareUUID) {
    auto revoked = items.revoke(user.uuid, shareUUID);
    if (!revoked) throw ProtocolError(404, "ItemNotFoundException", "No such share");
    return revoked->shareUUID;
}

OrderedJson sharingPeers(const ItemStore& items, const UserStore& users, const User& user) {
    OrderedJson answer = OrderedJson::array();
    std::set<std::string> listed;
    for (const ItemStore::Shared& shared : items.grantsTo(user.uuid)) {
        if (!listed.insert(shared.grant.owner).second) continue;
        const auto owner = users.findByUuid(shared.grant.owner);
        if (!owner) continue;
        OrderedJson peer;
        peer["peerUsername"] = owner->name;
        peer["peerUUID"] = owner->uuid;
        answer.push_back(std::move(peer));
    }
    return answer;
}

OrderedJson sharedItems(const ItemStore& items, const UserStore& users, const User& user,
                        const std::optional<std::string>& owner) {
    OrderedJson list = OrderedJson::array();
    for (const ItemStore::Shared& shared : items.grantsTo(user.uuid, owner)) {
        const auto itemOwner = users.findByUuid(shared.grant.owner);
        if (!itemOwner) continue;
        OrderedJson entry;
        entry["ownerusername"] = itemOwner->name;
        entry["ownerpubshkey"] = base64Encode(itemOwner->pubshkey);
        entry["owneruuid"] = itemOwner->uuid;
        entry["shareid"] = shared.grant.shareUUID;
        entry["itemuuid"] = shared.item.uuid;
        entry["itemkey"] = shared.grant.itemkey;
        entry["keyalgorythm"] = kAlgorithm;
        entry["itemtype"] = wireName(shared.item.kind);
        entry["orig_size"] = shared.item.size;
        entry["treehash"] = shared.item.treehash;
        entry["itemalgorythm"] = kAlgorithm;
        entry["itemencoderversion"] = kEncoderVersion;
        entry["metadata"] = base64Encode(shared.item.metadata);
        list.push_back(std::move(entry));
    }
    OrderedJson answer;
    answer["userprivatekey"] = user.privshkey;
    answer["sharedItems"] = std::move(list);
    return answer;
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

    server.route("GET", "/shares/listshares/",
                 Endpoint{"SHARE_GETSHARE_FOR_ITEM", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     return orderedReply(
                         listShares(s->items(), s->users(), user, requiredHeader(request, "item-uuid")));
                 }});

    server.route("DELETE", "/shares/remove/",
                 Endpoint{"SHARE_REMOVE_SHARE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     OrderedJson answer;
                     answer["shareUUID"] = removeShare(s->items(), user, requiredHeader(request, "share-uuid"));
                     return orderedReply(answer);
                 }});

    server.route("GET", "/shares/getsharingpeers/",
                 Endpoint{"SHARE_GETSHARING_PEERS", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     return orderedReply(sharingPeers(s->items(), s->users(), user));
                 }});

    server.route("GET", "/shares/getshareditems/",
                 Endpoint{"SHARE_GETSHARED_ITEMS", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     return orderedReply(
                         sharedItems(s->items(), s->users(), user, request.protocolHeader("peer-uuid")));
                 }});
}

}  // namespace devserver
