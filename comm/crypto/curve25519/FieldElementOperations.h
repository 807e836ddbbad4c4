#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/curve25519/FieldElement.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Arithmetic in GF(p), p = 2^255 - 19, on FieldElement. Every operation is
// straight-line code: no branch, loop bound or memory index depends on a limb
// or on the flag of Swap and Mov, so running time says nothing about secrets.
//
// Limb bounds: FromBytes, Multiplication, Squared, DoubleSquare and
// Multiply121666 return carried elements (even limbs within about ±2^25, odd
// ones within ±2^24). Add, Sub and Negate do not carry. The products accept
// operands that are sums or differences of up to three carried elements; no
// intermediate then exceeds 2^62 in magnitude.
//
// The hot operations are defined here so that the ladder and the Edwards
// arithmetic inline them.
// Forces the field operations into the ladder and the point formulas; left to
// itself the compiler keeps some squarings and swaps out of line, which costs
// the ladder a few percent.
#define OSTRELCOMM_FIELD_INLINE inline __attribute__((always_inline))

class FieldElementOperations {
public:
    FieldElementOperations() = delete;

    // The element encoded by the 32 little-endian bytes at offset; bit 255 is
    // ignored and values from p to 2^255 - 1 are taken mod p. Throws
    // Exceptions (ArgumentException) when fewer than 32 bytes follow offset.
    static FieldElement FromBytes(ByteView data, std::size_t offset);
    // Writes the canonical encoding (below p, bit 255 clear) at offset. Throws
    // Exceptions (ArgumentException) when fewer than 32 bytes follow offset.
    static void ToBytes(std::span<std::uint8_t> s, const FieldElement& h, std::size_t offset);

    OSTRELCOMM_FIELD_INLINE static FieldElement Set1() { return FieldElement(1, 0, 0, 0, 0, 0, 0, 0, 0, 0); }

    OSTRELCOMM_FIELD_INLINE static FieldElement Add(const FieldElement& f, const FieldElement& g) {
        return FieldElement(f.X0 + g.X0, f.X1 + g.X1, f.X2 + g.X2, f.X3 + g.X3, f.X4 + g.X4,
                            f.X5 + g.X5, f.X6 + g.X6, f.X7 + g.X7, f.X8 + g.X8, f.X9 + g.X9);
    }
    OSTRELCOMM_FIELD_INLINE static FieldElement Sub(const FieldElement& f, const FieldElement& g) {
        return FieldElement(f.X0 - g.X0, f.X1 - g.X1, f.X2 - g.X2, f.X3 - g.X3, f.X4 - g.X4,
                            f.X5 - g.X5, f.X6 - g.X6, f.X7 - g.X7, f.X8 - g.X8, f.X9 - g.X9);
    }
    OSTRELCOMM_FIELD_INLINE static FieldElement Negate(const FieldElement& f) {
        return FieldElement(-f.X0, -f.X1, -f.X2, -f.X3, -f.X4, -f.X5, -f.X6, -f.X7, -f.X8, -f.X9);
    }

    static FieldElement Multiplication(const FieldElement& f, const FieldElement& g);
    static FieldElement Squared(const FieldElement& f);
    static FieldElement DoubleSquare(const FieldElement& f);
    static FieldElement Multiply121666(const FieldElement& f);
    // z^(p-2): the inverse of z, and 0 for z = 0.
    static FieldElement Invert(const FieldElement& z);

