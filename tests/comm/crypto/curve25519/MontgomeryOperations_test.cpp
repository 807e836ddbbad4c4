#include "crypto/curve25519/MontgomeryOperations.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <vector>

#include "X25519Compositions.h"
#include "crypto/curve25519/Exceptions.h"

namespace ostrelcomm {
namespace {

using namespace testing25519;

struct LadderVector {
    const char* scalar;
    const char* u;
    const char* expected;
};

// RFC 7748 section 5.2; the second u-coordinate has bit 255 set, which the
// ladder must ignore.
const LadderVector kRfc7748Vectors[] = {
    {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
     "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
     "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
    {"4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
     "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
     "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
};

TEST(MontgomeryOperationsTest, Rfc7748Vectors) {
    for (const auto& v : kRfc7748Vectors) {
        EXPECT_EQ(toHex(sharedPointOf(key32(v.scalar), key32(v.u))), v.expected) << v.scalar;
    }
}

// RFC 7748 section 5.2, the iterated function: k and u start as the base
// point 9; each round computes X25519(k, u), then u takes the old k and k the
// result.
TEST(MontgomeryOperationsTest, Rfc7748IteratedVector) {
    Key32 k = key32("0900000000000000000000000000000000000000000000000000000000000000");
    Key32 u = k;
    for (int i = 1; i <= 1000; ++i) {
        const Key32 result = sharedPointOf(k, u);
        u = k;
        k = result;
        if (i == 1) {
            EXPECT_EQ(toHex(k), "422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079");
        }
    }
    EXPECT_EQ(toHex(k), "684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51");
}

TEST(MontgomeryOperationsTest, AgreesWithLibsodiumOnRandomKeys) {
    ASSERT_GE(sodium_init(), 0);
    std::mt19937_64 rng(7748);
    for (int round = 0; round < 2000; ++round) {
        const Key32 scalar = randomKey32(rng);
        // Random peer bytes: bit 255 set half the time, and now and then a
        // non-canonical value from p + 2 to 2^255 - 1 (p and p + 1 are aliases
        // of small-order points, which libsodium refuses).
        Key32 peer = randomKey32(rng);
        if (round % 97 == 0) {
            std::fill(peer.begin() + 1, peer.end(), 0xff);
            peer[0] = static_cast<std::uint8_t>(0xef + round % 17);
            peer[31] = 0x7f;
        }
        Key32 expected{};
        ASSERT_EQ(crypto_scalarmult(expected.data(), scalar.data(), peer.data()), 0) << round;
        EXPECT_EQ(toHex(sharedPointOf(scalar, peer)), toHex(expected)) << "round " << round;
    }
}

TEST(MontgomeryOperationsTest, PeerBit255IsIgnoredAndTheScalarIsClampedOnACopy) {
    std::mt19937_64 rng(255);
    for (int round = 0; round < 20; ++round) {
        const Key32 scalar = randomKey32(rng);
        Key32 peer = randomKey32(rng);
        Key32 peerHigh = peer;
        peer[31] &= 0x7f;
        peerHigh[31] |= 0x80;
        Key32 clamped = scalar;
        ClampOperation::Clamp(clamped, 0);

        const Key32 shared = sharedPointOf(scalar, peer);
        EXPECT_EQ(shared, sharedPointOf(scalar, peerHigh));
        EXPECT_EQ(shared, sharedPointOf(clamped, peer));
        EXPECT_EQ(shared[31] & 0x80, 0);

        const Key32 before = scalar;
        (void)MontgomeryOperations::CalculateLadderStep(scalar, FieldElementOperations::Set1(), 0);
        EXPECT_EQ(scalar, before);
    }
}

// Points of small order (and their non-canonical aliases) give the all-zero
// shared point; nothing rejects it.
TEST(MontgomeryOperationsTest, SmallOrderPeersGiveTheZeroPoint) {
    const char* peers[] = {
        "0000000000000000000000000000000000000000000000000000000000000000",  // 0
        "0100000000000000000000000000000000000000000000000000000000000000",  // 1 (order 4)
        "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // p - 1 (order 4)
        "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // p, alias of 0
        "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // p + 1, alias of 1
        "0000000000000000000000000000000000000000000000000000000000000080",  // 0 with bit 255
    };
    std::mt19937_64 rng(8);
    const Key32 scalar = randomKey32(rng);
    for (const char* peer : peers) {
        EXPECT_EQ(toHex(sharedPointOf(scalar, key32(peer))), std::string(64, '0')) << peer;
    }
}

TEST(MontgomeryOperationsTest, ScalarIsReadAtItsOffset) {
    const LadderVector& v = kRfc7748Vectors[0];
    const Key32 scalar = key32(v.scalar);
    std::vector<std::uint8_t> padded(7, 0xff);
    padded.insert(padded.end(), scalar.begin(), scalar.end());
    const FieldElement u = FieldElementOperations::FromBytes(key32(v.u), 0);
    Key32 out{};
    FieldElementOperations::ToBytes(out, MontgomeryOperations::CalculateLadderStep(padded, u, 7), 0);
    EXPECT_EQ(toHex(out), v.expected);
    EXPECT_THROW(MontgomeryOperations::CalculateLadderStep(padded, u, 8), Exceptions);
}

}  // namespace
}  // namespace ostrelcomm
