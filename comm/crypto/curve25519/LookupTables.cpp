#include "crypto/curve25519/LookupTables.h"

#include <array>
#include <cstdint>

#include "crypto/curve25519/EdwardsArithmetic.h"
#include "crypto/curve25519/FieldElementOperations.h"

// Everything here works on public constants only, so it may branch freely.
namespace ostrelcomm {

namespace {

using FE = FieldElementOperations;
using Encoding = std::array<std::uint8_t, 32>;

FieldElement small(std::int64_t v) { return FieldElement(v, 0, 0, 0, 0, 0, 0, 0, 0, 0); }

Encoding encode(const FieldElement& f) {
    Encoding s{};
    FE::ToBytes(s, f, 0);
    return s;
}

// Carried limbs of the canonical value: one limb vector per field value.
FieldElement canonical(const FieldElement& f) { return FE::FromBytes(encode(f), 0); }

bool equal(const FieldElement& f, const FieldElement& g) { return encode(f) == encode(g); }

// f^e for a public 256-bit exponent given little-endian.
FieldElement power(const FieldElement& f, const Encoding& e) {
    FieldElement r = FE::Set1();
    for (int bit = 255; bit >= 0; --bit) {
        r = FE::Squared(r);
        if ((e[bit / 8] >> (bit % 8)) & 1) {
            r = FE::Multiplication(r, f);
        }
    }
    return r;
}

// A square root of a (known to be a square). p = 5 mod 8, so a^((p+3)/8) is
// a root of a or of -a; in the second case sqrt(-1) = 2^((p-1)/4) fixes it.
FieldElement squareRoot(const FieldElement& a) {
    Encoding pPlus3Over8{};  // 2^252 - 2
    pPlus3Over8.fill(0xff);
    pPlus3Over8[0] = 0xfe;
    pPlus3Over8[31] = 0x0f;
    Encoding pMinus1Over4{};  // 2^253 - 5
    pMinus1Over4.fill(0xff);
    pMinus1Over4[0] = 0xfb;
    pMinus1Over4[31] = 0x1f;

    FieldElement r = power(a, pPlus3Over8);
    if (!equal(FE::Squared(r), a)) {
        r = FE::Multiplication(r, power(small(2), pMinus1Over4));
    }
    return r;
}

GroupElementP4 precomputed(const GroupElementP3& p, const FieldElement& d2) {
    const FieldElement zInverse = FE::Invert(p.Z);
    const FieldElement x = FE::Multiplication(p.X, zInverse);
    const FieldElement y = FE::Multiplication(p.Y, zInverse);
    return GroupElementP4{canonical(FE::Add(y, x)), canonical(FE::Sub(y, x)),
                          canonical(FE::Multiplication(FE::Multiplication(x, y), d2))};
}

GroupElementP3 times256(GroupElementP3 p) {
    edwards::Projective q{p.X, p.Y, p.Z};
    for (int i = 0; i < 7; ++i) {
        q = edwards::toProjective(edwards::doubled(q.X, q.Y, q.Z));
    }
    return edwards::toExtended(edwards::doubled(q.X, q.Y, q.Z));
}

}  // namespace

LookupTables::LookupTables() {
    // d = -121665/121666, the constant of edwards25519, birationally
    // equivalent to the Montgomery curve v^2 = u^3 + 486662 u^2 + u.
    const FieldElement d = FE::Multiplication(FE::Negate(small(121665)), FE::Invert(small(121666)));
    const FieldElement d2 = FE::Add(d, d);

    // B: y = (u - 1)/(u + 1) = 4/5 for u = 9, and x the even root of
    // x^2 = (y^2 - 1)/(d y^2 + 1).
    const FieldElement one = FE::Set1();
    const FieldElement y = FE::Multiplication(small(4), FE::Invert(small(5)));
    const FieldElement yy = FE::Squared(y);
    const FieldElement xx = FE::Multiplication(FE::Sub(yy, one),
                                               FE::Invert(FE::Add(FE::Multiplication(d, yy), one)));
    FieldElement x = squareRoot(xx);
    if (encode(x)[0] & 1) {
        x = FE::Negate(x);
    }

    GroupElementP3 rowPoint{x, y, one, FE::Multiplication(x, y)};
    for (auto& row : Base) {
        row[0] = precomputed(rowPoint, d2);
        GroupElementP3 multiple = rowPoint;
        for (std::size_t j = 1; j < row.size(); ++j) {
            multiple = edwards::toExtended(edwards::addMixed(multiple, row[0]));
            row[j] = precomputed(multiple, d2);
        }
        rowPoint = times256(rowPoint);
    }
}

const LookupTables& LookupTables::shared() {
    static const LookupTables tables;
    return tables;
}

}  // namespace ostrelcomm
