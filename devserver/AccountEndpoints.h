#pragma once

#include <string>
#include <string_view>

#include "devserver/Users.h"

namespace devserver {

class DevServer;

// The account endpoints:
//  PUT "/user/create/" ("NEW_USER", open): the new user named by
//    "x-sb-username", with the body {"umk", "privshkey", "pubshkey",
//    "verifiers": {"fullaccess": {"salt", "verificationKey"}}, "authParms"};
//    answers {"userUUID"}. A name already taken is refused with
//    "UserAlreadyExistsException".
//  GET "/userprofile/getprofile/" ("USER_GET_PROFILE"): the session user's
//    profile, its plan's name under "profilename" and its public key under
//    "pubshkey".
//  GET "/userprofile/getkeys/" ("USER_GET_KEYS"): {"userUUID", "umk", "privshkey"}.
//  PUT "/userprofile/storekeys/" ("USER_STORE_KEYS"): {"umk", "verifiers",
//    "authParms", "privshkey"} replace the wrapped keys and, with a
//    "fullaccess" verifier, the login's salt, verifier and parameters.
//  GET "/userprofile/sessions/" ("USER_GET_SESSIONS"): the login history
//    entries from "x-sb-start" up to (not including) "x-sb-end", oldest first.
//  DELETE "/userprofile/delete/" ("USER_DELETE_PROFILE"): removes the user,
//    every item the user owns and the session that asked.
//  GET "/untrustedpeer/getShareProfile/" ("SHARE_SEARCH_UNTRUSTED_PEER"): the
//    user named by "x-sb-peer-username" as {"uuid", "trusted", "username",
//    "pubSHKey"}, "trusted" when the asking user has a trust in that user
//    (TrustEndpoints.h); for an unknown name the same keys, all empty and
//    false.
// Every answer but the creation's needs a signed request of a live session;
// a session whose user is gone is refused with "UserNotFoundException".
// Malformed requests are refused with "BadRequestException".
void installAccountEndpoints(DevServer& server);

// What account creation does with a request: checks the body (its exact
// keys, wrapped keys of an AES-256 key object, a 32-byte public key, the one
// "fullaccess" verifier and known parameters) and stores the new user with a
// fresh identifier. Throws ProtocolError; returns the stored user.
User createAccount(UserStore& users, const std::string& name, std::string_view body);

// A user made as a client would make one for `password` (a user master key,
// an X25519 key pair, both secrets wrapped under the password key, a new
// verifier), written here on OpenSSL and stored through createAccount: for
// trying the client by hand.
User addDemoUser(UserStore& users, const std::string& name, std::string_view password);

}  // namespace devserver
