#include "devserver/TreeEndpoints.h"

#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/EndpointSupport.h"

namespace devserver {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

constexpr char kEncoderVersion[] = "1.0";
constexpr char kAlgorithm[] = "aes256";

ProtocolError noSuchFolder() { return ProtocolError(404, "ItemNotFoundException", "No such folder"); }

// The signing user, who owns items only with an account identifier (a user
// made for the login alone has none).
User owner(DevServer& server, const ServerRequest& request) {
    User user = sessionUser(server, request);
    if (user.uuid.empty()) throw noSuchUser();
    return user;
}

OrderedJson itemJson(const Item& item) {
    OrderedJson out;
    out["uuid"] = item.uuid;
    out["type"] = wireName(item.kind);
    out["parentuuid"] = item.parent;
    out["orig_size"] = item.size;
    out["attrib"] = item.attrib;
    out["metadata"] = base64Encode(item.metadata);
    out["itemkey"] = item.itemkey;
    out["thumbnailsize"] = item.thumbnailSize();
    return out;
}

std::vector<std::string> textList(const Json& object, const char* key) {
    const Json& list = object.at(key);
    if (!list.is_array()) throw badRequest(std::string(key) + " is not a list");
    std::vector<std::string> out;
    for (const auto& entry : list) {
        if (!entry.is_string()) throw badRequest(std::string(key) + " holds something else than texts");
        out.push_back(entry.get<std::string>());
    }
    return out;
}

}  // namespace

Item createDirectory(ItemStore& items, const std::string& owner, const std::string& parent, std::string_view body) {
    if (!items.isFolder(owner, parent)) throw noSuchFolder();
    const Json value = objectWithKeys(body, {"attrib", "itemkey", "metadata"});
    Item item;
    item.owner = owner;
    item.kind = ItemKind::directory;
    item.parent = parent;
    item.attrib = textList(value, "attrib");
    item.itemkey = wrappedKeyMember(value, "itemkey");
    item.metadata = sealedMember(value, "metadata");
    // The parent may have gone since the check above.
    auto stored = items.add(std::move(item));
    if (!stored) throw noSuchFolder();
    return *stored;
}

void installTreeEndpoints(DevServer& server) {
    DevServer* s = &server;

    server.route("GET", "/dir/list/",
                 Endpoint{"GET_DIRECTORY_INFORMATIONS", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     const auto folder = s->items().folder(user.uuid, requiredHeader(request, "item-uuid"));
                     if (!folder) throw noSuchFolder();
                     OrderedJson listing;
                     listing["umk"] = user.umk;
                     if (folder->self) listing["informations"] = itemJson(*folder->self);
                     listing["content"] = OrderedJson::array();
                     for (const auto& item : folder->content) listing["content"].push_back(itemJson(item));
                     return orderedReply(listing);
                 }});

    server.route("GET", "/dir/create_prepare/",
                 Endpoint{"DIRECTORY_CREATE_PREPARE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     if (!s->items().isFolder(user.uuid, requiredHeader(request, "parent-uuid"))) throw noSuchFolder();
                     OrderedJson answer;
                     answer["umk"] = user.umk;
                     return orderedReply(answer);
                 }});

    server.route("PUT", "/dir/create_execute/",
                 Endpoint{"DIRECTORY_CREATE_EXECUTE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     if (requiredHeader(request, "encoder-version") != kEncoderVersion)
                         throw badRequest("Unknown encoder version");
                     if (requiredHeader(request, "algorythm") != kAlgorithm) throw badRequest("Unknown algorithm");
                     const Item item =
                         createDirectory(s->items(), user.uuid, requiredHeader(request, "parent-uuid"), request.body);
                     OrderedJson answer;
                     answer["itemUUID"] = item.uuid;
                     answer["parentUUID"] = item.parent;
                     return orderedReply(answer);
                 }});
}

}  // namespace devserver