    // Exchanges f and g when b = 1, leaves both when b = 0; b must be 0 or 1.
    OSTRELCOMM_FIELD_INLINE static void Swap(FieldElement& f, FieldElement& g, unsigned b) {
        const std::int64_t mask = -static_cast<std::int64_t>(b);
        swapLimb(f.X0, g.X0, mask);
        swapLimb(f.X1, g.X1, mask);
        swapLimb(f.X2, g.X2, mask);
        swapLimb(f.X3, g.X3, mask);
        swapLimb(f.X4, g.X4, mask);
        swapLimb(f.X5, g.X5, mask);
        swapLimb(f.X6, g.X6, mask);
        swapLimb(f.X7, g.X7, mask);
        swapLimb(f.X8, g.X8, mask);
        swapLimb(f.X9, g.X9, mask);
    }
    // Replaces f by g when b = 1, leaves it when b = 0; b must be 0 or 1.
    OSTRELCOMM_FIELD_INLINE static void Mov(FieldElement& f, const FieldElement& g, int b) {
        const std::int64_t mask = -static_cast<std::int64_t>(b);
        movLimb(f.X0, g.X0, mask);
        movLimb(f.X1, g.X1, mask);
        movLimb(f.X2, g.X2, mask);
        movLimb(f.X3, g.X3, mask);
        movLimb(f.X4, g.X4, mask);
        movLimb(f.X5, g.X5, mask);
        movLimb(f.X6, g.X6, mask);
        movLimb(f.X7, g.X7, mask);
        movLimb(f.X8, g.X8, mask);
        movLimb(f.X9, g.X9, mask);
    }

private:
    OSTRELCOMM_FIELD_INLINE static void swapLimb(std::int64_t& f, std::int64_t& g, std::int64_t mask) {
        const std::int64_t x = (f ^ g) & mask;
        f ^= x;
        g ^= x;
    }
    OSTRELCOMM_FIELD_INLINE static void movLimb(std::int64_t& f, std::int64_t g, std::int64_t mask) {
        f = (g & mask) | (f & ~mask);
    }

    // Centred carry out of limb `from` (width w) into limb `to`. Multiplying
    // rather than shifting keeps negative values well defined.
    template <int W>
    OSTRELCOMM_FIELD_INLINE static void carry(std::int64_t& from, std::int64_t& to) {
        const std::int64_t c = (from + (std::int64_t{1} << (W - 1))) >> W;
        to += c;
        from -= c * (std::int64_t{1} << W);
    }
    // The carry out of the top limb re-enters limb 0 times 19 (2^255 = 19 mod p).
    OSTRELCOMM_FIELD_INLINE static void carryTop(std::int64_t& h9, std::int64_t& h0) {
        const std::int64_t c = (h9 + (std::int64_t{1} << 24)) >> 25;
        h0 += c * 19;
        h9 -= c * (std::int64_t{1} << 25);
    }
    // The carry schedule shared by the products: 0, 4, 1, 5, 2, 6, 3, 7, 4, 8,
    // 9 (into 0), 0. Two chains run interleaved so that neither waits.
    OSTRELCOMM_FIELD_INLINE static FieldElement carryProduct(std::int64_t h0, std::int64_t h1, std::int64_t h2,
                                     std::int64_t h3, std::int64_t h4, std::int64_t h5,
                                     std::int64_t h6, std::int64_t h7, std::int64_t h8,
                                     std::int64_t h9) {
        carry<26>(h0, h1);
        carry<26>(h4, h5);
        carry<25>(h1, h2);
        carry<25>(h5, h6);
        carry<26>(h2, h3);
        carry<26>(h6, h7);
        carry<25>(h3, h4);
        carry<25>(h7, h8);
        carry<26>(h4, h5);
        carry<26>(h8, h9);
        carryTop(h9, h0);
        carry<26>(h0, h1);
        return FieldElement(h0, h1, h2, h3, h4, h5, h6, h7, h8, h9);
    }
    // The carry schedule of FromBytes and Multiply121666: 9 (into 0), 1, 3, 5,
    // 7, then 0, 2, 4, 6, 8.
    OSTRELCOMM_FIELD_INLINE static FieldElement carryOddThenEven(std::int64_t h0, std::int64_t h1, std::int64_t h2,
                                         std::int64_t h3, std::int64_t h4, std::int64_t h5,
                                         std::int64_t h6, std::int64_t h7, std::int64_t h8,
                                         std::int64_t h9) {
        carryTop(h9, h0);
        carry<25>(h1, h2);
        carry<25>(h3, h4);
        carry<25>(h5, h6);
        carry<25>(h7, h8);
        carry<26>(h0, h1);
        carry<26>(h2, h3);
        carry<26>(h4, h5);
        carry<26>(h6, h7);
        carry<26>(h8, h9);
        return FieldElement(h0, h1, h2, h3, h4, h5, h6, h7, h8, h9);
    }
    // The pre-carry sums of f^2 (the symmetric terms gathered), scaled by k.
    static FieldElement squareTimes(const FieldElement& f, std::int64_t k);
    static FieldElement Reduce(const FieldElement& h);
};

