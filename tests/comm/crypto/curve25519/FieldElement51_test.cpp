#include "crypto/curve25519/FieldElement51.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "crypto/curve25519/FieldElementOperations.h"
#include "encoding/Encoding.h"

// The ladder's 51-bit arithmetic against OpenSSL's big integers: every result
// is compared as a value mod p through its canonical encoding, for operands
// up to the limb bounds the ladder hands the operations.
namespace ostrelcomm {
namespace {

using F = FieldElement51Operations;
using Encoding = std::array<std::uint8_t, 32>;

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

constexpr std::uint64_t kLimb51 = std::uint64_t{1} << 51;

class FieldElement51Test : public ::testing::Test {
protected:
    FieldElement51Test() : ctx_(BN_CTX_new()), p_(BN_new()) {
        BN_set_bit(p_.get(), 255);
        BN_sub_word(p_.get(), 19);
    }
    ~FieldElement51Test() override { BN_CTX_free(ctx_); }

    // Σ limb_i 2^(51 i) mod p.
    Bn value(const FieldElement51& f) const {
        Bn sum(BN_new());
        for (int i = 4; i >= 0; --i) {
            BN_lshift(sum.get(), sum.get(), 51);
            Bn limb(BN_new());
            BN_set_word(limb.get(), f.limb[static_cast<std::size_t>(i)]);
            BN_add(sum.get(), sum.get(), limb.get());
        }
        Bn r(BN_new());
        BN_nnmod(r.get(), sum.get(), p_.get(), ctx_);
        return r;
    }
    Bn modMul(const BIGNUM* a, const BIGNUM* b) const {
        Bn r(BN_new());
        BN_mod_mul(r.get(), a, b, p_.get(), ctx_);
        return r;
    }
    Bn modAdd(const BIGNUM* a, const BIGNUM* b) const {
        Bn r(BN_new());
        BN_mod_add(r.get(), a, b, p_.get(), ctx_);
        return r;
    }
    Bn modSub(const BIGNUM* a, const BIGNUM* b) const {
        Bn r(BN_new());
        BN_mod_sub(r.get(), a, b, p_.get(), ctx_);
        return r;
    }
    Bn inverse(const BIGNUM* a) const {
        Bn r(BN_new());
        if (!BN_is_zero(a)) BN_mod_inverse(r.get(), a, p_.get(), ctx_);
        return r;
    }
    static std::string hex(const BIGNUM* a) {
        Encoding s{};
        BN_bn2lebinpad(a, s.data(), 32);
        return toHex(s);
    }
    static std::string encodedHex(const FieldElement51& f) {
        Encoding s{};
        F::ToBytes(s.data(), f);
        return toHex(s);
    }

    // Every limb below `bound`.
    FieldElement51 randomLimbs(std::uint64_t bound) {
        FieldElement51 f;
        for (auto& limb : f.limb) limb = std::uniform_int_distribution<std::uint64_t>(0, bound - 1)(rng_);
        return f;
    }
    FieldElement51 carried() { return randomLimbs(kLimb51); }

