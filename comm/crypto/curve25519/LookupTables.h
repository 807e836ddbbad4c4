#pragma once

#include <array>

#include "crypto/curve25519/GroupElementP4.h"

namespace ostrelcomm {

// Multiples of the edwards25519 base point B (the point whose Montgomery
// u-coordinate is 9) for the fixed-base multiplication: entry j of row i is
// (j + 1) * 256^i * B, every coordinate carried and canonical.
class LookupTables {
public:
    // Computes the 256 entries from the curve's definition. Costs about 256
    // inversions; use shared() rather than building one per multiplication.
    LookupTables();

    // The one table of the process, built on first use; initialisation is
    // thread-safe and the table is never modified afterwards.
    static const LookupTables& shared();

    std::array<std::array<GroupElementP4, 8>, 32> Base;
};

}  // namespace ostrelcomm
