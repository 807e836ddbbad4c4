#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "crypto/SecretBytes.h"
#include "platform/Bytes.h"

typedef struct bignum_st BIGNUM;

namespace ostrelcomm {

// An operation on big integers that cannot be carried out: a modulus of zero,
// a subtraction that would go below zero, a secret exponent with an even
// modulus, or the allocator giving up.
class BigIntError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An arbitrary-precision unsigned integer over OpenSSL's BIGNUM.
//
// A value can be marked secret (private exponents, password-derived x, the
// premaster secret): a secret value is cleared when it is released, and an
// exponentiation with a secret base or exponent takes OpenSSL's constant-time
// Montgomery ladder, so its running time does not follow the secret's bits.
// Values are never negative. A moved-from value may only be destroyed or
// assigned to.
class BigInt {
public:
    BigInt();  // zero
    explicit BigInt(std::uint64_t value);
    ~BigInt();
    BigInt(const BigInt& other);
    BigInt(BigInt&& other) noexcept;
    BigInt& operator=(const BigInt& other);
    BigInt& operator=(BigInt&& other) noexcept;

    // Big-endian bytes; leading zero bytes are allowed and an empty view is 0.
    static BigInt fromBytes(ByteView bigEndian);
    // As fromBytes, marked secret.
    static BigInt fromSecretBytes(ByteView bigEndian);
    // Hexadecimal digits of either case, at least one, nothing else (no sign,
    // no prefix, no spaces). Absent otherwise.
    static std::optional<BigInt> fromHex(std::string_view hex);

    // Minimal big-endian form: no leading zero bytes; zero gives no bytes.
    Bytes bytes() const;
    SecretBytes secretBytes() const;
    std::size_t byteLength() const;
    std::size_t bitLength() const;
    bool isZero() const;
    bool isOdd() const;

    bool isSecret() const;
    BigInt& markSecret();

    friend BigInt operator+(const BigInt& a, const BigInt& b);
    // Throws BigIntError when b > a.
    friend BigInt operator-(const BigInt& a, const BigInt& b);
    friend BigInt operator*(const BigInt& a, const BigInt& b);
    // Throws BigIntError for a zero modulus.
    friend BigInt operator%(const BigInt& a, const BigInt& m);
    friend bool operator==(const BigInt& a, const BigInt& b);
    friend std::strong_ordering operator<=>(const BigInt& a, const BigInt& b);

    // this^exponent mod modulus. Constant-time in the exponent when either
    // operand is secret; that path needs an odd modulus (BigIntError
    // otherwise), which every prime group has. The result is not marked.
    BigInt power(const BigInt& exponent, const BigInt& modulus) const;

    const BIGNUM* get() const { return bn_; }

private:
    explicit BigInt(BIGNUM* adopted) : bn_(adopted) {}
    BIGNUM* bn_;
};

}  // namespace ostrelcomm
