#pragma once

#include <optional>
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
//
// The endpoints of the shares around a user's items, on the same kind of
// request:
//  GET "/shares/listshares/" ("SHARE_GETSHARE_FOR_ITEM"): the shares of the
//    user's own item "x-sb-item-uuid" as a bare array of {"shareUUID",
//    "peerUUID", "peerUsername"}, in the order they were made (see
//    listShares).
//  DELETE "/shares/remove/" ("SHARE_REMOVE_SHARE"): withdraws the share
//    "x-sb-share-uuid", asked by its owner or by its reader, and answers
//    {"shareUUID"}; no "x-sb-encoder-version" is asked for (see removeShare).
//  GET "/shares/getsharingpeers/" ("SHARE_GETSHARING_PEERS"): the owners who
//    share items with the user, each once, in the order of their first
//    share still standing (see sharingPeers).
//  GET "/shares/getshareditems/" ("SHARE_GETSHARED_ITEMS"): the user's
//    wrapped private sharing key and the items shared with the user, only
//    those of the owner "x-sb-peer-uuid" when the request carries it (see
//    sharedItems).
// Choices of the stand-in: a share is listed only while its item, its owner
// and its reader exist (deleting the file or an account takes its grants
// with it, through the item store); a file whose upload is under way is not
// listed; every stored item is sealed with AES-256 under encoder version
// "1.0" (the only ones the upload accepts), so "keyalgorythm" and
// "itemalgorythm" are "aes256" and "itemencoderversion" "1.0".
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

// The shares of the user's item `uuid`, oldest first: the share, the reader's
// account identifier and user name. An item the user does not own is
// "ItemNotFoundException" (404); a folder has none. Throws ProtocolError.
nlohmann::ordered_json listShares(const ItemStore& items, const UserStore& users, const User& user,
                                  const std::string& uuid);

// Withdraws the share `shareUUID` of which `user` is the owner or the reader
// and returns its identifier. Any other share, or none, is
// "ItemNotFoundException" (404) and nothing changes. Throws ProtocolError.
std::string removeShare(ItemStore& items, const User& user, const std::string& shareUUID);

// The owners who share items with `user`: [{"peerUsername", "peerUUID"}],
// each owner once, ordered by the owner's oldest share to the user.
nlohmann::ordered_json sharingPeers(const ItemStore& items, const UserStore& users, const User& user);

// {"userprivatekey", "sharedItems"}: the user's wrapped private sharing key
// as stored, and per share to the user (only `owner`'s when given), oldest
// first, "ownerusername", "ownerpubshkey" (base64), "owneruuid", "shareid",
// "itemuuid", "itemkey" (the grant's wrapped key as stored), "keyalgorythm",
// "itemtype", "orig_size", "treehash", "itemalgorythm", "itemencoderversion"
// and "metadata" (base64, sealed as stored).
nlohmann::ordered_json sharedItems(const ItemStore& items, const UserStore& users, const User& user,
                                   const std::optional<std::string>& owner);

}  // namespace devserver
