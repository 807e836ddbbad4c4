#pragma once

#include "crypto/curve25519/Array16.h"

namespace ostrelcomm {

class SalsaCore {
public:
    SalsaCore() = delete;

    // Applies doubleRounds Salsa20 double rounds (a column round, then a row
    // round) to the state in place, without adding the input back. A count
    // of zero or less leaves the state unchanged.
    static void Salsa20(Array16& state, int doubleRounds);
};

}  // namespace ostrelcomm
