#pragma once

#include "crypto/curve25519/FieldElementOperations.h"
#include "crypto/curve25519/GroupElementP3.h"
#include "crypto/curve25519/GroupElementP4.h"

// Point arithmetic on edwards25519 (-x^2 + y^2 = 1 + d x^2 y^2) shared by the
// fixed-base multiplication and the construction of its table. Both formulas
// are the unified extended-coordinate ones for a = -1, which are complete on
// this curve (d is not a square), so doubling a point by adding it to itself
// is also correct.
namespace ostrelcomm::edwards {

// The completed form of a sum or double: x = X/Z, y = Y/T.
struct Completed {
    FieldElement X;
    FieldElement Y;
    FieldElement Z;
    FieldElement T;
};

// (X : Y : Z) with x = X/Z, y = Y/Z.
struct Projective {
    FieldElement X;
    FieldElement Y;
    FieldElement Z;
};

using FE = FieldElementOperations;

inline GroupElementP3 identity() {
    return GroupElementP3{FieldElement(), FE::Set1(), FE::Set1(), FieldElement()};
}

inline Completed addMixed(const GroupElementP3& h, const GroupElementP4& t) {
    const FieldElement a = FE::Multiplication(FE::Add(h.Y, h.X), t.YplusX);
    const FieldElement b = FE::Multiplication(FE::Sub(h.Y, h.X), t.YminusX);
    const FieldElement c = FE::Multiplication(t.XY2D, h.T);
    const FieldElement d = FE::Add(h.Z, h.Z);
    return Completed{FE::Sub(a, b), FE::Add(a, b), FE::Add(d, c), FE::Sub(d, c)};
}

inline Completed doubled(const FieldElement& x, const FieldElement& y, const FieldElement& z) {
    const FieldElement xx = FE::Squared(x);
    const FieldElement yy = FE::Squared(y);
    const FieldElement b = FE::DoubleSquare(z);
    const FieldElement aa = FE::Squared(FE::Add(x, y));
    const FieldElement y3 = FE::Add(yy, xx);
    const FieldElement z3 = FE::Sub(yy, xx);
    return Completed{FE::Sub(aa, y3), y3, z3, FE::Sub(b, z3)};
}

inline Projective toProjective(const Completed& c) {
    return Projective{FE::Multiplication(c.X, c.T), FE::Multiplication(c.Y, c.Z),
                      FE::Multiplication(c.Z, c.T)};
}

inline GroupElementP3 toExtended(const Completed& c) {
    return GroupElementP3{FE::Multiplication(c.X, c.T), FE::Multiplication(c.Y, c.Z),
                          FE::Multiplication(c.Z, c.T), FE::Multiplication(c.X, c.Y)};
}

}  // namespace ostrelcomm::edwards
