#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/curve25519/FieldElement.h"

namespace ostrelcomm {

// The ladder's working form of a field element: five unsigned limbs of 51
// bits (limb i starts at bit 51 i), multiplied through 128-bit products. On a
// 64-bit machine a product then takes 25 multiplications instead of 100,
// which is what brings the shared key near the speed of the usual libraries.
// The ladder converts its input from FieldElement and its result back, so
// nothing outside it sees this form.
//
// Limb bounds: FromBytes, Multiplication, Squared and Multiply121666 return
// carried elements (every limb below 2^51 + 2^15). Add and Sub do not carry:
// Add of two carried elements stays below 2^52 + 2^16, Sub (which adds 2p
// first, so that limbs never go negative) below 2^53. The products accept
// operands up to 2^54 per limb; no 128-bit sum then exceeds 2^116 and no
// carry times 19 leaves 64 bits.
//
// Like FieldElementOperations, every operation is straight-line: no branch,
// loop bound or memory index depends on a limb or on the flag of Swap.
struct FieldElement51 {
    std::array<std::uint64_t, 5> limb{};

    friend bool operator==(const FieldElement51&, const FieldElement51&) = default;
};

#define OSTRELCOMM_FIELD51_INLINE inline __attribute__((always_inline))

class FieldElement51Operations {
public:
    FieldElement51Operations() = delete;

    // The element encoded by 32 little-endian bytes; bit 255 is ignored and
    // values from p to 2^255 - 1 are taken mod p.
    static FieldElement51 FromBytes(const std::uint8_t* s);
    // The canonical encoding: below p, bit 255 clear.
    static void ToBytes(std::uint8_t* s, const FieldElement51& h);

    // The same value in the other representation (through the canonical
    // encoding). The FieldElement must lie within FieldElementOperations'
    // bounds for a product; the one returned is carried.
    static FieldElement51 FromFieldElement(const FieldElement& f);
    static FieldElement ToFieldElement(const FieldElement51& h);

    OSTRELCOMM_FIELD51_INLINE static FieldElement51 Set1() { return FieldElement51{{1, 0, 0, 0, 0}}; }

    OSTRELCOMM_FIELD51_INLINE static FieldElement51 Add(const FieldElement51& f, const FieldElement51& g) {
        return FieldElement51{{f.limb[0] + g.limb[0], f.limb[1] + g.limb[1], f.limb[2] + g.limb[2],
                               f.limb[3] + g.limb[3], f.limb[4] + g.limb[4]}};
    }
    // f - g + 2p: g must be carried.
    OSTRELCOMM_FIELD51_INLINE static FieldElement51 Sub(const FieldElement51& f, const FieldElement51& g) {
        constexpr std::uint64_t twoP0 = (std::uint64_t{1} << 52) - 38;
        constexpr std::uint64_t twoPi = (std::uint64_t{1} << 52) - 2;
        return FieldElement51{{f.limb[0] + twoP0 - g.limb[0], f.limb[1] + twoPi - g.limb[1],
                               f.limb[2] + twoPi - g.limb[2], f.limb[3] + twoPi - g.limb[3],
                               f.limb[4] + twoPi - g.limb[4]}};
    }

    static FieldElement51 Multiplication(const FieldElement51& f, const FieldElement51& g);
    static FieldElement51 Squared(const FieldElement51& f);
    static FieldElement51 Multiply121666(const FieldElement51& f);
    // z^(p-2): the inverse of z, and 0 for z = 0.
    static FieldElement51 Invert(const FieldElement51& z);

    // Exchanges f and g when b = 1, leaves both when b = 0; b must be 0 or 1.
    OSTRELCOMM_FIELD51_INLINE static void Swap(FieldElement51& f, FieldElement51& g, unsigned b) {
        const std::uint64_t mask = 0 - static_cast<std::uint64_t>(b);
        for (std::size_t i = 0; i < 5; ++i) {
            const std::uint64_t x = (f.limb[i] ^ g.limb[i]) & mask;
            f.limb[i] ^= x;
            g.limb[i] ^= x;
        }
    }

private:
    using Wide = unsigned __int128;
    static constexpr std::uint64_t kMask = (std::uint64_t{1} << 51) - 1;

