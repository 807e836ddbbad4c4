#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "devserver/ItemStore.h"
#include "devserver/Users.h"

namespace devserver {

class DevServer;

// The endpoints of sharing an item, each on a signed request of a live
// session (a session whose user is gone is refused with
// "UserNotFoundException"):
//  GET "/shares/shareitem_prepare/" ("SHARE_SHAREITEM_PREPARE"): for sharing
//    the file "x-sb-item-uuid" with the user named "x-sb-peer-username",
//    answers {"umk", "privshkey", "pubshkey", "itemkey"} (see prepareShare).
//  PUT "/shares/shareitem_execute/" ("SHARE_SHAREITEM_EXECUTE"): with
//    "x-sb-encoder-version" "1.0", stores the share the body describes and
//    answers {"shareUUID"} (see executeShare).
// Both make the same checks: the item is one of the user's own files (a
// folder, a file shared with the user, another user's or an unknown one is
// refused with "ItemNotFoundException", 404); the peer is an existing
// account ("UserNotFoundException", 404) other than the user
// ("BadRequestException"); and the file is not shared with the peer yet,
// else "ItemAlreadyShared" (409) with the message "Item already
// shared@<shareUUID>" naming the existing share and an empty extInfo.
// Whether the user trusts the peer is not asked: the client asks its user
// before it shares with an untrusted peer. The server never sees the item
// key in clear: the share keeps the wrapped key text exactly as received, as
// the item store's grant to the peer, so the file, download and copy
// endpoints read it; deleting the file drops it.
void installShareEndpoints(DevServer& server);

// The preparation's answer for `user` sharing the file `uuid` with the
// account named `peerUsername`: the user's wrapped master key "umk" and
// wrapped private sharing key "privshkey", the peer's public sharing key
// "pubshkey" (base64) and the file's key "itemkey" as stored, wrapped under
// the user's master key. Throws ProtocolError.
nlohmann::ordered_json prepareShare(const ItemStore& items, const UserStore& users, const User& user,
                                    const std::string& peerUsername, const std::string& uuid);

// The execution for `user`: the body is exactly {"peerUsername", "itemUUID",
// "itemkey", "algorythm"}, "algorythm" being "aes256" and "itemkey" a string
// holding a wrapped AES-256 key object (the check every endpoint that stores
// a wrapped key makes). Stores the share and returns its new identifier.
// Throws ProtocolError; nothing is stored when it does.
std::string executeShare(ItemStore& items, const UserStore& users, const User& user, std::string_view body);

}  // namespace devserver
