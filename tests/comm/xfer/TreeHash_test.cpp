#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <string>
#include <vector>

#include "encoding/Encoding.h"
#include "xfer/TreeHash.h"

using namespace ostrelcomm;

namespace {

// SHA-256 straight from OpenSSL, so that the expected values owe nothing to
// the library's own digest.
Bytes H(const Bytes& bytes) {
    Bytes md(SHA256_DIGEST_LENGTH);
    SHA256(bytes.data(), bytes.size(), md.data());
    return md;
}

Bytes operator+(Bytes left, const Bytes& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// A 32-byte leaf as a transfer makes them: the digest of one block.
Bytes leaf(char name) { return H(Bytes(1000, static_cast<std::uint8_t>(name))); }

}  // namespace

// Each expected value is written out as the shape of its tree: pairs joined
// left then right, an odd node carried up unchanged, one leaf its own hash.
TEST(TreeHash, BuildsTheTreeOfStoredFiles) {
    const Bytes A = leaf('A'), B = leaf('B'), C = leaf('C'), D = leaf('D'), E = leaf('E');
    const Bytes seven = toBytes("7 bytes");
    const Bytes shortLeaf = toBytes("abc");
    const Bytes longLeaf(40, 0x5a);
    struct Row {
        const char* name;
        std::vector<Bytes> leaves;
        Bytes expected;
    };
    const std::vector<Row> rows = {
        {"no leaf", {}, H({})},
        {"one short leaf, as it is", {seven}, seven},
        {"one digest, as it is", {A}, A},
        {"A,B", {A, B}, H(A + B)},
        {"B,A", {B, A}, H(B + A)},
        {"A,B,C", {A, B, C}, H(H(A + B) + C)},
        {"A,B,C,D", {A, B, C, D}, H(H(A + B) + H(C + D))},
        {"A..E", {A, B, C, D, E}, H(H(H(A + B) + H(C + D)) + E)},
        {"unequal lengths", {shortLeaf, longLeaf}, H(shortLeaf + longLeaf)},
        {"unequal lengths swapped", {longLeaf, shortLeaf}, H(longLeaf + shortLeaf)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(toHex(TreeHash::compute(row.leaves)), toHex(row.expected));
    }

    EXPECT_EQ(toHex(TreeHash::compute({})), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_NE(TreeHash::compute({A, B}), TreeHash::compute({B, A}));
}
