#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "devserver/ItemStore.h"
#include "devserver/Users.h"

namespace devserver {

class DevServer;

// The folder tree, on a signed request of a live session, over the session
// user's items only:
//  GET "/dir/tree/" ("GET_DIRECTORY_TREE"): the subtree below the folder
//    named by "x-sb-item-uuid" ("root" for the whole tree), see treeJson.
//    "x-sb-lazy" and "x-sb-treetype" must be "true"/"false" and
//    "ALL"/"DIRECTORY" ("BadRequestException"); a folder that is not one of
//    the user's is refused with "ItemNotFoundException" (404).
void installFolderTreeEndpoints(DevServer& server);

// The tree answer for `user`'s folder `top`: {"umk", "tree", "metadata"}.
// "tree" holds the top folder's children in creation order, each
// {"itemUUID", "type", "branches"} with its own children nested the same way
// ("branches" [] for a leaf); "metadata" holds one {"itemUUID", "itemkey",
// "metadata"} for every node of "tree", the top itself left out, in the
// order the nodes are met going down the tree. `foldersOnly` ("DIRECTORY")
// leaves files out; `firstLevelOnly` ("lazy") gives the top's children with
// no branches of their own. Absent when `top` is not one of the user's
// folders nor the root.
std::optional<nlohmann::ordered_json> treeJson(const ItemStore& items, const User& user, const std::string& top,
                                               bool foldersOnly, bool firstLevelOnly);

}  // namespace devserver