OSTRELCOMM_FIELD_INLINE FieldElement FieldElementOperations::Multiplication(const FieldElement& f,
                                                           const FieldElement& g) {
    const std::int64_t f0 = f.X0, f1 = f.X1, f2 = f.X2, f3 = f.X3, f4 = f.X4;
    const std::int64_t f5 = f.X5, f6 = f.X6, f7 = f.X7, f8 = f.X8, f9 = f.X9;
    const std::int64_t g0 = g.X0, g1 = g.X1, g2 = g.X2, g3 = g.X3, g4 = g.X4;
    const std::int64_t g5 = g.X5, g6 = g.X6, g7 = g.X7, g8 = g.X8, g9 = g.X9;
    // A product of limbs i and j has weight ceil(25.5 i) + ceil(25.5 j): one
    // more than limb i + j's weight when both are odd (doubled), and 2^255
    // (= 19) beyond it when i + j reaches ten.
    const std::int64_t g1_19 = 19 * g1, g2_19 = 19 * g2, g3_19 = 19 * g3, g4_19 = 19 * g4;
    const std::int64_t g5_19 = 19 * g5, g6_19 = 19 * g6, g7_19 = 19 * g7, g8_19 = 19 * g8;
    const std::int64_t g9_19 = 19 * g9;
    const std::int64_t f1_2 = 2 * f1, f3_2 = 2 * f3, f5_2 = 2 * f5, f7_2 = 2 * f7, f9_2 = 2 * f9;

    const std::int64_t h0 = f0 * g0 + f1_2 * g9_19 + f2 * g8_19 + f3_2 * g7_19 + f4 * g6_19 +
                            f5_2 * g5_19 + f6 * g4_19 + f7_2 * g3_19 + f8 * g2_19 + f9_2 * g1_19;
    const std::int64_t h1 = f0 * g1 + f1 * g0 + f2 * g9_19 + f3 * g8_19 + f4 * g7_19 +
                            f5 * g6_19 + f6 * g5_19 + f7 * g4_19 + f8 * g3_19 + f9 * g2_19;
    const std::int64_t h2 = f0 * g2 + f1_2 * g1 + f2 * g0 + f3_2 * g9_19 + f4 * g8_19 +
                            f5_2 * g7_19 + f6 * g6_19 + f7_2 * g5_19 + f8 * g4_19 + f9_2 * g3_19;
    const std::int64_t h3 = f0 * g3 + f1 * g2 + f2 * g1 + f3 * g0 + f4 * g9_19 + f5 * g8_19 +
                            f6 * g7_19 + f7 * g6_19 + f8 * g5_19 + f9 * g4_19;
    const std::int64_t h4 = f0 * g4 + f1_2 * g3 + f2 * g2 + f3_2 * g1 + f4 * g0 + f5_2 * g9_19 +
                            f6 * g8_19 + f7_2 * g7_19 + f8 * g6_19 + f9_2 * g5_19;
    const std::int64_t h5 = f0 * g5 + f1 * g4 + f2 * g3 + f3 * g2 + f4 * g1 + f5 * g0 +
                            f6 * g9_19 + f7 * g8_19 + f8 * g7_19 + f9 * g6_19;
    const std::int64_t h6 = f0 * g6 + f1_2 * g5 + f2 * g4 + f3_2 * g3 + f4 * g2 + f5_2 * g1 +
                            f6 * g0 + f7_2 * g9_19 + f8 * g8_19 + f9_2 * g7_19;
    const std::int64_t h7 = f0 * g7 + f1 * g6 + f2 * g5 + f3 * g4 + f4 * g3 + f5 * g2 + f6 * g1 +
                            f7 * g0 + f8 * g9_19 + f9 * g8_19;
    const std::int64_t h8 = f0 * g8 + f1_2 * g7 + f2 * g6 + f3_2 * g5 + f4 * g4 + f5_2 * g3 +
                            f6 * g2 + f7_2 * g1 + f8 * g0 + f9_2 * g9_19;
    const std::int64_t h9 = f0 * g9 + f1 * g8 + f2 * g7 + f3 * g6 + f4 * g5 + f5 * g4 + f6 * g3 +
                            f7 * g2 + f8 * g1 + f9 * g0;
    return carryProduct(h0, h1, h2, h3, h4, h5, h6, h7, h8, h9);
}

