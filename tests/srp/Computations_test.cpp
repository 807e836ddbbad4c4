#include <gtest/gtest.h>

#include <stdexcept>

#include "SrpTestHelpers.h"
#include "crypto/Random.h"
#include "srp/AuthenticationFailure.h"
#include "srp/Computations.h"
#include "srp/Group.h"
#include "srp/SaltedVerificationKey.h"

using namespace ostrelcomm;
using namespace ostrelcomm::SRP;

namespace {

TEST(SrpBytes, PadPutsZerosInFront) {
    EXPECT_EQ(pad(Bytes{1, 2}, 4), (Bytes{0, 0, 1, 2}));
    EXPECT_EQ(pad(Bytes{1, 2}, 2), (Bytes{1, 2}));
    EXPECT_EQ(pad(Bytes{}, 2), (Bytes{0, 0}));
    EXPECT_THROW(pad(Bytes{1, 2, 3}, 2), std::length_error);
}

TEST(SrpBytes, XorNeedsEqualLengths) {
    EXPECT_EQ(xorBytes(Bytes{0x0F, 0xF0}, Bytes{0xFF, 0xFF}), (Bytes{0xF0, 0x0F}));
    EXPECT_EQ(xorBytes(Bytes{}, Bytes{}), Bytes{});
    EXPECT_FALSE(xorBytes(Bytes{1}, Bytes{1, 2}));
}

// k hashes g padded to N's length, while M hashes the generator's single
// byte: the two forms must not be swapped.
TEST(SrpConventions, GeneratorIsPaddedInKAndMinimalInM) {
    const Group group = Group::N3072();
    const auto alg = DigestAlgorithm::sha256;
    ASSERT_EQ(group.gBytes(), Bytes{5});
    Bytes paddedG(group.size(), 0);
    paddedG.back() = 5;
    EXPECT_EQ(calculate_k(group, alg).bytes(),
              BigInt::fromBytes(Digest(alg).update(group.NBytes()).update(paddedG).final()).bytes());

    const Bytes salt = {1, 2, 3}, A = {4, 5}, B = {0, 6}, K = Bytes(32, 7);
    const Bytes hN = Digest::compute(alg, group.NBytes());
    const Bytes hg = Digest::compute(alg, Bytes{5});
    const Bytes expected = Digest(alg)
                               .update(*xorBytes(hN, hg))
                               .update(Digest::compute(alg, asBytes("ann")))
                               .update(salt)
                               .update(A)
                               .update(B)
                               .update(K)
                               .final();
    EXPECT_EQ(calculate_M(group, alg, "ann", salt, A, B, K), expected);
}

TEST(SrpConventions, ValuesLongerThanNCannotEnterU) {
    const Group group = Group::N1024();
    const Bytes fits(group.size(), 0xFF), tooLong(group.size() + 1, 0x00);
    EXPECT_NO_THROW(calculate_u(group, DigestAlgorithm::sha1, fits, fits));
    EXPECT_THROW(calculate_u(group, DigestAlgorithm::sha1, tooLong, fits), AuthenticationFailure);
    EXPECT_THROW(calculate_u(group, DigestAlgorithm::sha1, fits, tooLong), AuthenticationFailure);
}

TEST(SaltedVerificationKey, FreshSaltEachTimeUnlessGiven) {
    const Group group = Group::N2048();
    const auto alg = DigestAlgorithm::sha256;
    auto first = createSaltedVerificationKey("ann", "pw", std::nullopt, group, alg);
    auto second = createSaltedVerificationKey("ann", "pw", std::nullopt, group, alg);
    EXPECT_EQ(first.salt.size(), 16u);
    EXPECT_NE(first.salt, second.salt);
    EXPECT_NE(first.verificationKey, second.verificationKey);

    auto again = createSaltedVerificationKey("ann", "pw", ByteView(first.salt), group, alg);
    EXPECT_EQ(again.salt, first.salt);
    EXPECT_EQ(again.verificationKey, first.verificationKey);

    const Bytes x = calculate_x(alg, first.salt, "ann", "pw").bytes();
    auto fromX = createSaltedVerificationKey(ByteView(x), ByteView(first.salt), group);
    EXPECT_EQ(fromX.verificationKey, first.verificationKey);
    EXPECT_EQ(createSaltedVerificationKey(ByteView(x), std::nullopt, group).salt.size(), 16u);
}

TEST(SrpGroup, NamedGroupsAndCustomGroups) {
    const struct {
        Group group;
        Group::Case groupCase;
        std::size_t bits;
        std::uint8_t g;
    } named[] = {
        {Group::N1024(), Group::Case::N1024, 1024, 2}, {Group::N1536(), Group::Case::N1536, 1536, 2},
        {Group::N2048(), Group::Case::N2048, 2048, 2}, {Group::N3072(), Group::Case::N3072, 3072, 5},
        {Group::N4096(), Group::Case::N4096, 4096, 5}, {Group::N6144(), Group::Case::N6144, 6144, 5},
        {Group::N8192(), Group::Case::N8192, 8192, 19},
    };
    for (const auto& n : named) {
        EXPECT_EQ(n.group.groupCase(), n.groupCase);
        EXPECT_EQ(n.group.N().bitLength(), n.bits);
        EXPECT_EQ(n.group.gBytes(), Bytes{n.g});
        EXPECT_TRUE(n.group == Group::named(n.groupCase));
    }
    EXPECT_THROW(Group::named(Group::Case::custom), std::invalid_argument);

    auto custom = Group::make("EEAF0AB9", "2");
    ASSERT_TRUE(custom);
    EXPECT_EQ(custom->groupCase(), Group::Case::custom);
    EXPECT_EQ(custom->NBytes(), (Bytes{0xEE, 0xAF, 0x0A, 0xB9}));
    EXPECT_TRUE(*custom == *Group::make("eeaf0ab9", "02"));
    EXPECT_FALSE(*custom == *Group::make("eeaf0ab9", "05"));
    EXPECT_FALSE(*custom == Group::N1024());
    EXPECT_FALSE(Group::make("EEAF0AB9", "two"));
    EXPECT_FALSE(Group::make("not hex", "2"));
    EXPECT_FALSE(Group::make("", "2"));
}

}  // namespace
