#include "crypto/curve25519/Salsa20.h"

#include "crypto/curve25519/Exceptions.h"
#include "crypto/curve25519/SalsaCore.h"
#include "crypto/curve25519/SecureWipe.h"

namespace ostrelcomm {

namespace {

std::uint32_t load(ByteView s, std::size_t at) {
    return static_cast<std::uint32_t>(s[at]) | (static_cast<std::uint32_t>(s[at + 1]) << 8) |
           (static_cast<std::uint32_t>(s[at + 2]) << 16) |
           (static_cast<std::uint32_t>(s[at + 3]) << 24);
}

void store(std::uint8_t* out, std::uint32_t v) {
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    out[2] = static_cast<std::uint8_t>(v >> 16);
    out[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace

Array16 Salsa20::LoadLittleEndian(ByteView key) {
    if (key.size() < 32) {
        throw Exceptions::ArgumentException("key must be 32 bytes long");
    }
    Array16 x{};
    x[0] = SalsaConst0;
    x[5] = SalsaConst1;
    x[10] = SalsaConst2;
    x[15] = SalsaConst3;
    for (std::size_t i = 0; i < 4; ++i) {
        x[1 + i] = load(key, 4 * i);
        x[11 + i] = load(key, 16 + 4 * i);
    }
    // x6 … x9 hold the 16-byte input, which is all zeros here.
    return x;
}

std::array<std::uint8_t, 32> Salsa20::HSalsa20(ByteView key) {
    Array16 x = LoadLittleEndian(key);
    SalsaCore::Salsa20(x, 10);
    std::array<std::uint8_t, 32> out{};
    constexpr std::size_t words[8] = {0, 5, 10, 15, 6, 7, 8, 9};
    for (std::size_t i = 0; i < 8; ++i) {
        store(out.data() + 4 * i, x[words[i]]);
    }
    secureWipe(x.data(), sizeof x);
    return out;
}

}  // namespace ostrelcomm
