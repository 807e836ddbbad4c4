#pragma once

#include <optional>
#include <string>
#include <vector>

#include "devserver/ItemStore.h"
#include "devserver/Users.h"

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

// The download endpoints, each on a signed request of a live session:
//  GET "/filerecv/prepare/" ("FILERECV_PREPARE"): with "x-sb-item-uuid" of a
//    FILE (no upload under way), answers {"itemUUID", "fileSize", "attrib",
//    "chunks" [{"begin","end","chksum"}], "metadata", "itemkey",
//    "treehash-SHA256"} and, for the user's own file, "umk"; for a file
//    shared with the user, the owner's "pubshkey" and the user's own
//    "privshkey" instead, with the item key of the user's grant.
//  GET "/filerecv/getblock/" ("FILERECV_GETBLOCK"): with "x-sb-item-uuid" and
//    "x-sb-blocknum" (decimal), answers the stored body of that block as
//    "application/octet-stream", with "x-sb-blocknum" and "x-sb-blockrange"
//    ("begin-end", the block's clear range) signed beside its digest.
// Any other item, the user's or not, is an "ItemNotFoundException" (404); a
// block number the file does not have a "BadRequestException".
void installDownloadEndpoints(DevServer& server);

// A file `user` may read: its own, or one shared with it, with the item key
// as this user is to unwrap it (the grant's for a shared file). Anything else
// (a folder, an upload under way, another user's file not granted, an
// unknown identifier) throws "ItemNotFoundException" (404).
struct Readable {
    Item item;
    std::string itemkey;
    // Present for a shared file: the owner.
    std::optional<User> sharer;
};
Readable readableFile(DevServer& server, const User& user, const std::string& uuid);

// For tests: stores a FILE made outside the server (a test's own oracle) as
// the upload would have left it: `item` with its chunk list and tree hash
// as given (not checked, so a test may store a damaged file), and
// `bodies[n]` as the body of block n. Absent, and nothing stored, when the
// store refuses the item (see ItemStore::add).
std::optional<Item> storeFile(DevServer& server, Item item, const std::vector<std::string>& bodies);

// The tree hash of a file's blocks as lower-case hexadecimal, written here
// on OpenSSL: the leaves are the chunks' checksums in block order; pairs are
// joined left then right and hashed with SHA-256, a level's odd last node goes
// up unchanged, one leaf is its own tree hash, and no leaf gives the SHA-256
// of empty input. Throws std::invalid_argument for a checksum that is not
// hexadecimal.
std::string treeHashHex(const std::vector<Chunk>& chunks);

}  // namespace devserver
