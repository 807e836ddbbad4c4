#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "devserver/ItemStore.h"
#include "devserver/Users.h"

namespace devserver {

class DevServer;

// The file endpoints, each on a signed request of a live session, about the
// file named by "x-sb-item-uuid":
//  GET "/file/info/" and GET "/file/modify_prepare/" (both answer
//    "GET_FILE_INFORMATIONS"): the file as fileInformation describes it.
//  PUT "/file/modify_execute/" ("FILE_MODIFY_EXECUTE"): stores what the body
//    gives (see modifyFile) and answers {"itemUUID", "parentUUID"}.
//  DELETE "/file/" ("FILE_DELETE"): the file goes, with its share grants;
//    answers {"itemUUID", "parentUUID"} as it was.
// The user's own files are answered with the user's wrapped master key; a
// file another user has granted the user is answered with the grant's key
// instead, but only its owner may change or delete it: anyone else gets
// "AccessDeniedException" (403, a message that never says the session
// expired). A file that is neither (another user's, a folder, an unknown
// identifier) is refused with "ItemNotFoundException" (404), a malformed
// request with "BadRequestException", a session whose user is gone with
// "UserNotFoundException".
void installFileEndpoints(DevServer& server);

// The file `uuid` as `user` may read it, as {"itemUUID", "parentUUID",
// "type", "fileSize", "attrib", "metadata", "thumbnail" (only when one is
// stored), "itemkey", then "umk" for the user's own file, or "pubshkey" (the
// owner's public sharing key, base64) and "privshkey" (the user's wrapped
// private sharing key) for a file granted to the user}. Throws ProtocolError.
nlohmann::ordered_json fileInformation(const ItemStore& items, const UserStore& users, const User& user,
                                       const std::string& uuid);

// What the modification does with a request body for `owner`'s file `uuid`:
// a JSON object of the keys "attrib" (a list of texts), "parentUUID" (one of
// the owner's folders, or "root"), "metadata" and "thumbnail" (sealed in
// whole AES blocks, at least an IV and one block), any of them left out and
// no other; stores each one given, as given, and returns the stored file.
// Throws ProtocolError; nothing is stored when it does.
Item modifyFile(ItemStore& items, const std::string& owner, const std::string& uuid, std::string_view body);

// Removes `owner`'s file `uuid` and its grants; returns it as it was.
// Throws ProtocolError.
Item deleteFile(ItemStore& items, const std::string& owner, const std::string& uuid);

}  // namespace devserver
