#include "crypto/curve25519/Salsa20.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <random>

#include "X25519Compositions.h"
#include "crypto/curve25519/Exceptions.h"
#include "crypto/curve25519/SalsaCore.h"

namespace ostrelcomm {
namespace {

using namespace testing25519;

struct HSalsaVector {
    const char* name;
    const char* key;
    const char* expected;
};

const HSalsaVector kVectors[] = {
    // The NaCl "firstkey": HSalsa20 of the RFC 7748 section 6.1 shared secret.
    {"firstkey", "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742",
     "1b27556473e985d462cd51197a9a46c76009549eac6474f206c4ee0844f68389"},
    // The key every small-order peer ends up with.
    {"zero key", "0000000000000000000000000000000000000000000000000000000000000000",
     "351f86faa3b988468a850122b65b0acece9c4826806aeee63de9c0da2bd7f91e"},
};

TEST(Salsa20Test, KnownVectors) {
    for (const auto& v : kVectors) {
        const Key32 key = key32(v.key);
        EXPECT_EQ(toHex(Salsa20::HSalsa20(key)), v.expected) << v.name;
        EXPECT_EQ(toHex(key), v.key) << v.name;
    }
}

TEST(Salsa20Test, AgreesWithLibsodiumOnRandomKeys) {
    ASSERT_GE(sodium_init(), 0);
    std::mt19937_64 rng(20);
    const std::uint8_t zeroInput[16] = {};
    for (int round = 0; round < 3000; ++round) {
        const Key32 key = randomKey32(rng);
        Key32 expected{};
        ASSERT_EQ(crypto_core_hsalsa20(expected.data(), zeroInput, key.data(), nullptr), 0);
        EXPECT_EQ(toHex(Salsa20::HSalsa20(key)), toHex(expected)) << "round " << round;
    }
}

TEST(Salsa20Test, StateLayout) {
    Key32 key{};
    for (std::size_t i = 0; i < 32; ++i) {
        key[i] = static_cast<std::uint8_t>(i + 1);
    }
    const Array16 x = Salsa20::LoadLittleEndian(key);
    const Array16 expected{0x61707865, 0x04030201, 0x08070605, 0x0c0b0a09, 0x100f0e0d,
                           0x3320646e, 0,          0,          0,          0,
                           0x79622d32, 0x14131211, 0x18171615, 0x1c1b1a19, 0x201f1e1d,
                           0x6b206574};
    EXPECT_EQ(x, expected);
    EXPECT_THROW(Salsa20::LoadLittleEndian(ByteView(key).subspan(0, 31)), Exceptions);
}

TEST(Salsa20Test, ZeroDoubleRoundsLeaveTheStateAlone) {
    const Array16 start = Salsa20::LoadLittleEndian(key32(kVectors[0].key));
    Array16 x = start;
    SalsaCore::Salsa20(x, 0);
    EXPECT_EQ(x, start);
    SalsaCore::Salsa20(x, 1);
    EXPECT_NE(x, start);
}

}  // namespace
}  // namespace ostrelcomm
