#include "crypto/curve25519/FieldElementOperations.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "encoding/Encoding.h"
#include "crypto/curve25519/Exceptions.h"

// The field arithmetic against OpenSSL's big integers as the oracle: every
// result is compared as a value mod p, through its canonical encoding.
namespace ostrelcomm {
namespace {

using FE = FieldElementOperations;
using Encoding = std::array<std::uint8_t, 32>;

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

class Oracle {
public:
    Oracle() : ctx_(BN_CTX_new()), p_(BN_new()) {
        BN_set_bit(p_.get(), 255);
        BN_sub_word(p_.get(), 19);
    }
    ~Oracle() { BN_CTX_free(ctx_); }

    // The value of the 256-bit little-endian number (bit 255 included).
    Bn fromBytes(const Encoding& s) const { return Bn(BN_lebin2bn(s.data(), 32, nullptr)); }

    // Σ Xi·2^(ceil(25.5 i)) for signed limbs, reduced mod p.
    Bn value(const FieldElement& f) const {
        const std::int64_t limbs[10] = {f.X0, f.X1, f.X2, f.X3, f.X4, f.X5, f.X6, f.X7, f.X8, f.X9};
        const int weights[10] = {0, 26, 51, 77, 102, 128, 153, 179, 204, 230};
        Bn sum(BN_new());
        for (int i = 0; i < 10; ++i) {
            Bn term(BN_new());
            const std::uint64_t magnitude = limbs[i] < 0 ? 0 - static_cast<std::uint64_t>(limbs[i])
                                                         : static_cast<std::uint64_t>(limbs[i]);
            BN_set_word(term.get(), magnitude);
            BN_lshift(term.get(), term.get(), weights[i]);
            BN_set_negative(term.get(), limbs[i] < 0);
            BN_add(sum.get(), sum.get(), term.get());
        }
        return mod(sum.get());
    }

    Bn mod(const BIGNUM* a) const {
        Bn r(BN_new());
        BN_nnmod(r.get(), a, p_.get(), ctx_);
        return r;
    }
    Bn mul(const BIGNUM* a, const BIGNUM* b) const {
        Bn r(BN_new());
        BN_mod_mul(r.get(), a, b, p_.get(), ctx_);
        return r;
    }
    Bn add(const BIGNUM* a, const BIGNUM* b) const {
        Bn r(BN_new());
        BN_mod_add(r.get(), a, b, p_.get(), ctx_);
        return r;
    }
    Bn sub(const BIGNUM* a, const BIGNUM* b) const {
        Bn r(BN_new());
        BN_mod_sub(r.get(), a, b, p_.get(), ctx_);
        return r;
    }
    Bn word(std::uint64_t w) const {
        Bn r(BN_new());
        BN_set_word(r.get(), w);
        return r;
    }
    Bn inverse(const BIGNUM* a) const {
        Bn r(BN_new());
        if (BN_is_zero(a)) {
            return r;
        }
        BN_mod_inverse(r.get(), a, p_.get(), ctx_);
        return r;
    }

    static std::string hex(const BIGNUM* a) {
        Encoding s{};
        BN_bn2lebinpad(a, s.data(), 32);
        return toHex(s);
    }

private:
    BN_CTX* ctx_;
    Bn p_;
};

std::string encodedHex(const FieldElement& f) {
    Encoding s{};
    FE::ToBytes(s, f, 0);
    return toHex(s);
}

Encoding fromHexEncoding(const std::string& hex) {
    const auto bytes = fromHex(hex);
    Encoding s{};
    std::copy(bytes->begin(), bytes->end(), s.begin());
    return s;
}

class FieldElementOperationsTest : public ::testing::Test {
protected:
    Encoding randomEncoding() {
        Encoding s{};
        for (auto& byte : s) {
            byte = static_cast<std::uint8_t>(rng_());
        }
        return s;
    }
    // A carried element of a random value (bit 255 set half the time).
    FieldElement randomElement() { return FE::FromBytes(randomEncoding(), 0); }

