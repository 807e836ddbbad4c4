#pragma once

namespace devserver {

class DevServer;

// The file copy endpoints, each on a signed request of a live session, about
// the source file named by "x-sb-item-uuid" (the user's own file, or one
// another user has granted the user):
//  GET "/file/copy_prepare/" ("FILE_COPY_PREPARE"): {"itemUUID", "fileSize",
//    "itemkey", "umk"} for the user's own file; for a granted one the
//    grant's "itemkey", the owner's "pubshkey" (base64) and the user's
//    "privshkey", then the user's "umk" as well (the copy's key is wrapped
//    under it).
//  PUT "/file/copy_execute/" ("FILE_COPY_EXECUTE"): the body is exactly
//    {"parentUUID" (one of the user's folders, or "root"), "itemkey" (a
//    wrapped AES-256 key)}. Makes a new file of the user's there, with the
//    source's metadata, thumbnail, attributes, size, tree hash and blocks
//    (copied in the data folder, so that removing either file leaves the
//    other whole) and the given key; answers {"itemUUID": the new file,
//    "parentUUID"}.
// A source the user may not read, or a parent that is not the user's folder,
// is an "ItemNotFoundException" (404); a malformed body a
// "BadRequestException"; a session whose user is gone a
// "UserNotFoundException".
void installCopyEndpoints(DevServer& server);

}  // namespace devserver
