#pragma once

#include "crypto/curve25519/FieldElement.h"

namespace ostrelcomm {

// A point (x, y) of edwards25519 with Z = 1, kept as y + x, y - x and 2*d*x*y:
// the form in which a precomputed point enters the mixed addition.
struct GroupElementP4 {
    FieldElement YplusX;
    FieldElement YminusX;
    FieldElement XY2D;

    friend bool operator==(const GroupElementP4&, const GroupElementP4&) = default;
};

}  // namespace ostrelcomm