    // Limbs anywhere in the carried ranges, signs included: the inputs ToBytes
    // and the products must handle, not only those FromBytes happens to make.
    FieldElement randomLimbs() {
        std::int64_t l[10];
        for (int i = 0; i < 10; ++i) {
            const std::int64_t half = i % 2 == 0 ? (std::int64_t{1} << 25) : (std::int64_t{1} << 24);
            l[i] = std::uniform_int_distribution<std::int64_t>(-half, half)(rng_);
        }
        return FieldElement(l[0], l[1], l[2], l[3], l[4], l[5], l[6], l[7], l[8], l[9]);
    }

    Oracle oracle_;
    std::mt19937_64 rng_{0x25519};
};

TEST_F(FieldElementOperationsTest, ArithmeticAgreesWithBigIntegers) {
    for (int round = 0; round < 500; ++round) {
        const FieldElement f = round % 2 == 0 ? randomElement() : randomLimbs();
        const FieldElement g = round % 3 == 0 ? randomElement() : randomLimbs();
        const Bn vf = oracle_.value(f);
        const Bn vg = oracle_.value(g);
        const std::string where = "round " + std::to_string(round);

        EXPECT_EQ(encodedHex(f), Oracle::hex(vf.get())) << where;
        EXPECT_EQ(encodedHex(FE::Add(f, g)), Oracle::hex(oracle_.add(vf.get(), vg.get()).get())) << where;
        EXPECT_EQ(encodedHex(FE::Sub(f, g)), Oracle::hex(oracle_.sub(vf.get(), vg.get()).get())) << where;
        EXPECT_EQ(encodedHex(FE::Negate(f)),
                  Oracle::hex(oracle_.sub(oracle_.word(0).get(), vf.get()).get())) << where;
        EXPECT_EQ(encodedHex(FE::Multiplication(f, g)),
                  Oracle::hex(oracle_.mul(vf.get(), vg.get()).get())) << where;
        const Bn square = oracle_.mul(vf.get(), vf.get());
        EXPECT_EQ(encodedHex(FE::Squared(f)), Oracle::hex(square.get())) << where;
        EXPECT_EQ(encodedHex(FE::DoubleSquare(f)),
                  Oracle::hex(oracle_.add(square.get(), square.get()).get())) << where;
        EXPECT_EQ(encodedHex(FE::Multiply121666(f)),
                  Oracle::hex(oracle_.mul(vf.get(), oracle_.word(121666).get()).get())) << where;
        EXPECT_EQ(encodedHex(FE::Invert(f)), Oracle::hex(oracle_.inverse(vf.get()).get())) << where;
    }
}

// The Edwards formulas hand the products sums and differences of up to three
// carried elements; the schoolbook sums must not overflow for those.
TEST_F(FieldElementOperationsTest, ProductsAcceptSumsOfThreeCarriedElements) {
    const std::int64_t even = std::int64_t{1} << 25;
    const std::int64_t odd = std::int64_t{1} << 24;
    const FieldElement top(even, odd, even, odd, even, odd, even, odd, even, odd);
    const FieldElement bottom = FE::Negate(top);
    for (int round = 0; round < 300; ++round) {
        const FieldElement a = round == 0 ? top : randomLimbs();
        const FieldElement b = round == 0 ? top : randomLimbs();
        const FieldElement c = round == 0 ? top : randomLimbs();
        const FieldElement wide1 = FE::Add(FE::Add(a, b), c);
        const FieldElement wide2 = round == 0 ? FE::Add(FE::Add(bottom, bottom), bottom)
                                              : FE::Sub(FE::Sub(c, a), b);
        const Bn v1 = oracle_.value(wide1);
        const Bn v2 = oracle_.value(wide2);
        const std::string where = "round " + std::to_string(round);

        const FieldElement product = FE::Multiplication(wide1, wide2);
        EXPECT_EQ(encodedHex(product), Oracle::hex(oracle_.mul(v1.get(), v2.get()).get())) << where;
        const Bn square = oracle_.mul(v2.get(), v2.get());
        EXPECT_EQ(encodedHex(FE::Squared(wide2)), Oracle::hex(square.get())) << where;
        EXPECT_EQ(encodedHex(FE::DoubleSquare(wide2)),
                  Oracle::hex(oracle_.add(square.get(), square.get()).get())) << where;
        // And the result is carried again, ready for the next product.
        const std::int64_t limbs[10] = {product.X0, product.X1, product.X2, product.X3, product.X4,
                                        product.X5, product.X6, product.X7, product.X8, product.X9};
        for (int i = 0; i < 10; ++i) {
            const std::int64_t bound = i % 2 == 0 ? even : odd;
            EXPECT_LE(std::abs(limbs[i]), bound + (std::int64_t{1} << 12)) << where << " limb " << i;
        }
    }
}

struct EncodingCase {
    const char* name;
    const char* input;     // 32 bytes little-endian, as hex
    const char* expected;  // canonical encoding of the value mod p
};

// p = 2^255 - 19 is ed ff … ff 7f little-endian.
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
    {"bit 255 of p-1", "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
     "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"},
    {"2^256-1", "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
     "1200000000000000000000000000000000000000000000000000000000000000"},
    {"bit 255 alone", "0000000000000000000000000000000000000000000000000000000000000080",
     "0000000000000000000000000000000000000000000000000000000000000000"},
    {"p-2", "ebffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
     "ebffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"},
};

TEST_F(FieldElementOperationsTest, EncodingIsCanonicalAtTheEdges) {
    for (const auto& c : kEncodingCases) {
        EXPECT_EQ(encodedHex(FE::FromBytes(fromHexEncoding(c.input), 0)), c.expected) << c.name;
    }
}

// Limb vectors whose value is 0, p or p - 1 (and their neighbours) in many
// disguises: Reduce must find the quotient whatever the limbs look like.
TEST_F(FieldElementOperationsTest, ToBytesOfDisguisedValuesNearMultiplesOfP) {
    // p in limbs: 2^26 - 19, then 2^25 - 1, 2^26 - 1, … as the top of each limb.
    const FieldElement p(67108845, 33554431, 67108863, 33554431, 67108863, 33554431, 67108863,
                         33554431, 67108863, 33554431);
    const FieldElement one = FE::Set1();
    EXPECT_EQ(encodedHex(p), std::string(64, '0'));
    EXPECT_EQ(encodedHex(FE::Sub(p, one)), kEncodingCases[1].expected);
    EXPECT_EQ(encodedHex(FE::Add(p, one)), kEncodingCases[3].expected);
    EXPECT_EQ(encodedHex(FE::Negate(p)), std::string(64, '0'));
    EXPECT_EQ(encodedHex(FE::Negate(one)), kEncodingCases[1].expected);
    // 2p - 1 and -p + 1, still within carried limb ranges after a product.
    EXPECT_EQ(encodedHex(FE::Multiplication(FE::Sub(p, one), FE::Negate(one))),
              "0100000000000000000000000000000000000000000000000000000000000000");

    for (int round = 0; round < 2000; ++round) {
        const FieldElement f = randomLimbs();
        EXPECT_EQ(encodedHex(f), Oracle::hex(oracle_.value(f).get())) << "round " << round;
    }
}

TEST_F(FieldElementOperationsTest, CanonicalEncodingsRoundTrip) {
    for (int round = 0; round < 500; ++round) {
        Encoding s = randomEncoding();
        s[31] &= 0x7f;
        if (round == 0) {
            s = fromHexEncoding(kEncodingCases[1].input);  // p - 1, the largest canonical
        }
        const Bn value = oracle_.fromBytes(s);
        if (BN_cmp(value.get(), oracle_.mod(value.get()).get()) != 0) {
            continue;  // one of the 19 non-canonical values
        }
        Encoding out{};
        FE::ToBytes(out, FE::FromBytes(s, 0), 0);
        EXPECT_EQ(toHex(out), toHex(s));
    }
}

TEST_F(FieldElementOperationsTest, OffsetsAddressTheBytesWithin) {
    std::vector<std::uint8_t> data(40, 0xee);
    const Encoding p1 = fromHexEncoding(kEncodingCases[3].input);
    std::copy(p1.begin(), p1.end(), data.begin() + 8);
    const FieldElement f = FE::FromBytes(data, 8);
    EXPECT_EQ(encodedHex(f), kEncodingCases[3].expected);

    std::vector<std::uint8_t> out(40, 0xaa);
    FE::ToBytes(out, f, 5);
    EXPECT_EQ(toHex(ByteView(out).subspan(0, 5)), "aaaaaaaaaa");
    EXPECT_EQ(toHex(ByteView(out).subspan(5, 32)), kEncodingCases[3].expected);
    EXPECT_EQ(toHex(ByteView(out).subspan(37)), "aaaaaa");

    // Too short for 32 bytes at the offset: refused, nothing read or written.
    EXPECT_THROW(FE::FromBytes(data, 9), Exceptions);
    EXPECT_THROW(FE::FromBytes(ByteView(data).subspan(0, 31), 0), Exceptions);
    EXPECT_THROW(FE::ToBytes(out, f, 9), Exceptions);
    EXPECT_EQ(toHex(ByteView(out).subspan(37)), "aaaaaa");
}

TEST_F(FieldElementOperationsTest, InvertOfZeroIsZeroAndOtherwiseTheInverse) {
    EXPECT_EQ(encodedHex(FE::Invert(FieldElement())), std::string(64, '0'));
    // p itself is zero in disguise.
    EXPECT_EQ(encodedHex(FE::Invert(FE::FromBytes(fromHexEncoding(kEncodingCases[2].input), 0))),
              std::string(64, '0'));
    for (int round = 0; round < 100; ++round) {
        const FieldElement z = randomElement();
        EXPECT_EQ(encodedHex(FE::Multiplication(z, FE::Invert(z))),
                  "0100000000000000000000000000000000000000000000000000000000000000");
    }
}

TEST_F(FieldElementOperationsTest, Multiply121666MatchesMultiplicationByTheConstant) {
    const FieldElement constant(121666, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    for (int round = 0; round < 100; ++round) {
        const FieldElement f = FE::Sub(randomLimbs(), randomLimbs());
        EXPECT_EQ(encodedHex(FE::Multiply121666(f)), encodedHex(FE::Multiplication(f, constant)));
    }
}

TEST_F(FieldElementOperationsTest, SwapAndMoveExchangeEveryLimbOrNone) {
    const FieldElement f(1, -2, 3, -4, 5, -6, 7, -8, 9, -(std::int64_t{1} << 25));
    const FieldElement g(-11, 12, -13, 14, -15, 16, -17, 18, -19, std::int64_t{1} << 24);

    FieldElement a = f, b = g;
    FE::Swap(a, b, 0);
    EXPECT_EQ(a, f);
    EXPECT_EQ(b, g);
    FE::Swap(a, b, 1);
    EXPECT_EQ(a, g);
    EXPECT_EQ(b, f);

    FieldElement m = f;
    FE::Mov(m, g, 0);
    EXPECT_EQ(m, f);
    FE::Mov(m, g, 1);
    EXPECT_EQ(m, g);
}

TEST(FieldElementTest, ElementsArrayMustHoldTenValues) {
    const std::vector<std::int64_t> ten{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const FieldElement f(ten);
    EXPECT_EQ(f, FieldElement(0, 1, 2, 3, 4, 5, 6, 7, 8, 9));

    for (std::size_t count : {0u, 9u, 11u}) {
        const std::vector<std::int64_t> values(count, 1);
        try {
            FieldElement{std::span<const std::int64_t>(values)};
            ADD_FAILURE() << count << " elements accepted";
        } catch (const Exceptions& e) {
            EXPECT_EQ(e.errorCase(), Exceptions::Case::ArgumentException);
            EXPECT_EQ(e.message(), "elements array must have 10 elements");
        }
    }
}

}  // namespace
}  // namespace ostrelcomm
