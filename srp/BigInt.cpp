#include "srp/BigInt.h"

#include <openssl/bn.h>

#include <memory>
#include <new>

namespace ostrelcomm {

namespace {

struct CtxFree {
    void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<BN_CTX, CtxFree>;

CtxPtr newCtx() {
    CtxPtr ctx(BN_CTX_new());
    if (!ctx) throw std::bad_alloc();
    return ctx;
}

BIGNUM* newBn() {
    BIGNUM* bn = BN_new();
    if (bn == nullptr) throw std::bad_alloc();
    return bn;
}

void check(int ok, const char* what) {
    if (ok != 1) throw BigIntError(what);
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

BigInt::BigInt() : bn_(newBn()) {}

BigInt::BigInt(std::uint64_t value) : bn_(newBn()) {
    check(BN_set_word(bn_, value), "big integer cannot be set");
}

BigInt::~BigInt() { BN_clear_free(bn_); }

BigInt::BigInt(const BigInt& other) : bn_(newBn()) {
    if (BN_copy(bn_, other.bn_) == nullptr) {
        BN_clear_free(bn_);
        throw std::bad_alloc();
    }
    if (other.isSecret()) markSecret();
}

BigInt::BigInt(BigInt&& other) noexcept : bn_(other.bn_) { other.bn_ = nullptr; }

BigInt& BigInt::operator=(const BigInt& other) {
    if (this != &other) *this = BigInt(other);
    return *this;
}

BigInt& BigInt::operator=(BigInt&& other) noexcept {
    if (this != &other) {
        BN_clear_free(bn_);
        bn_ = other.bn_;
        other.bn_ = nullptr;
    }
    return *this;
}

BigInt BigInt::fromBytes(ByteView bigEndian) {
    BigInt result;
    if (BN_bin2bn(bigEndian.data(), static_cast<int>(bigEndian.size()), result.bn_) == nullptr)
        throw std::bad_alloc();
    return result;
}

BigInt BigInt::fromSecretBytes(ByteView bigEndian) {
    // Flagged before the bytes go in, so the digits are cleared on release.
    BigInt result;
    result.markSecret();
    if (BN_bin2bn(bigEndian.data(), static_cast<int>(bigEndian.size()), result.bn_) == nullptr)
        throw std::bad_alloc();
    return result;
}

std::optional<BigInt> BigInt::fromHex(std::string_view hex) {
    // BN_hex2bn takes a sign and stops at the first non-digit; only plain
    // digits are a number here.
    if (hex.empty() || hex.size() > (1u << 24)) return std::nullopt;
    for (char c : hex)
        if (!isHexDigit(c)) return std::nullopt;
    std::string text(hex);
    BIGNUM* bn = nullptr;
    if (BN_hex2bn(&bn, text.c_str()) != static_cast<int>(text.size())) {
        BN_free(bn);
        return std::nullopt;
    }
    return BigInt(bn);
}

Bytes BigInt::bytes() const {
    Bytes out(byteLength());
    BN_bn2bin(bn_, out.data());
    return out;
}

SecretBytes BigInt::secretBytes() const {
    SecretBytes out;
    out.resize(byteLength());
    BN_bn2bin(bn_, out.data());
    return out;
}

std::size_t BigInt::byteLength() const { return static_cast<std::size_t>(BN_num_bytes(bn_)); }
std::size_t BigInt::bitLength() const { return static_cast<std::size_t>(BN_num_bits(bn_)); }
bool BigInt::isZero() const { return BN_is_zero(bn_) == 1; }
bool BigInt::isOdd() const { return BN_is_odd(bn_) == 1; }

bool BigInt::isSecret() const { return BN_get_flags(bn_, BN_FLG_CONSTTIME) != 0; }

BigInt& BigInt::markSecret() {
    BN_set_flags(bn_, BN_FLG_CONSTTIME);
    return *this;
}

BigInt operator+(const BigInt& a, const BigInt& b) {
    BigInt r;
    check(BN_add(r.bn_, a.bn_, b.bn_), "big integer addition failed");
    return r;
}

BigInt operator-(const BigInt& a, const BigInt& b) {
    if (BN_cmp(a.bn_, b.bn_) < 0) throw BigIntError("big integer subtraction below zero");
    BigInt r;
    check(BN_sub(r.bn_, a.bn_, b.bn_), "big integer subtraction failed");
    return r;
}

BigInt operator*(const BigInt& a, const BigInt& b) {
    BigInt r;
    auto ctx = newCtx();
    check(BN_mul(r.bn_, a.bn_, b.bn_, ctx.get()), "big integer multiplication failed");
    return r;
}

BigInt operator%(const BigInt& a, const BigInt& m) {
    if (m.isZero()) throw BigIntError("big integer modulus is zero");
    BigInt r;
    auto ctx = newCtx();
    check(BN_nnmod(r.bn_, a.bn_, m.bn_, ctx.get()), "big integer reduction failed");
    return r;
}

bool operator==(const BigInt& a, const BigInt& b) { return BN_cmp(a.bn_, b.bn_) == 0; }

std::strong_ordering operator<=>(const BigInt& a, const BigInt& b) {
    int c = BN_cmp(a.bn_, b.bn_);
    return c < 0 ? std::strong_ordering::less
                 : (c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
}

BigInt BigInt::power(const BigInt& exponent, const BigInt& modulus) const {
    if (modulus.isZero()) throw BigIntError("big integer modulus is zero");
    BigInt r;
    auto ctx = newCtx();
    if (isSecret() || exponent.isSecret()) {
        if (!modulus.isOdd()) throw BigIntError("constant-time exponentiation needs an odd modulus");
        // The ladder wants its base below the modulus.
        const BIGNUM* base = bn_;
        BigInt reduced;
        if (BN_ucmp(bn_, modulus.bn_) >= 0) {
            if (isSecret()) reduced.markSecret();
            check(BN_nnmod(reduced.bn_, bn_, modulus.bn_, ctx.get()), "big integer reduction failed");
            base = reduced.bn_;
        }
        check(BN_mod_exp_mont_consttime(r.bn_, base, exponent.bn_, modulus.bn_, ctx.get(), nullptr),
              "big integer exponentiation failed");
    } else {
        check(BN_mod_exp(r.bn_, bn_, exponent.bn_, modulus.bn_, ctx.get()),
              "big integer exponentiation failed");
    }
    return r;
}

}  // namespace ostrelcomm