OSTRELCOMM_FIELD_INLINE FieldElement FieldElementOperations::squareTimes(const FieldElement& f, std::int64_t k) {
    const std::int64_t f0 = f.X0, f1 = f.X1, f2 = f.X2, f3 = f.X3, f4 = f.X4;
    const std::int64_t f5 = f.X5, f6 = f.X6, f7 = f.X7, f8 = f.X8, f9 = f.X9;
    const std::int64_t f1_2 = 2 * f1, f2_2 = 2 * f2, f3_2 = 2 * f3, f4_2 = 2 * f4;
    const std::int64_t f5_2 = 2 * f5, f6_2 = 2 * f6, f7_2 = 2 * f7, f8_2 = 2 * f8, f9_2 = 2 * f9;
    const std::int64_t f3_4 = 4 * f3, f5_4 = 4 * f5, f7_4 = 4 * f7;
    const std::int64_t f6_19 = 19 * f6, f8_19 = 19 * f8;
    const std::int64_t f5_38 = 38 * f5, f6_38 = 38 * f6, f7_38 = 38 * f7, f8_38 = 38 * f8;
    const std::int64_t f9_38 = 38 * f9, f7_76 = 76 * f7, f9_76 = 76 * f9;

    std::int64_t h0 = f0 * f0 + f1 * f9_76 + f2 * f8_38 + f3 * f7_76 + f4 * f6_38 + f5 * f5_38;
    std::int64_t h1 = f0 * f1_2 + f2 * f9_38 + f3 * f8_38 + f4 * f7_38 + f5 * f6_38;
    std::int64_t h2 = f0 * f2_2 + f1 * f1_2 + f3 * f9_76 + f4 * f8_38 + f5 * f7_76 + f6 * f6_19;
    std::int64_t h3 = f0 * f3_2 + f1 * f2_2 + f4 * f9_38 + f5 * f8_38 + f6 * f7_38;
    std::int64_t h4 = f0 * f4_2 + f1 * f3_4 + f2 * f2 + f5 * f9_76 + f6 * f8_38 + f7 * f7_38;
    std::int64_t h5 = f0 * f5_2 + f1 * f4_2 + f2 * f3_2 + f6 * f9_38 + f7 * f8_38;
    std::int64_t h6 = f0 * f6_2 + f1 * f5_4 + f2 * f4_2 + f3 * f3_2 + f7 * f9_76 + f8 * f8_19;
    std::int64_t h7 = f0 * f7_2 + f1 * f6_2 + f2 * f5_2 + f3 * f4_2 + f8 * f9_38;
    std::int64_t h8 = f0 * f8_2 + f1 * f7_4 + f2 * f6_2 + f3 * f5_4 + f4 * f4 + f9 * f9_38;
    std::int64_t h9 = f0 * f9_2 + f1 * f8_2 + f2 * f7_2 + f3 * f6_2 + f4 * f5_2;
    h0 *= k;
    h1 *= k;
    h2 *= k;
    h3 *= k;
    h4 *= k;
    h5 *= k;
    h6 *= k;
    h7 *= k;
    h8 *= k;
    h9 *= k;
    return carryProduct(h0, h1, h2, h3, h4, h5, h6, h7, h8, h9);
}

OSTRELCOMM_FIELD_INLINE FieldElement FieldElementOperations::Squared(const FieldElement& f) {
    return squareTimes(f, 1);
}

OSTRELCOMM_FIELD_INLINE FieldElement FieldElementOperations::DoubleSquare(const FieldElement& f) {
    return squareTimes(f, 2);
}

OSTRELCOMM_FIELD_INLINE FieldElement FieldElementOperations::Multiply121666(const FieldElement& f) {
    std::int64_t h0 = 121666 * f.X0, h1 = 121666 * f.X1, h2 = 121666 * f.X2;
    std::int64_t h3 = 121666 * f.X3, h4 = 121666 * f.X4, h5 = 121666 * f.X5;
    std::int64_t h6 = 121666 * f.X6, h7 = 121666 * f.X7, h8 = 121666 * f.X8;
    std::int64_t h9 = 121666 * f.X9;
    return carryOddThenEven(h0, h1, h2, h3, h4, h5, h6, h7, h8, h9);
}

}  // namespace ostrelcomm

#undef OSTRELCOMM_FIELD_INLINE
