#include "srp/Computations.h"

#include <stdexcept>

#include "crypto/Random.h"
#include "crypto/SecretBytes.h"
#include "srp/AuthenticationFailure.h"

namespace ostrelcomm::SRP {

BigInt calculate_x(DigestAlgorithm algorithm, ByteView salt, std::string_view username,
                   std::string_view password) {
    // Both digests depend on the password alone among secrets; they are held
    // in wiped buffers and x itself is secret.
    SecretBytes inner(
        Digest(algorithm).update(asBytes(username)).update(asBytes(":")).update(asBytes(password)).final());
    SecretBytes outer(Digest(algorithm).update(salt).update(inner).final());
    return BigInt::fromSecretBytes(outer);
}

BigInt calculate_v(const Group& group, const BigInt& x) {
    BigInt secretX = x;
    secretX.markSecret();
    return group.g().power(secretX, group.N());
}

BigInt calculate_k(const Group& group, DigestAlgorithm algorithm) {
    return BigInt::fromBytes(
        Digest(algorithm).update(group.NBytes()).update(pad(group.gBytes(), group.size())).final());
}

BigInt calculate_u(const Group& group, DigestAlgorithm algorithm, ByteView A, ByteView B) {
    if (A.size() > group.size() || B.size() > group.size())
        throw AuthenticationFailure(AuthenticationFailure::Case::invalidPublicKey);
    return BigInt::fromBytes(
        Digest(algorithm).update(pad(A, group.size())).update(pad(B, group.size())).final());
}

Bytes calculate_M(const Group& group, DigestAlgorithm algorithm, std::string_view username,
                  ByteView salt, ByteView A, ByteView B, ByteView K) {
    // Both digests come from one algorithm, so their lengths agree.
    Bytes hNxorHg = *xorBytes(Digest::compute(algorithm, group.NBytes()),
                              Digest::compute(algorithm, group.gBytes()));
    return Digest(algorithm)
        .update(hNxorHg)
        .update(Digest::compute(algorithm, asBytes(username)))
        .update(salt)
        .update(A)
        .update(B)
        .update(K)
        .final();
}

Bytes calculate_HAMK(DigestAlgorithm algorithm, ByteView A, ByteView M, ByteView K) {
    return Digest(algorithm).update(A).update(M).update(K).final();
}

BigInt calculate_A(const Group& group, const BigInt& a) {
    BigInt secretA = a;
    secretA.markSecret();
    return group.g().power(secretA, group.N());
}

BigInt calculate_B(const Group& group, const BigInt& k, const BigInt& v, const BigInt& b) {
    BigInt secretB = b;
    secretB.markSecret();
    return (k * v + group.g().power(secretB, group.N())) % group.N();
}

BigInt calculate_clientS(const Group& group, const BigInt& B, const BigInt& k, const BigInt& x,
                         const BigInt& a, const BigInt& u) {
    const BigInt& N = group.N();
    BigInt kv = (k * calculate_v(group, x)) % N;
    kv.markSecret();
    BigInt base = B + N - kv;
    BigInt exponent = a + u * x;
    exponent.markSecret();
    BigInt S = base.power(exponent, N);
    return S.markSecret();
}

BigInt calculate_serverS(const Group& group, const BigInt& A, const BigInt& v, const BigInt& u,
                         const BigInt& b) {
    const BigInt& N = group.N();
    BigInt base = (A * v.power(u, N)) % N;
    base.markSecret();
    BigInt secretB = b;
    secretB.markSecret();
    BigInt S = base.power(secretB, N);
    return S.markSecret();
}

BigInt privateValue(std::optional<ByteView> given) {
    if (given) return BigInt::fromSecretBytes(*given);
    SecretBytes drawn(randomBytes(128));
    return BigInt::fromSecretBytes(drawn);
}

Bytes pad(ByteView data, std::size_t size) {
    if (data.size() > size) throw std::length_error("data is longer than the padded length");
    Bytes out(size - data.size(), 0);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::optional<Bytes> xorBytes(ByteView a, ByteView b) {
    if (a.size() != b.size()) return std::nullopt;
    Bytes out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = a[i] ^ b[i];
    return out;
}

}  // namespace ostrelcomm::SRP
