#include "devserver/FileEndpoints.h"

#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/EndpointSupport.h"

namespace devserver {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

constexpr std::size_t kAesBlock = 16;

ProtocolError noSuchFile() { return ProtocolError(404, "ItemNotFoundException", "No such file"); }
ProtocolError noSuchFolder() { return ProtocolError(404, "ItemNotFoundException", "No such folder"); }
ProtocolError notTheOwner() {
    return ProtocolError(403, "AccessDeniedException", "Only the owner of this file may change it");
}

// The signing user, who owns items only with an account identifier.
User owner(DevServer& server, const ServerRequest& request) {
    User user = sessionUser(server, request);
    if (user.uuid.empty()) throw noSuchUser();
    return user;
}

std::optional<Item> ownFile(const ItemStore& items, const std::string& owner, const std::string& uuid) {
    auto item = items.find(owner, uuid);
    if (!item || item->kind != ItemKind::file) return std::nullopt;
    return item;
}

// The owner's file, for a change: a reader of it may not, anyone else does
// not know it.
Item fileToChange(const ItemStore& items, const std::string& owner, const std::string& uuid) {
    if (auto item = ownFile(items, owner, uuid)) return *item;
    auto shared = items.sharedWith(owner, uuid);
    if (shared && shared->item.kind == ItemKind::file) throw notTheOwner();
    throw noSuchFile();
}

OrderedJson fileJson(const Item& item, const std::string& itemkey) {
    OrderedJson out;
    out["itemUUID"] = item.uuid;
    out["parentUUID"] = item.parent;
    out["type"] = wireName(item.kind);
    out["fileSize"] = item.size;
    out["attrib"] = item.attrib;
    out["metadata"] = base64Encode(item.metadata);
    if (item.thumbnail) out["thumbnail"] = base64Encode(*item.thumbnail);
    out["itemkey"] = itemkey;
    return out;
}

OrderedJson confirmation(const Item& item) {
    OrderedJson answer;
    answer["itemUUID"] = item.uuid;
    answer["parentUUID"] = item.parent;
    return answer;
}

std::vector<std::string> textList(const Json& value, const char* key) {
    if (!value.is_array()) throw badRequest(std::string(key) + " is not a list");
    std::vector<std::string> out;
    for (const auto& entry : value) {
        if (!entry.is_string()) throw badRequest(std::string(key) + " holds something else than texts");
        out.push_back(entry.get<std::string>());
    }
    return out;
}

// Sealed bytes as the client makes them: an IV, then whole cipher blocks
// with the padding in a block of its own at least.
std::vector<std::uint8_t> sealed(const Json& object, const char* key) {
    std::vector<std::uint8_t> bytes = base64Member(object, key);
    if (bytes.size() < 2 * kAesBlock || bytes.size() % kAesBlock != 0)
        throw badRequest(std::string(key) + " is not sealed in whole AES blocks");
    return bytes;
}

}  // namespace

OrderedJson fileInformation(const ItemStore& items, const UserStore& users, const User& user,
                            const std::string& uuid) {
    if (auto item = ownFile(items, user.uuid, uuid)) {
        OrderedJson out = fileJson(*item, item->itemkey);
        out["umk"] = user.umk;
        return out;
    }
    auto shared = items.sharedWith(user.uuid, uuid);
    if (!shared || shared->item.kind != ItemKind::file) throw noSuchFile();
    const auto sharer = users.findByUuid(shared->grant.owner);
    if (!sharer) throw noSuchFile();
    OrderedJson out = fileJson(shared->item, shared->grant.itemkey);
    out["pubshkey"] = base64Encode(sharer->pubshkey);
    out["privshkey"] = user.privshkey;
    return out;
}

Item modifyFile(ItemStore& items, const std::string& owner, const std::string& uuid, std::string_view body) {
    fileToChange(items, owner, uuid);
    const Json value = Json::parse(body, nullptr, false);
    if (value.is_discarded() || !value.is_object()) throw badRequest("The body is not a JSON object");
    static const std::set<std::string> known{"attrib", "parentUUID", "metadata", "thumbnail"};
    for (const auto& [key, member] : value.items())
        if (known.count(key) == 0) throw badRequest("The body has an unexpected member: " + key);

    std::optional<std::vector<std::string>> attrib;
    std::optional<std::string> parent;
    std::optional<std::vector<std::uint8_t>> metadata;
    std::optional<std::vector<std::uint8_t>> thumbnail;
    if (value.contains("attrib")) attrib = textList(value.at("attrib"), "attrib");
    if (value.contains("parentUUID")) {
        parent = stringMember(value, "parentUUID");
        if (!items.isFolder(owner, *parent)) throw noSuchFolder();
    }
    if (value.contains("metadata")) metadata = sealed(value, "metadata");
    if (value.contains("thumbnail")) thumbnail = sealed(value, "thumbnail");

    const bool stored = items.modify(owner, uuid, [&](Item& item) {
        if (attrib) item.attrib = std::move(*attrib);
        if (parent) item.parent = std::move(*parent);
        if (metadata) item.metadata = std::move(*metadata);
        if (thumbnail) item.thumbnail = std::move(*thumbnail);
    });
    // The file may have gone since the check above.
    if (!stored) throw noSuchFile();
    auto item = items.find(owner, uuid);
    if (!item) throw noSuchFile();
    return *item;
}

Item deleteFile(ItemStore& items, const std::string& owner, const std::string& uuid) {
    fileToChange(items, owner, uuid);
    auto removed = items.remove(owner, uuid);
    if (!removed) throw noSuchFile();
    return *removed;
}

void installFileEndpoints(DevServer& server) {
    DevServer* s = &server;
    auto information = [s](const ServerRequest& request) {
        const User user = owner(*s, request);
        return orderedReply(fileInformation(s->items(), s->users(), user, requiredHeader(request, "item-uuid")));
    };
    server.route("GET", "/file/info/", Endpoint{"GET_FILE_INFORMATIONS", Access::session, information});
    server.route("GET", "/file/modify_prepare/", Endpoint{"GET_FILE_INFORMATIONS", Access::session, information});

    server.route("PUT", "/file/modify_execute/",
                 Endpoint{"FILE_MODIFY_EXECUTE", Access::session, [s](const ServerRequest& request) {
                     const User user = owner(*s, request);
                     return orderedReply(confirmation(
                         modifyFile(s->items(), user.uuid, requiredHeader(request, "item-uuid"), request.body)));
                 }});

    server.route("DELETE", "/file/", Endpoint{"FILE_DELETE", Access::session, [s](const ServerRequest& request) {
                                                  const User user = owner(*s, request);
                                                  return orderedReply(confirmation(deleteFile(
                                                      s->items(), user.uuid, requiredHeader(request, "item-uuid"))));
                                              }});
}

}  // namespace devserver
