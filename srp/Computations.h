#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "crypto/Digest.h"
#include "platform/Bytes.h"
#include "srp/BigInt.h"
#include "srp/Group.h"

// The arithmetic of SRP-6a shared by the client and the server.
//
// Byte conventions: a number becomes its minimal big-endian bytes; H is the
// digest of the computation's algorithm; "|" joins byte strings; PAD(x) puts
// zero bytes in front of x up to the length of N. N always enters in its
// minimal form; g enters padded in k and minimal (a single byte for the named
// groups) in H(g). Results that derive from the password or a private value
// are marked secret.
namespace ostrelcomm::SRP {

// x = H(s | H(I ":" P)), I and P as UTF-8.
BigInt calculate_x(DigestAlgorithm algorithm, ByteView salt, std::string_view username,
                   std::string_view password);

// v = g^x mod N.
BigInt calculate_v(const Group& group, const BigInt& x);

// k = H(N | PAD(g)).
BigInt calculate_k(const Group& group, DigestAlgorithm algorithm);

// u = H(PAD(A) | PAD(B)). A value longer than N cannot be padded and is
// refused with AuthenticationFailure(invalidPublicKey).
BigInt calculate_u(const Group& group, DigestAlgorithm algorithm, ByteView A, ByteView B);

// M = H((H(N) XOR H(g)) | H(I) | s | A | B | K), A and B as given.
Bytes calculate_M(const Group& group, DigestAlgorithm algorithm, std::string_view username,
                  ByteView salt, ByteView A, ByteView B, ByteView K);

// H(A | M | K): the server's proof.
Bytes calculate_HAMK(DigestAlgorithm algorithm, ByteView A, ByteView M, ByteView K);

// A = g^a mod N.
BigInt calculate_A(const Group& group, const BigInt& a);

// B = (k·v + g^b mod N) mod N.
BigInt calculate_B(const Group& group, const BigInt& k, const BigInt& v, const BigInt& b);

// The client's premaster secret S = (B + N − (k·v mod N))^(a + u·x) mod N,
// with v = g^x mod N and the exponent unreduced.
BigInt calculate_clientS(const Group& group, const BigInt& B, const BigInt& k, const BigInt& x,
                         const BigInt& a, const BigInt& u);

// The server's premaster secret S = ((A · (v^u mod N)) mod N)^b mod N.
BigInt calculate_serverS(const Group& group, const BigInt& A, const BigInt& v, const BigInt& u,
                         const BigInt& b);

// The private value a or b: read from `given`, or from 128 fresh random
// bytes when it is absent (CryptoError if the random source fails). Secret.
BigInt privateValue(std::optional<ByteView> given);

// size − data.size() zero bytes, then data. std::length_error when data is
// longer than size.
Bytes pad(ByteView data, std::size_t size);

// Byte-wise XOR of two strings of one length; absent when the lengths differ.
std::optional<Bytes> xorBytes(ByteView a, ByteView b);

}  // namespace ostrelcomm::SRP
