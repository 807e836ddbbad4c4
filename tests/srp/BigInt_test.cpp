#include <gtest/gtest.h>

#include "SrpTestHelpers.h"
#include "crypto/Random.h"
#include "srp/BigInt.h"
#include "srp/Group.h"

using namespace ostrelcomm;

namespace {

TEST(BigInt, BytesAreMinimalBigEndian) {
    EXPECT_EQ(BigInt::fromBytes(Bytes{0x00, 0x00, 0x01, 0x02}).bytes(), (Bytes{0x01, 0x02}));
    EXPECT_TRUE(BigInt::fromBytes(Bytes{}).isZero());
    EXPECT_TRUE(BigInt::fromBytes(Bytes{0x00, 0x00}).bytes().empty());
    EXPECT_TRUE(BigInt().bytes().empty());
    EXPECT_EQ(BigInt(0x0102030405060708ULL).bytes(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(BigInt, HexTextIsDigitsOnly) {
    EXPECT_EQ(BigInt::fromHex("0")->bytes(), Bytes{});
    EXPECT_EQ(BigInt::fromHex("abC")->bytes(), (Bytes{0x0A, 0xBC}));
    EXPECT_EQ(BigInt::fromHex("00ff")->bytes(), (Bytes{0xFF}));
    for (const char* bad : {"", "-1", "0x10", "12 34", "g", "1\n", "+5"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(BigInt::fromHex(bad));
    }
}

TEST(BigInt, ArithmeticIsUnsigned) {
    const BigInt max64(~0ULL);
    EXPECT_EQ((max64 + BigInt(1)).bytes(), (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(max64 * max64, *BigInt::fromHex("fffffffffffffffe0000000000000001"));
    EXPECT_EQ(BigInt(100) - BigInt(58), BigInt(42));
    EXPECT_EQ(BigInt(100) % BigInt(7), BigInt(2));
    EXPECT_THROW(BigInt(5) - BigInt(7), BigIntError);
    EXPECT_THROW(BigInt(5) % BigInt(), BigIntError);
    EXPECT_LT(BigInt(5), BigInt(7));
    EXPECT_GT(*BigInt::fromHex("10000000000000000"), max64);
}

TEST(BigInt, ConstantTimePowerAgreesWithPlainPower) {
    const BigInt& N = SRP::Group::N2048().N();
    for (int i = 0; i < 4; ++i) {
        const BigInt base = BigInt::fromBytes(randomBytes(300));  // larger than N
        const BigInt exponent = BigInt::fromBytes(randomBytes(128));
        BigInt secretExponent = exponent;
        secretExponent.markSecret();
        EXPECT_TRUE(secretExponent.isSecret());
        EXPECT_FALSE(exponent.isSecret());
        EXPECT_EQ(base.power(secretExponent, N), base.power(exponent, N));
    }
    EXPECT_EQ(BigInt(3).power(BigInt(5), BigInt(100)), BigInt(43));
    EXPECT_EQ(BigInt(3).power(BigInt(), BigInt(101)), BigInt(1));
}

TEST(BigInt, SecretMarkSurvivesCopies) {
    BigInt secret = BigInt::fromSecretBytes(Bytes{7});
    BigInt copy = secret;
    BigInt assigned;
    assigned = secret;
    EXPECT_TRUE(copy.isSecret());
    EXPECT_TRUE(assigned.isSecret());
    EXPECT_EQ(copy.secretBytes().copyOut(), Bytes{7});
}

TEST(BigInt, ImpossibleExponentiationsThrow) {
    EXPECT_THROW(BigInt(3).power(BigInt(5), BigInt()), BigIntError);
    // The ladder needs an odd modulus.
    EXPECT_THROW(BigInt(3).power(BigInt::fromSecretBytes(Bytes{5}), BigInt(100)), BigIntError);
}

}  // namespace
