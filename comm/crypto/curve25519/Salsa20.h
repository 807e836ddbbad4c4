#pragma once

#include <array>
#include <cstdint>

#include "crypto/curve25519/Array16.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

class Salsa20 {
public:
    Salsa20() = delete;

    // "expand 32-byte k" as four little-endian words.
    static constexpr std::uint32_t SalsaConst0 = 0x61707865;
    static constexpr std::uint32_t SalsaConst1 = 0x3320646e;
    static constexpr std::uint32_t SalsaConst2 = 0x79622d32;
    static constexpr std::uint32_t SalsaConst3 = 0x6b206574;

    // The HSalsa20 state for the first 32 bytes of key and a 16-byte input of
    // zeros. Throws Exceptions (ArgumentException) for fewer than 32 bytes.
    static Array16 LoadLittleEndian(ByteView key);

    // HSalsa20 of a 32-byte key over the zero input: 20 rounds, then words
    // 0, 5, 10, 15, 6, 7, 8, 9 of the state, without the feed-forward. Turns
    // an X25519 shared point into the shared key. The key is not changed.
    // Throws Exceptions (ArgumentException) for fewer than 32 bytes.
    static std::array<std::uint8_t, 32> HSalsa20(ByteView key);
};

}  // namespace ostrelcomm
