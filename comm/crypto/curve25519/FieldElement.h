#pragma once

#include <cstdint>
#include <span>

namespace ostrelcomm {

// An element of GF(2^255 - 19) as ten signed limbs of alternately 26 and 25
// bits (limb i starts at bit ceil(25.5 * i)). Limbs need not be canonical:
// sums and differences are left uncarried and several limb vectors stand for
// one value. FieldElementOperations does the arithmetic.
struct FieldElement {
    std::int64_t X0 = 0;
    std::int64_t X1 = 0;
    std::int64_t X2 = 0;
    std::int64_t X3 = 0;
    std::int64_t X4 = 0;
    std::int64_t X5 = 0;
    std::int64_t X6 = 0;
    std::int64_t X7 = 0;
    std::int64_t X8 = 0;
    std::int64_t X9 = 0;

    // Zero.
    constexpr FieldElement() = default;
    constexpr FieldElement(std::int64_t x0, std::int64_t x1, std::int64_t x2, std::int64_t x3,
                           std::int64_t x4, std::int64_t x5, std::int64_t x6, std::int64_t x7,
                           std::int64_t x8, std::int64_t x9)
        : X0(x0), X1(x1), X2(x2), X3(x3), X4(x4), X5(x5), X6(x6), X7(x7), X8(x8), X9(x9) {}
    // Takes X0 … X9 from exactly ten values; throws Exceptions (ArgumentException)
    // for any other count.
    explicit FieldElement(std::span<const std::int64_t> elements);

    friend bool operator==(const FieldElement&, const FieldElement&) = default;
};

}  // namespace ostrelcomm
