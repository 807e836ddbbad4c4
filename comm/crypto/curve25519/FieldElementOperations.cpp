#include "crypto/curve25519/FieldElementOperations.h"

#include <array>

#include "crypto/curve25519/Exceptions.h"

namespace ostrelcomm {

namespace {

void requireRoom(std::size_t size, std::size_t offset) {
    if (size < 32 || offset > size - 32) {
        throw Exceptions::ArgumentException("field element needs 32 bytes at the offset");
    }
}

std::int64_t load3(const std::uint8_t* s) {
    return static_cast<std::int64_t>(s[0]) | (static_cast<std::int64_t>(s[1]) << 8) |
           (static_cast<std::int64_t>(s[2]) << 16);
}

std::int64_t load4(const std::uint8_t* s) {
    return load3(s) | (static_cast<std::int64_t>(s[3]) << 24);
}

FieldElement squaredTimes(FieldElement f, int times) {
    for (int i = 0; i < times; ++i) {
        f = FieldElementOperations::Squared(f);
    }
    return f;
}

}  // namespace

FieldElement FieldElementOperations::FromBytes(ByteView data, std::size_t offset) {
    requireRoom(data.size(), offset);
    const std::uint8_t* s = data.data() + offset;
    // Each limb loads the bytes that cover its bit range and shifts them to the
    // limb's start; bit 255 (the top bit of the last byte) is dropped.
    std::int64_t h0 = load4(s);
    std::int64_t h1 = load3(s + 4) << 6;
    std::int64_t h2 = load3(s + 7) << 5;
    std::int64_t h3 = load3(s + 10) << 3;
    std::int64_t h4 = load3(s + 13) << 2;
    std::int64_t h5 = load4(s + 16);
    std::int64_t h6 = load3(s + 20) << 7;
    std::int64_t h7 = load3(s + 23) << 5;
    std::int64_t h8 = load3(s + 26) << 4;
    std::int64_t h9 = (load3(s + 29) & 0x7fffff) << 2;
    return carryOddThenEven(h0, h1, h2, h3, h4, h5, h6, h7, h8, h9);
}

FieldElement FieldElementOperations::Reduce(const FieldElement& h) {
    std::array<std::int64_t, 10> l{h.X0, h.X1, h.X2, h.X3, h.X4, h.X5, h.X6, h.X7, h.X8, h.X9};
    // q = floor(value / p), which is -1, 0 or 1 for a carried element: adding
    // 19 and watching the carry ripple out of the top limb tells whether the
    // value reaches p (or stays below 0).
    std::int64_t q = (19 * l[9] + (std::int64_t{1} << 24)) >> 25;
    for (int i = 0; i < 10; ++i) {
        q = (l[i] + q) >> (i % 2 == 0 ? 26 : 25);
    }
    // value - q*p = value + 19q - q*2^255; the last term is the carry out of
    // the top limb, which is dropped.
    l[0] += 19 * q;
    for (int i = 0; i < 9; ++i) {
        const int w = i % 2 == 0 ? 26 : 25;
        const std::int64_t c = l[i] >> w;
        l[i + 1] += c;
        l[i] -= c * (std::int64_t{1} << w);
    }
    const std::int64_t c9 = l[9] >> 25;
    l[9] -= c9 * (std::int64_t{1} << 25);
    return FieldElement(l);
}

void FieldElementOperations::ToBytes(std::span<std::uint8_t> s, const FieldElement& h,
                                     std::size_t offset) {
    requireRoom(s.size(), offset);
    const FieldElement r = Reduce(h);
    const std::array<std::int64_t, 10> limbs{r.X0, r.X1, r.X2, r.X3, r.X4,
                                             r.X5, r.X6, r.X7, r.X8, r.X9};
    // Stream the limbs, lowest first, through a bit accumulator; every limb is
    // now in [0, 2^w), so the widths add up to exactly 255 bits.
    std::uint64_t acc = 0;
    int bits = 0;
    std::size_t k = offset;
    for (int i = 0; i < 10; ++i) {
        acc |= static_cast<std::uint64_t>(limbs[i]) << bits;
        bits += i % 2 == 0 ? 26 : 25;
        while (bits >= 8) {
            s[k++] = static_cast<std::uint8_t>(acc);
            acc >>= 8;
            bits -= 8;
        }
    }
    s[k] = static_cast<std::uint8_t>(acc);
}

FieldElement FieldElementOperations::Invert(const FieldElement& z) {
    // z^(p-2) = z^(2^255 - 21): 254 squarings and 11 multiplications.
    FieldElement t0 = Squared(z);                    // z^2
    FieldElement t1 = squaredTimes(t0, 2);           // z^8
    t1 = Multiplication(z, t1);                      // z^9
    t0 = Multiplication(t0, t1);                     // z^11
    FieldElement t2 = Squared(t0);                   // z^22
    t1 = Multiplication(t1, t2);                     // z^(2^5 - 1)
    t2 = squaredTimes(t1, 5);
    t1 = Multiplication(t2, t1);                     // z^(2^10 - 1)
    t2 = squaredTimes(t1, 10);
    t2 = Multiplication(t2, t1);                     // z^(2^20 - 1)
    FieldElement t3 = squaredTimes(t2, 20);
    t2 = Multiplication(t3, t2);                     // z^(2^40 - 1)
    t2 = squaredTimes(t2, 10);
    t1 = Multiplication(t2, t1);                     // z^(2^50 - 1)
    t2 = squaredTimes(t1, 50);
    t2 = Multiplication(t2, t1);                     // z^(2^100 - 1)
    t3 = squaredTimes(t2, 100);
    t2 = Multiplication(t3, t2);                     // z^(2^200 - 1)
    t2 = squaredTimes(t2, 50);
    t1 = Multiplication(t2, t1);                     // z^(2^250 - 1)
    t1 = squaredTimes(t1, 5);                        // z^(2^255 - 32)
    return Multiplication(t1, t0);                   // z^(2^255 - 21)
}

}  // namespace ostrelcomm
