#include "devserver/FolderTreeEndpoints.h"

#include <map>
#include <vector>

#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/EndpointSupport.h"
#include "devserver/TreeEndpoints.h"

namespace devserver {

namespace {

using OrderedJson = nlohmann::ordered_json;

struct TreeWalk {
    // Parent → children, each list in creation order.
    std::map<std::string, std::vector<const Item*>> children;
    bool firstLevelOnly = false;
    OrderedJson metadata = OrderedJson::array();

    // One call per level: the stand-in's trees are as deep as its tests make them.
    OrderedJson branchesOf(const std::string& parent, bool isTop) {
        OrderedJson branches = OrderedJson::array();
        if (!isTop && firstLevelOnly) return branches;
        const auto inside = children.find(parent);
        if (inside == children.end()) return branches;
        for (const Item* item : inside->second) {
            OrderedJson entry;
            entry["itemUUID"] = item->uuid;
            entry["itemkey"] = item->itemkey;
            entry["metadata"] = base64Encode(item->metadata);
            metadata.push_back(std::move(entry));
            OrderedJson node;
            node["itemUUID"] = item->uuid;
            node["type"] = wireName(item->kind);
            node["branches"] = branchesOf(item->uuid, false);
            branches.push_back(std::move(node));
        }
        return branches;
    }
};

bool flag(const ServerRequest& request, const char* key) {
    const std::string value = requiredHeader(request, key);
    if (value != "true" && value != "false") throw badRequest("x-sb-" + std::string(key) + " is neither true nor false");
    return value == "true";
}

}  // namespace

std::optional<OrderedJson> treeJson(const ItemStore& items, const User& user, const std::string& top,
                                    bool foldersOnly, bool firstLevelOnly) {
    if (!items.isFolder(user.uuid, top)) return std::nullopt;
    // One copy of the owner's items, walked without the store's lock.
    const std::vector<Item> all = items.itemsOf(user.uuid);
    TreeWalk walk;
    walk.firstLevelOnly = firstLevelOnly;
    for (const Item& item : all)
        if (!foldersOnly || item.kind == ItemKind::directory) walk.children[item.parent].push_back(&item);
    OrderedJson answer;
    answer["umk"] = user.umk;
    answer["tree"] = walk.branchesOf(top, true);
    answer["metadata"] = std::move(walk.metadata);
    return answer;
}

void installFolderTreeEndpoints(DevServer& server) {
    DevServer* s = &server;

    server.route("GET", "/dir/tree/",
                 Endpoint{"GET_DIRECTORY_TREE", Access::session, [s](const ServerRequest& request) {
                     const User user = itemOwner(*s, request);
                     const std::string top = requiredHeader(request, "item-uuid");
                     const bool lazy = flag(request, "lazy");
                     const std::string treeType = requiredHeader(request, "treetype");
                     if (treeType != "ALL" && treeType != "DIRECTORY")
                         throw badRequest("x-sb-treetype is neither ALL nor DIRECTORY");
                     auto answer = treeJson(s->items(), user, top, treeType == "DIRECTORY", lazy);
                     if (!answer) throw noSuchFolder();
                     return orderedReply(*answer);
                 }});
}

}  // namespace devserver
