#include "crypto/curve25519/SalsaCore.h"

#include <bit>
#include <cstdint>

namespace ostrelcomm {

namespace {

// One quarter round: b, c, d and a in turn take the rotated sum of the two
// words before them.
inline void quarter(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) {
    b ^= std::rotl(a + d, 7);
    c ^= std::rotl(b + a, 9);
    d ^= std::rotl(c + b, 13);
    a ^= std::rotl(d + c, 18);
}

}  // namespace

void SalsaCore::Salsa20(Array16& x, int doubleRounds) {
    for (int i = 0; i < doubleRounds; ++i) {
        // Columns.
        quarter(x[0], x[4], x[8], x[12]);
        quarter(x[5], x[9], x[13], x[1]);
        quarter(x[10], x[14], x[2], x[6]);
        quarter(x[15], x[3], x[7], x[11]);
        // Rows.
        quarter(x[0], x[1], x[2], x[3]);
        quarter(x[5], x[6], x[7], x[4]);
        quarter(x[10], x[11], x[8], x[9]);
        quarter(x[15], x[12], x[13], x[14]);
    }
}

}  // namespace ostrelcomm
