#include "crypto/curve25519/LookupTables.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "encoding/Encoding.h"
#include "crypto/curve25519/FieldElementOperations.h"

namespace ostrelcomm {
namespace {

using FE = FieldElementOperations;
using Encoding = std::array<std::uint8_t, 32>;

Encoding encode(const FieldElement& f) {
    Encoding s{};
    FE::ToBytes(s, f, 0);
    return s;
}

// The standard edwards25519 point encoding: y little-endian, the low bit of x
// in bit 255. x and y come back from y + x and y - x.
std::string pointEncoding(const GroupElementP4& e) {
    const FieldElement half = FE::Invert(FieldElement(2, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    const FieldElement y = FE::Multiplication(FE::Add(e.YplusX, e.YminusX), half);
    const FieldElement x = FE::Multiplication(FE::Sub(e.YplusX, e.YminusX), half);
    Encoding s = encode(y);
    s[31] = static_cast<std::uint8_t>(s[31] | ((encode(x)[0] & 1) << 7));
    return toHex(s);
}

bool carried(const FieldElement& f) {
    const std::int64_t limbs[10] = {f.X0, f.X1, f.X2, f.X3, f.X4, f.X5, f.X6, f.X7, f.X8, f.X9};
    for (int i = 0; i < 10; ++i) {
        const std::int64_t bound = i % 2 == 0 ? (std::int64_t{1} << 25) : (std::int64_t{1} << 24);
        if (std::llabs(limbs[i]) > bound) {
            return false;
        }
    }
    return true;
}

// Entry j of row i is (j + 1) * 256^i * B: compared with libsodium's
// multiplication of the base point by that scalar, all 256 entries.
TEST(LookupTablesTest, EveryEntryIsTheMultipleOfTheBasePoint) {
    ASSERT_GE(sodium_init(), 0);
    const auto& table = LookupTables::shared();
    // d = -121665/121666, for the third coordinate 2dxy.
    const FieldElement d = FE::Multiplication(FE::Negate(FieldElement(121665, 0, 0, 0, 0, 0, 0, 0, 0, 0)),
                                              FE::Invert(FieldElement(121666, 0, 0, 0, 0, 0, 0, 0, 0, 0)));
    for (int i = 0; i < 32; ++i) {
        for (int j = 0; j < 8; ++j) {
            Encoding scalar{};
            scalar[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(j + 1);
            Encoding expected{};
            ASSERT_EQ(crypto_scalarmult_ed25519_base_noclamp(expected.data(), scalar.data()), 0);

            const GroupElementP4& e = table.Base[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
            const std::string where = "row " + std::to_string(i) + " entry " + std::to_string(j);
            EXPECT_EQ(pointEncoding(e), toHex(expected)) << where;

            // (y+x)^2 - (y-x)^2 = 4xy, so 2dxy = d/2 · that difference.
            const FieldElement fourXY = FE::Sub(FE::Squared(e.YplusX), FE::Squared(e.YminusX));
            const FieldElement expectedXY2D =
                FE::Multiplication(FE::Multiplication(fourXY, d), FE::Invert(FieldElement(2, 0, 0, 0, 0, 0, 0, 0, 0, 0)));
            EXPECT_EQ(toHex(encode(e.XY2D)), toHex(encode(expectedXY2D))) << where;

            EXPECT_TRUE(carried(e.YplusX) && carried(e.YminusX) && carried(e.XY2D)) << where;
        }
    }
}

}  // namespace
}  // namespace ostrelcomm