    BN_CTX* ctx_;
    Bn p_;
    std::mt19937_64 rng_{0x51};
};

TEST_F(FieldElement51Test, ArithmeticAgreesWithBigIntegers) {
    for (int round = 0; round < 1000; ++round) {
        const FieldElement51 f = carried();
        const FieldElement51 g = carried();
        const Bn vf = value(f);
        const Bn vg = value(g);
        const std::string where = "round " + std::to_string(round);

        EXPECT_EQ(encodedHex(f), hex(vf.get())) << where;
        EXPECT_EQ(encodedHex(F::Add(f, g)), hex(modAdd(vf.get(), vg.get()).get())) << where;
        EXPECT_EQ(encodedHex(F::Sub(f, g)), hex(modSub(vf.get(), vg.get()).get())) << where;
        EXPECT_EQ(encodedHex(F::Multiplication(f, g)), hex(modMul(vf.get(), vg.get()).get())) << where;
        EXPECT_EQ(encodedHex(F::Squared(f)), hex(modMul(vf.get(), vf.get()).get())) << where;
        Bn constant(BN_new());
        BN_set_word(constant.get(), 121666);
        EXPECT_EQ(encodedHex(F::Multiply121666(f)), hex(modMul(vf.get(), constant.get()).get())) << where;
        if (round % 10 == 0) {
            EXPECT_EQ(encodedHex(F::Invert(f)), hex(inverse(vf.get()).get())) << where;
        }
    }
}

// The ladder multiplies sums and differences of carried elements; the
// products must be exact up to the documented operand bound of 2^54 per limb,
// all limbs at the top included, and return carried limbs again.
TEST_F(FieldElement51Test, ProductsAcceptWideOperands) {
    const std::uint64_t bound = std::uint64_t{1} << 54;
    FieldElement51 top;
    top.limb.fill(bound - 1);
    for (int round = 0; round < 500; ++round) {
        const FieldElement51 f = round == 0 ? top : randomLimbs(bound);
        const FieldElement51 g = round <= 1 ? top : randomLimbs(bound);
        const Bn vf = value(f);
        const Bn vg = value(g);
        const std::string where = "round " + std::to_string(round);

        const FieldElement51 product = F::Multiplication(f, g);
        const FieldElement51 square = F::Squared(g);
        const FieldElement51 scaled = F::Multiply121666(f);
        EXPECT_EQ(encodedHex(product), hex(modMul(vf.get(), vg.get()).get())) << where;
        EXPECT_EQ(encodedHex(square), hex(modMul(vg.get(), vg.get()).get())) << where;
        Bn constant(BN_new());
        BN_set_word(constant.get(), 121666);
        EXPECT_EQ(encodedHex(scaled), hex(modMul(vf.get(), constant.get()).get())) << where;
        for (const FieldElement51* r : {&product, &square, &scaled})
            for (std::uint64_t limb : r->limb) EXPECT_LT(limb, kLimb51 + (std::uint64_t{1} << 15)) << where;
    }
}

struct EncodingCase {
    const char* name;
    const char* input;     // 32 bytes little-endian, as hex
    const char* expected;  // canonical encoding of the value mod p
};

const EncodingCase kEncodingCases[] = {
    {"zero", "0000000000000000000000000000000000000000000000000000000000000000",
     "0000000000000000000000000000000000000000000000000000000000000000"},
    {"p-1", "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
     "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"},
    {"p", "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
     "0000000000000000000000000000000000000000000000000000000000000000"},
    {"p+1", "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
     "0100000000000000000000000000000000000000000000000000000000000000"},
    {"2^255-1", "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
     "1200000000000000000000000000000000000000000000000000000000000000"},
    {"2^256-1", "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
     "1200000000000000000000000000000000000000000000000000000000000000"},
    {"bit 255 alone", "0000000000000000000000000000000000000000000000000000000000000080",
     "0000000000000000000000000000000000000000000000000000000000000000"},
    {"a bit in every limb", "0100000000000800000000004000000000000002000000000010000000000000",
     "0100000000000800000000004000000000000002000000000010000000000000"},
};

TEST_F(FieldElement51Test, EncodingIsCanonicalAtTheEdges) {
    for (const auto& c : kEncodingCases) {
        const auto bytes = fromHex(c.input);
        ASSERT_TRUE(bytes && bytes->size() == 32) << c.name;
        EXPECT_EQ(encodedHex(F::FromBytes(bytes->data())), c.expected) << c.name;
    }
    // p, 2p - 1 and p + 18 as limb vectors that are not carried: the reduction
    // must find the quotient whatever the limbs look like.
    const FieldElement51 p{{kLimb51 - 19, kLimb51 - 1, kLimb51 - 1, kLimb51 - 1, kLimb51 - 1}};
    const FieldElement51 one = F::Set1();
    EXPECT_EQ(encodedHex(p), std::string(64, '0'));
    EXPECT_EQ(encodedHex(F::Add(p, p)), std::string(64, '0'));
    EXPECT_EQ(encodedHex(F::Sub(F::Add(p, p), one)), kEncodingCases[1].expected);
    EXPECT_EQ(encodedHex(F::Add(p, FieldElement51{{18, 0, 0, 0, 0}})),
              "1200000000000000000000000000000000000000000000000000000000000000");
    for (int round = 0; round < 2000; ++round) {
        const FieldElement51 f = randomLimbs(std::uint64_t{1} << 54);
        EXPECT_EQ(encodedHex(f), hex(value(f).get())) << "round " << round;
    }
}

TEST_F(FieldElement51Test, ConversionsKeepTheValue) {
    using FE = FieldElementOperations;
    for (int round = 0; round < 500; ++round) {
        Encoding s{};
        for (auto& byte : s) byte = static_cast<std::uint8_t>(rng_());
        const FieldElement ten = FE::FromBytes(s, 0);
        Encoding expected{};
        FE::ToBytes(expected, ten, 0);

        // Also a FieldElement that is not carried: a sum of three.
        const FieldElement wide = FE::Add(FE::Add(ten, ten), ten);
        Encoding expectedWide{};
        FE::ToBytes(expectedWide, FE::Multiplication(wide, FE::Set1()), 0);

        EXPECT_EQ(encodedHex(F::FromFieldElement(ten)), toHex(expected)) << round;
        EXPECT_EQ(encodedHex(F::FromFieldElement(wide)), toHex(expectedWide)) << round;
        Encoding back{};
        FE::ToBytes(back, F::ToFieldElement(F::FromBytes(s.data())), 0);
        EXPECT_EQ(toHex(back), toHex(expected)) << round;
    }
}

TEST_F(FieldElement51Test, SwapExchangesEveryLimbOrNone) {
    const FieldElement51 f{{1, 2, 3, 4, kLimb51 - 1}};
    const FieldElement51 g{{kLimb51 + 5, 6, 7, 8, 9}};
    FieldElement51 a = f, b = g;
    F::Swap(a, b, 0);
    EXPECT_EQ(a, f);
    EXPECT_EQ(b, g);
    F::Swap(a, b, 1);
    EXPECT_EQ(a, g);
    EXPECT_EQ(b, f);
}

TEST_F(FieldElement51Test, InvertOfZeroIsZero) {
    EXPECT_EQ(encodedHex(F::Invert(FieldElement51{})), std::string(64, '0'));
    const FieldElement51 p{{kLimb51 - 19, kLimb51 - 1, kLimb51 - 1, kLimb51 - 1, kLimb51 - 1}};
    EXPECT_EQ(encodedHex(F::Invert(p)), std::string(64, '0'));
}

}  // namespace
}  // namespace ostrelcomm
