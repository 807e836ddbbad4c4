#include "crypto/curve25519/GroupElementsOperations.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <vector>

#include "X25519Compositions.h"
#include "crypto/curve25519/Exceptions.h"

namespace ostrelcomm {
namespace {

using namespace testing25519;

// RFC 7748 section 6.1.
const char* const kAlicePrivate = "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a";
const char* const kAlicePublic = "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a";
const char* const kBobPrivate = "5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb";
const char* const kBobPublic = "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f";
const char* const kSharedSecret = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";

TEST(GroupElementsOperationsTest, Rfc7748KeyAgreement) {
    const Key32 alicePublic = publicKeyOf(key32(kAlicePrivate));
    const Key32 bobPublic = publicKeyOf(key32(kBobPrivate));
    EXPECT_EQ(toHex(alicePublic), kAlicePublic);
    EXPECT_EQ(toHex(bobPublic), kBobPublic);
    EXPECT_EQ(toHex(sharedPointOf(key32(kAlicePrivate), bobPublic)), kSharedSecret);
    EXPECT_EQ(toHex(sharedPointOf(key32(kBobPrivate), alicePublic)), kSharedSecret);
}

// The fixed-base path (Edwards, table, conversion to u) and the ladder on
// u = 9 are two independent routes to the same public key; libsodium is the
// third.
TEST(GroupElementsOperationsTest, PublicKeysAgreeWithLibsodiumAndWithTheLadder) {
    ASSERT_GE(sodium_init(), 0);
    const Key32 nine = key32("0900000000000000000000000000000000000000000000000000000000000000");
    std::mt19937_64 rng(25519);
    for (int round = 0; round < 2000; ++round) {
        Key32 scalar = randomKey32(rng);
        if (round == 0) {
            scalar.fill(0);  // clamps to 2^254, the smallest clamped scalar
        } else if (round == 1) {
            scalar.fill(0xff);  // the largest
        }
        Key32 expected{};
        ASSERT_EQ(crypto_scalarmult_base(expected.data(), scalar.data()), 0);
        const Key32 ours = publicKeyOf(scalar);
        EXPECT_EQ(toHex(ours), toHex(expected)) << "round " << round;
        if (round % 10 == 0) {
            EXPECT_EQ(ours, sharedPointOf(scalar, nine)) << "round " << round;
        }
    }
}

TEST(GroupElementsOperationsTest, ScalarIsReadAtItsOffset) {
    Key32 scalar = key32(kAlicePrivate);
    ClampOperation::Clamp(scalar, 0);
    std::vector<std::uint8_t> padded(3, 0);
    padded.insert(padded.end(), scalar.begin(), scalar.end());
    const GroupElementP3 a = GroupElementsOperations::ScalarMultiplicationBase(scalar, 0);
    const GroupElementP3 b = GroupElementsOperations::ScalarMultiplicationBase(padded, 3);
    EXPECT_EQ(a, b);
    EXPECT_THROW(GroupElementsOperations::ScalarMultiplicationBase(padded, 4), Exceptions);
}

}  // namespace
}  // namespace ostrelcomm
