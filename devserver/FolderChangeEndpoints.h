#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "devserver/ItemStore.h"

namespace devserver {

class DevServer;

// The folder changes, each on a signed request of a live session, over the
// session user's folders only (the folder named by "x-sb-item-uuid"):
//  GET "/dir/modify_prepare/" ("DIRECTORY_MODIFY_PREPARE"): the folder as a
//    listing answers it, {"umk", "informations", "content"}, "informations"
//    always present.
//  PUT "/dir/modify_execute/" ("DIRECTORY_MODIFY_EXECUTE"): see
//    modifyDirectory; answers {"itemUUID", "parentUUID"} with the folder's
//    parent after the change.
//  DELETE "/dir/" ("DIRECTORY_DELETE"): "x-sb-recursive" "true" removes the
//    folder with everything below it (through ItemStore::remove, so each
//    removed item's clean-up runs); "false" removes an empty folder and
//    refuses any other with "DirectoryNotEmptyException" (409). Answers
//    {"itemUUID", "parentUUID"} of the removed folder.
// The root is neither modified nor deleted ("BadRequestException"). A folder
// that is not one of the user's (another user's, a file, an unknown
// identifier) is refused with "ItemNotFoundException" (404), a malformed
// request with "BadRequestException".
void installFolderChangeEndpoints(DevServer& server);

// What the modification does with a request for `owner`'s folder `uuid`: an
// empty body changes nothing of the folder's record; any other body must be
// exactly {"attrib", "itemkey", "metadata"} as a creation sends it, and
// replaces the three (the new item key is kept as sent: the server cannot
// tell whether it wraps the key the metadata is sealed under). A
// `newParent` moves the folder there: one of the owner's folders or the
// root, never the folder itself nor one below it ("BadRequestException").
// Body and move are checked before anything changes. Throws ProtocolError;
// returns the folder as stored afterwards.
Item modifyDirectory(ItemStore& items, const std::string& owner, const std::string& uuid,
                     const std::optional<std::string>& newParent, std::string_view body);

}  // namespace devserver