    // Carries five 128-bit column sums into a carried element; the carry out
    // of the top limb re-enters limb 0 times 19 (2^255 = 19 mod p).
    OSTRELCOMM_FIELD51_INLINE static FieldElement51 carry(Wide r0, Wide r1, Wide r2, Wide r3, Wide r4) {
        r1 += static_cast<std::uint64_t>(r0 >> 51);
        r2 += static_cast<std::uint64_t>(r1 >> 51);
        r3 += static_cast<std::uint64_t>(r2 >> 51);
        r4 += static_cast<std::uint64_t>(r3 >> 51);
        std::uint64_t h0 = (static_cast<std::uint64_t>(r0) & kMask) + 19 * static_cast<std::uint64_t>(r4 >> 51);
        std::uint64_t h1 = (static_cast<std::uint64_t>(r1) & kMask) + (h0 >> 51);
        h0 &= kMask;
        return FieldElement51{{h0, h1, static_cast<std::uint64_t>(r2) & kMask, static_cast<std::uint64_t>(r3) & kMask,
                               static_cast<std::uint64_t>(r4) & kMask}};
    }
};

OSTRELCOMM_FIELD51_INLINE FieldElement51 FieldElement51Operations::Multiplication(const FieldElement51& f,
                                                                                 const FieldElement51& g) {
    const std::uint64_t f0 = f.limb[0], f1 = f.limb[1], f2 = f.limb[2], f3 = f.limb[3], f4 = f.limb[4];
    const std::uint64_t g0 = g.limb[0], g1 = g.limb[1], g2 = g.limb[2], g3 = g.limb[3], g4 = g.limb[4];
    // Limb i times limb j lands in limb i + j, and 2^255 (= 19) beyond it
    // when i + j reaches five.
    const std::uint64_t g1_19 = 19 * g1, g2_19 = 19 * g2, g3_19 = 19 * g3, g4_19 = 19 * g4;
    const Wide r0 = Wide{f0} * g0 + Wide{f1} * g4_19 + Wide{f2} * g3_19 + Wide{f3} * g2_19 + Wide{f4} * g1_19;
    const Wide r1 = Wide{f0} * g1 + Wide{f1} * g0 + Wide{f2} * g4_19 + Wide{f3} * g3_19 + Wide{f4} * g2_19;
    const Wide r2 = Wide{f0} * g2 + Wide{f1} * g1 + Wide{f2} * g0 + Wide{f3} * g4_19 + Wide{f4} * g3_19;
    const Wide r3 = Wide{f0} * g3 + Wide{f1} * g2 + Wide{f2} * g1 + Wide{f3} * g0 + Wide{f4} * g4_19;
    const Wide r4 = Wide{f0} * g4 + Wide{f1} * g3 + Wide{f2} * g2 + Wide{f3} * g1 + Wide{f4} * g0;
    return carry(r0, r1, r2, r3, r4);
}

OSTRELCOMM_FIELD51_INLINE FieldElement51 FieldElement51Operations::Squared(const FieldElement51& f) {
    const std::uint64_t f0 = f.limb[0], f1 = f.limb[1], f2 = f.limb[2], f3 = f.limb[3], f4 = f.limb[4];
    const std::uint64_t f0_2 = 2 * f0, f1_2 = 2 * f1;
    const std::uint64_t f1_38 = 38 * f1, f2_38 = 38 * f2, f3_38 = 38 * f3;
    const std::uint64_t f3_19 = 19 * f3, f4_19 = 19 * f4;
    const Wide r0 = Wide{f0} * f0 + Wide{f1_38} * f4 + Wide{f2_38} * f3;
    const Wide r1 = Wide{f0_2} * f1 + Wide{f2_38} * f4 + Wide{f3_19} * f3;
    const Wide r2 = Wide{f0_2} * f2 + Wide{f1} * f1 + Wide{f3_38} * f4;
    const Wide r3 = Wide{f0_2} * f3 + Wide{f1_2} * f2 + Wide{f4_19} * f4;
    const Wide r4 = Wide{f0_2} * f4 + Wide{f1_2} * f3 + Wide{f2} * f2;
    return carry(r0, r1, r2, r3, r4);
}

OSTRELCOMM_FIELD51_INLINE FieldElement51 FieldElement51Operations::Multiply121666(const FieldElement51& f) {
    constexpr std::uint64_t k = 121666;
    return carry(Wide{f.limb[0]} * k, Wide{f.limb[1]} * k, Wide{f.limb[2]} * k, Wide{f.limb[3]} * k,
                 Wide{f.limb[4]} * k);
}

}  // namespace ostrelcomm

#undef OSTRELCOMM_FIELD51_INLINE
