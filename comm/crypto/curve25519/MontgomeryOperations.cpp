#include "crypto/curve25519/MontgomeryOperations.h"

#include <array>
#include <cstdint>

#include "crypto/curve25519/ClampOperation.h"
#include "crypto/curve25519/Exceptions.h"
#include "crypto/curve25519/FieldElementOperations.h"
#include "crypto/curve25519/SecureWipe.h"

namespace ostrelcomm {

FieldElement MontgomeryOperations::CalculateLadderStep(ByteView n, const FieldElement& p,
                                                       std::size_t noffset) {
    using FE = FieldElementOperations;
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
    // differs from the previous one, instead of branching on the bit.
    const FieldElement x1 = p;
    FieldElement x2 = FE::Set1();
    FieldElement z2;
    FieldElement x3 = x1;
    FieldElement z3 = FE::Set1();
    unsigned swap = 0;
    for (int pos = 254; pos >= 0; --pos) {
        const unsigned b = (e[static_cast<std::size_t>(pos >> 3)] >> (pos & 7)) & 1u;
        swap ^= b;
        FE::Swap(x2, x3, swap);
        FE::Swap(z2, z3, swap);
        swap = b;

        FieldElement tmp0 = FE::Sub(x3, z3);
        FieldElement tmp1 = FE::Sub(x2, z2);
        x2 = FE::Add(x2, z2);
        z2 = FE::Add(x3, z3);
        z3 = FE::Multiplication(tmp0, x2);
        z2 = FE::Multiplication(z2, tmp1);
        tmp0 = FE::Squared(tmp1);
        tmp1 = FE::Squared(x2);
        x3 = FE::Add(z3, z2);
        z2 = FE::Sub(z3, z2);
        x2 = FE::Multiplication(tmp1, tmp0);
        tmp1 = FE::Sub(tmp1, tmp0);
        z2 = FE::Squared(z2);
        z3 = FE::Multiply121666(tmp1);
        x3 = FE::Squared(x3);
        tmp0 = FE::Add(tmp0, z3);
        z3 = FE::Multiplication(x1, z2);
        z2 = FE::Multiplication(tmp1, tmp0);
    }
    FE::Swap(x2, x3, swap);
    FE::Swap(z2, z3, swap);
    secureWipe(e.data(), e.size());
    secureWipe(&swap, sizeof swap);

    return FE::Multiplication(x2, FE::Invert(z2));
}

}  // namespace ostrelcomm
