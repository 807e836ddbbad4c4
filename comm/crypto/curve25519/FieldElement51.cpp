#include "crypto/curve25519/FieldElement51.h"

#include <array>

#include "crypto/curve25519/FieldElementOperations.h"
#include "crypto/curve25519/SecureWipe.h"

namespace ostrelcomm {

namespace {

using FE51 = FieldElement51Operations;

constexpr std::uint64_t kMask51 = (std::uint64_t{1} << 51) - 1;

std::uint64_t load8(const std::uint8_t* s) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | s[i];
    return v;
}

void store8(std::uint8_t* s, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) s[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

FieldElement51 squaredTimes(FieldElement51 f, int times) {
    for (int i = 0; i < times; ++i) f = FE51::Squared(f);
    return f;
}

// One carry pass: limbs 1 to 4 below 2^51, limb 0 below 2^51 plus 19 times
// the carry out of the top.
void carryOnce(std::array<std::uint64_t, 5>& t) {
    t[1] += t[0] >> 51;
    t[0] &= kMask51;
    t[2] += t[1] >> 51;
    t[1] &= kMask51;
    t[3] += t[2] >> 51;
    t[2] &= kMask51;
    t[4] += t[3] >> 51;
    t[3] &= kMask51;
    t[0] += 19 * (t[4] >> 51);
    t[4] &= kMask51;
}

}  // namespace

FieldElement51 FieldElement51Operations::FromBytes(const std::uint8_t* s) {
    // Each limb loads the eight bytes that cover its bit range and shifts
    // them to the limb's start; the last mask drops bit 255.
    return FieldElement51{{load8(s) & kMask51, (load8(s + 6) >> 3) & kMask51, (load8(s + 12) >> 6) & kMask51,
                           (load8(s + 19) >> 1) & kMask51, (load8(s + 24) >> 12) & kMask51}};
}

void FieldElement51Operations::ToBytes(std::uint8_t* s, const FieldElement51& h) {
    std::array<std::uint64_t, 5> t = h.limb;
    // Two passes leave a value v below 2^255 + 19 with every limb but the
    // first below 2^51, hence v < 2p.
    carryOnce(t);
    carryOnce(t);
    // q = 1 exactly when v >= p, that is when v + 19 reaches 2^255.
    std::uint64_t q = (t[0] + 19) >> 51;
    q = (t[1] + q) >> 51;
    q = (t[2] + q) >> 51;
    q = (t[3] + q) >> 51;
    q = (t[4] + q) >> 51;
    // v - q p = v + 19 q - q 2^255; the last term is the bit carried out of
    // the top limb, which the mask drops.
    t[0] += 19 * q;
    t[1] += t[0] >> 51;
    t[0] &= kMask51;
    t[2] += t[1] >> 51;
    t[1] &= kMask51;
    t[3] += t[2] >> 51;
    t[2] &= kMask51;
    t[4] += t[3] >> 51;
    t[3] &= kMask51;
    t[4] &= kMask51;

    store8(s, t[0] | (t[1] << 51));
    store8(s + 8, (t[1] >> 13) | (t[2] << 38));
    store8(s + 16, (t[2] >> 26) | (t[3] << 25));
    store8(s + 24, (t[3] >> 39) | (t[4] << 12));
    secureWipe(t.data(), sizeof t);
}

FieldElement51 FieldElement51Operations::FromFieldElement(const FieldElement& f) {
    using FE = FieldElementOperations;
    // The product by one carries any element within the products' bounds, so
    // that its encoding is exact.
    std::array<std::uint8_t, 32> bytes{};
    FE::ToBytes(bytes, FE::Multiplication(f, FE::Set1()), 0);
    const FieldElement51 h = FromBytes(bytes.data());
    secureWipe(bytes.data(), bytes.size());
    return h;
}

FieldElement FieldElement51Operations::ToFieldElement(const FieldElement51& h) {
    std::array<std::uint8_t, 32> bytes{};
    ToBytes(bytes.data(), h);
    const FieldElement f = FieldElementOperations::FromBytes(bytes, 0);
    secureWipe(bytes.data(), bytes.size());
    return f;
}

FieldElement51 FieldElement51Operations::Invert(const FieldElement51& z) {
    // z^(p-2) = z^(2^255 - 21): 254 squarings and 11 multiplications, the
    // chain of FieldElementOperations::Invert.
    FieldElement51 t0 = Squared(z);                      // z^2
    FieldElement51 t1 = squaredTimes(t0, 2);             // z^8
    t1 = Multiplication(z, t1);                          // z^9
    t0 = Multiplication(t0, t1);                         // z^11
    FieldElement51 t2 = Squared(t0);                     // z^22
    t1 = Multiplication(t1, t2);                         // z^(2^5 - 1)
    t2 = squaredTimes(t1, 5);
    t1 = Multiplication(t2, t1);                         // z^(2^10 - 1)
    t2 = squaredTimes(t1, 10);
    t2 = Multiplication(t2, t1);                         // z^(2^20 - 1)
    FieldElement51 t3 = squaredTimes(t2, 20);
    t2 = Multiplication(t3, t2);                         // z^(2^40 - 1)
    t2 = squaredTimes(t2, 10);
    t1 = Multiplication(t2, t1);                         // z^(2^50 - 1)
    t2 = squaredTimes(t1, 50);
    t2 = Multiplication(t2, t1);                         // z^(2^100 - 1)
    t3 = squaredTimes(t2, 100);
    t2 = Multiplication(t3, t2);                         // z^(2^200 - 1)
    t2 = squaredTimes(t2, 50);
    t1 = Multiplication(t2, t1);                         // z^(2^250 - 1)
    t1 = squaredTimes(t1, 5);                            // z^(2^255 - 32)
    return Multiplication(t1, t0);                       // z^(2^255 - 21)
}

}  // namespace ostrelcomm
