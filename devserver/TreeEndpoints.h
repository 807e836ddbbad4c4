#pragma once

#include <string>
#include <string_view>

#include "devserver/ItemStore.h"

namespace devserver {

class DevServer;

// The folder endpoints, each on a signed request of a live session, over the
// session user's items only:
//  GET "/dir/list/" ("GET_DIRECTORY_INFORMATIONS"): the folder named by
//    "x-sb-item-uuid" ("root" for the top) as {"umk", "informations",
//    "content"}: "umk" the user's wrapped master key, "informations" the
//    folder's own item (left out for the root), "content" the items directly
//    in it in creation order. An item is {"uuid", "type", "parentuuid",
//    "orig_size", "attrib", "metadata", "itemkey", "thumbnailsize"}: the
//    metadata in base64 and the item key text as the client stored them,
//    "thumbnailsize" the stored thumbnail's length.
//  GET "/dir/create_prepare/" ("DIRECTORY_CREATE_PREPARE"): {"umk"}, for a
//    new folder in the folder named by "x-sb-parent-uuid".
//  PUT "/dir/create_execute/" ("DIRECTORY_CREATE_EXECUTE"): with
//    "x-sb-encoder-version" "1.0", "x-sb-algorythm" "aes256" and
//    "x-sb-parent-uuid", stores the folder of the body (see createDirectory)
//    and answers {"itemUUID", "parentUUID"}.
// A folder that is not one of the user's (another user's, a file, an unknown
// identifier) is refused with "ItemNotFoundException" (404), a malformed
// request with "BadRequestException", a session whose user is gone with
// "UserNotFoundException".
void installTreeEndpoints(DevServer& server);

// What the folder creation does with a request body for `owner`'s folder
// `parent`: checks that it is exactly {"attrib", "itemkey", "metadata"} with
// a list of texts, a wrapped AES-256 key (the check the account endpoints
// use) and sealed metadata of whole AES blocks, at least an IV and one block;
// stores the new folder, size 0, with a fresh identifier. Throws
// ProtocolError; returns the stored item.
Item createDirectory(ItemStore& items, const std::string& owner, const std::string& parent, std::string_view body);

}  // namespace devserver
