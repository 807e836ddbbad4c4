#pragma once

#include <cstdint>

#include "xfer/ConflictingBehaviours.h"

namespace quorvel {

// The user's settings, as kept in memory between loading and each save.
struct AppSetup {
    // Stored and loaded; nothing reads it.
    std::int64_t logoffTimeout = 0;
    // Log in with the stored credentials after a biometric check.
    bool biometricLogin = false;
    // Log in with the stored credentials when the login sheet opens at start.
    bool automaticAccessAtStartup = false;
    // The jobs list also shows the fast engine's jobs that did not fail.
    bool showFullLog = false;
    // What an upload does with an item that already exists remotely.
    ostrelcomm::ConflictingBehaviours sendingConflictBehaviour = ostrelcomm::ConflictingBehaviours::skipIfEqual;

    friend bool operator==(const AppSetup&, const AppSetup&) = default;
};

}  // namespace quorvel
