#pragma once

#include <cstddef>

namespace devserver {

class DevServer;

// The login exchange, both requests unsigned:
//  GET "/authenticate/" ("AUTH_INIT"): for the user named by "x-sb-username",
//    a new session identifier, the account's parameter text, its salt and
//    the server's SRP value B;
//  POST "/authenticate/" ("AUTH_GETCHALLENGE"): with "x-sb-sessionid" and the
//    body {"clientpubkey", "clientkeyproof"}, checks the client's proof and
//    answers the server's proof; the session (its key K) then signs.
// An unknown user or a wrong proof is refused with "AccessDeniedException".
// A login that never sends its second request is forgotten once
// kMaxPendingLogins newer ones wait.
void installLoginEndpoints(DevServer& server);

inline constexpr std::size_t kMaxPendingLogins = 1024;

}  // namespace devserver
