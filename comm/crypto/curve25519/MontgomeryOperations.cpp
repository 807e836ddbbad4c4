#include "crypto/curve25519/MontgomeryOperations.h"

#include <array>
#include <cstdint>

#include "crypto/curve25519/ClampOperation.h"
#include "crypto/curve25519/Exceptions.h"
#include "crypto/curve25519/FieldElement51.h"
#include "crypto/curve25519/SecureWipe.h"

namespace ostrelcomm {

FieldElement MontgomeryOperations::CalculateLadderStep(ByteView n, const FieldElement& p,
                                                       std::size_t noffset) {
    if (n.size() < 32 || noffset > n.size() - 32) {
        throw Exceptions::ArgumentException("scalar needs 32 bytes at the offset");
    }
    std::array<std::uint8_t, 32> e{};
    for (std::size_t i = 0; i < 32; ++i) {
        e[i] = n[noffset + i];
    }
    ClampOperation::Clamp(e, 0);

    // (x2 : z2) = k*P and (x3 : z3) = (k + 1)*P for the prefix k of the
    // scalar read so far; each step doubles one and adds the two, whose
    // difference stays P. The pair is swapped by mask whenever the next bit
    // differs from the previous one, instead of branching on the bit. The
    // steps run on 51-bit limbs (same values, fewer products); the input and
    // the result are FieldElements.
    using F = FieldElement51Operations;
    const FieldElement51 x1 = F::FromFieldElement(p);
    FieldElement51 x2 = F::Set1();
    FieldElement51 z2;
    FieldElement51 x3 = x1;
    FieldElement51 z3 = F::Set1();
    unsigned swap = 0;
    for (int pos = 254; pos >= 0; --pos) {
        const unsigned b = (e[static_cast<std::size_t>(pos >> 3)] >> (pos & 7)) & 1u;
        swap ^= b;
        F::Swap(x2, x3, swap);
        F::Swap(z2, z3, swap);
        swap = b;

        FieldElement51 tmp0 = F::Sub(x3, z3);
        FieldElement51 tmp1 = F::Sub(x2, z2);
        x2 = F::Add(x2, z2);
        z2 = F::Add(x3, z3);
        z3 = F::Multiplication(tmp0, x2);
        z2 = F::Multiplication(z2, tmp1);
        tmp0 = F::Squared(tmp1);
        tmp1 = F::Squared(x2);
        x3 = F::Add(z3, z2);
        z2 = F::Sub(z3, z2);
        x2 = F::Multiplication(tmp1, tmp0);
        tmp1 = F::Sub(tmp1, tmp0);
        z2 = F::Squared(z2);
        z3 = F::Multiply121666(tmp1);
        x3 = F::Squared(x3);
        tmp0 = F::Add(tmp0, z3);
        z3 = F::Multiplication(x1, z2);
        z2 = F::Multiplication(tmp1, tmp0);
    }
    F::Swap(x2, x3, swap);
    F::Swap(z2, z3, swap);
    secureWipe(e.data(), e.size());
    secureWipe(&swap, sizeof swap);

    FieldElement51 u = F::Multiplication(x2, F::Invert(z2));
    const FieldElement result = F::ToFieldElement(u);
    secureWipe(&u, sizeof u);
    secureWipe(&x2, sizeof x2);
    secureWipe(&z2, sizeof z2);
    secureWipe(&x3, sizeof x3);
    secureWipe(&z3, sizeof z3);
    return result;
}

}  // namespace ostrelcomm
