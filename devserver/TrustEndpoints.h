#pragma once

namespace devserver {

class DevServer;

// The trusted-peer endpoints, each for the user of a signed request of a
// live session (a session whose user is gone is refused with
// "UserNotFoundException"):
//  PUT "/trustedpeers/add/" ("SHARE_CREATE_TRUST"): the body is exactly
//    {"peerUUID", "peerUsername", "pubshkey"} (strict base64), naming another
//    existing user by name and identifier with that user's current public
//    sharing key, and "x-sb-encoder-version" is "1.0"; answers {"peerUUID",
//    "trustUUID"} with a new trust identifier. A peer already trusted answers
//    its trust's identifier again and changes nothing. An unknown user, or a
//    name and identifier that do not belong together, is refused with
//    "UserNotFoundException"; the user itself, another key, or a body of
//    any other shape with "BadRequestException".
//  GET "/trustedpeers/list/" ("SHARE_LIST_TRUSTS"): the user's trusts, oldest
//    first, as [{"trustUUID", "peerUUID", "peerUsername", "pubshkey"}], the
//    peer named and keyed as when it was added.
//  DELETE "/trustedpeers/remove/" ("SHARE_REMOVE_TRUST"): removes the trust in
//    the peer whose user identifier is "x-sb-trusted-user-uuid" (the peer's,
//    not the trust's identifier; "x-sb-encoder-version" "1.0"); answers
//    {"trustUUID"} of the removed trust. No such trust is refused with
//    "TrustNotFoundException". Removing a trust removes no share.
// "/untrustedpeer/getShareProfile/" reads "trusted" from the same table.
// Trusts are not removed with a deleted user: the peer stays in the lists of
// those who trusted it, as it was named then.
void installTrustEndpoints(DevServer& server);

}  // namespace devserver
