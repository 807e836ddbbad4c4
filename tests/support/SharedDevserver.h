#pragma once

#include "support/DevserverFixture.h"

namespace testsupport {

// One stand-in server for the whole test program, started on first use.
// The transport reads its server's address once per process (from
// QUORVEL_SERVER_URL), so every Http of a test program talks to this one:
// call it before the program makes its first Http. It also sets
// QUORVEL_CA_FILE, so that every ephemeral configuration trusts the server.
RunningDevserver& sharedDevserver();

}  // namespace testsupport
