#pragma once

#include <string>
#include <vector>

#include "devserver/ItemStore.h"

namespace devserver {

class DevServer;

// The upload endpoints, each on a signed request of a live session, over the
// session user's items only. An upload is a FILE item of the store from its
// prepare on, with a PendingUpload while it runs (in no listing); its blocks
// are Chunks of the item, their bodies files of the data folder.
//  GET "/filesend/prepare/" ("FILESEND_PREPARE"): with "x-sb-encoder-version"
//    "1.0", "x-sb-algorythm" "aes256", "x-sb-parent-uuid" (one of the user's
//    folders, or "root") and "x-sb-file-size" (decimal), starts an upload of
//    that many clear bytes and answers {"itemUUID"}.
//  PUT "/filesend/store/" ("FILESEND_SENDBLOCK"): with "x-sb-encoder-version",
//    "x-sb-item-uuid", "x-sb-blocknum" and "x-sb-blockrange" ("first-last",
//    inclusive, decimal), stores the body as that block: the next block, its
//    range beginning right after the one before (at 0 for block 0), or the
//    last block again with its range unchanged (it replaces the stored body);
//    the range inside "file-size"; the body exactly the CBC ciphertext length
//    of the range (the clear length rounded up to the next multiple of 16,
//    16 more when it is one). The block's checksum is the body's SHA-256,
//    which the server's request checks have compared with
//    "x-sb-payload-sha256" (a mismatch is a "BadChecksumException").
//    Answers {"itemUUID", "blocknum", "blockBegin", "blockEnd"}.
//  GET "/filesend/finalize/" ("FILESEND_FINALIZE"): with
//    "x-sb-encoder-version", "x-sb-item-uuid", "x-sb-blocks-sent" and
//    "x-sb-treehash-sha256": when the stored blocks cover the file exactly and
//    the count and tree hash equal the server's own (treeHashHex), the upload
//    is finalized (again, for a finalize sent twice) with that tree hash;
//    answers {"itemUUID", "umk"} with the user's wrapped master key.
//  PUT "/filesend/terminate/" ("FILESEND_TERMINATE"): with
//    "x-sb-encoder-version" and "x-sb-item-uuid" of a finalized upload, and
//    the body {"itemkey", "metadata"} or {"itemkey", "metadata", "thumbnail"}
//    (a wrapped AES-256 key, sealed metadata and thumbnail, as the folder
//    creation checks them): the upload becomes a FILE of its folder, listed
//    with "orig_size" (the file's size) and "thumbnailsize". Answers
//    {"itemUUID"}.
//  DELETE "/filesend/" ("FILESEND_ABORT"): with "x-sb-item-uuid" of an
//    upload under way, drops it and its blocks; answers {"itemUUID"}.
// An item that is not the user's upload under way (another user's, a
// finished file, a folder, an unknown identifier) and a parent that is not
// one of the user's folders are refused with "ItemNotFoundException" (404);
// a malformed or out-of-order request with "BadRequestException"; a session
// whose user is gone with "UserNotFoundException".
void installTransferEndpoints(DevServer& server);

// The tree hash of a file's blocks as lower-case hexadecimal, written here
// on OpenSSL: the leaves are the chunks' checksums in block order; pairs are
// joined left then right and hashed with SHA-256, a level's odd last node goes
// up unchanged, one leaf is its own tree hash, and no leaf gives the SHA-256
// of empty input. Throws std::invalid_argument for a checksum that is not
// hexadecimal.
std::string treeHashHex(const std::vector<Chunk>& chunks);

}  // namespace devserver
