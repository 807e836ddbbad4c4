#pragma once

#include "crypto/curve25519/FieldElement.h"

namespace ostrelcomm {

// A point of edwards25519 in extended coordinates (X : Y : Z : T) with
// x = X/Z, y = Y/Z and x*y = T/Z. The identity is (0 : 1 : 1 : 0).
struct GroupElementP3 {
    FieldElement X;
    FieldElement Y;
    FieldElement Z;
    FieldElement T;

    friend bool operator==(const GroupElementP3&, const GroupElementP3&) = default;
};

}  // namespace ostrelcomm
