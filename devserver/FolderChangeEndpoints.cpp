#include "devserver/FolderChangeEndpoints.h"

#include <utility>

#include <nlohmann/json.hpp>

#include "devserver/DevServer.h"
#include "devserver/EndpointSupport.h"
#include "devserver/TreeEndpoints.h"

namespace devserver {

namespace {

using OrderedJson = nlohmann::ordered_json;

// One of the owner's stored folders; the root is none.
void requireStoredFolder(const ItemStore& items, const std::string& owner, const std::string& uuid,
                         const char* refusedForRoot) {
    if (uuid == kRootFolder) throw badRequest(refusedForRoot);
    if (!items.isFolder(owner, uuid)) throw noSuchFolder();
}

OrderedJson confirmation(const Item& item) {
    OrderedJson answer;
    answer["itemUUID"] = item.uuid;
    answer["parentUUID"] = item.parent;
    return answer;
}

}  // namespace

Item modifyDirectory(ItemStore& items, const std::string& owner, const std::string& uuid,
                     const std::optional<std::string>& newParent, std::string_view body) {
    requireStoredFolder(items, owner, uuid, "The root folder cannot be modified");
    std::optional<FolderBody> checked;
    if (!body.empty()) checked = folderBody(body);
    const auto outcome = items.change(owner, uuid, newParent, [&](Item& item) {
        if (!checked) return;
        item.attrib = std::move(checked->attrib);
        item.itemkey = std::move(checked->itemkey);
        item.metadata = std::move(checked->metadata);
    });
    switch (outcome) {
        case ItemStore::ChangeOutcome::changed: break;
        case ItemStore::ChangeOutcome::noSuchItem:
        case ItemStore::ChangeOutcome::noSuchFolder: throw noSuchFolder();
        case ItemStore::ChangeOutcome::intoItself:
            throw badRequest("A folder cannot be moved into itself or below itself");
    }
    // Gone again at once only when a deletion ran in between.
    auto stored = items.find(owner, uuid);
    if (!stored) throw noSuchFolder();
    return *stored;
}

void installFolderChangeEndpoints(DevServer& server) {
    DevServer* s = &server;

    server.route("GET", "/dir/modify_prepare/",
                 Endpoint{"DIRECTORY_MODIFY_PREPARE", Access::session, [s](const ServerRequest& request) {
                     const User user = itemOwner(*s, request);
                     const std::string uuid = requiredHeader(request, "item-uuid");
                     requireStoredFolder(s->items(), user.uuid, uuid, "The root folder cannot be modified");
                     const auto folder = s->items().folder(user.uuid, uuid);
                     if (!folder || !folder->self) throw noSuchFolder();
                     return orderedReply(listingJson(user, *folder));
                 }});

    server.route("PUT", "/dir/modify_execute/",
                 Endpoint{"DIRECTORY_MODIFY_EXECUTE", Access::session, [s](const ServerRequest& request) {
                     const User user = itemOwner(*s, request);
                     std::optional<std::string> newParent;
                     if (request.protocolHeader("parent-uuid")) newParent = requiredHeader(request, "parent-uuid");
                     const Item item = modifyDirectory(s->items(), user.uuid, requiredHeader(request, "item-uuid"),
                                                       newParent, request.body);
                     return orderedReply(confirmation(item));
                 }});

    server.route("DELETE", "/dir/",
                 Endpoint{"DIRECTORY_DELETE", Access::session, [s](const ServerRequest& request) {
                     const User user = itemOwner(*s, request);
                     const std::string uuid = requiredHeader(request, "item-uuid");
                     const std::string recursive = requiredHeader(request, "recursive");
                     if (recursive != "true" && recursive != "false")
                         throw badRequest("x-sb-recursive is neither true nor false");
                     requireStoredFolder(s->items(), user.uuid, uuid, "The root folder cannot be deleted");
                     const auto folder = s->items().find(user.uuid, uuid);
                     if (!folder) throw noSuchFolder();
                     switch (s->items().remove(user.uuid, uuid, recursive == "true")) {
                         case ItemStore::RemoveOutcome::removed: break;
                         case ItemStore::RemoveOutcome::noSuchItem: throw noSuchFolder();
                         case ItemStore::RemoveOutcome::notEmpty:
                             throw ProtocolError(409, "DirectoryNotEmptyException", "The folder is not empty");
                     }
                     return orderedReply(confirmation(*folder));
                 }});
}

}  // namespace devserver
