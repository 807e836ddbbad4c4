#include "crypto/curve25519/GroupElementsOperations.h"

#include <array>

#include "crypto/curve25519/EdwardsArithmetic.h"
#include "crypto/curve25519/Exceptions.h"
#include "crypto/curve25519/FieldElementOperations.h"
#include "crypto/curve25519/LookupTables.h"
#include "crypto/curve25519/SecureWipe.h"

namespace ostrelcomm {

namespace {

using FE = FieldElementOperations;

// 1 when a == b, else 0, for a and b in [0, 255]; no comparison instruction
// whose outcome a branch could pick up.
int equalFlag(std::uint32_t a, std::uint32_t b) {
    return static_cast<int>(((a ^ b) - 1) >> 31);
}

// 1 when b < 0, else 0.
int negativeFlag(std::int8_t b) {
    return static_cast<int>(static_cast<std::uint64_t>(static_cast<std::int64_t>(b)) >> 63);
}

void move(GroupElementP4& t, const GroupElementP4& u, int flag) {
    FE::Mov(t.YplusX, u.YplusX, flag);
    FE::Mov(t.YminusX, u.YminusX, flag);
    FE::Mov(t.XY2D, u.XY2D, flag);
}

}  // namespace

GroupElementP4 GroupElementsOperations::Select(int row, std::int8_t b) {
    const auto& entries = LookupTables::shared().Base[static_cast<std::size_t>(row)];
    const int bneg = negativeFlag(b);
    // |b| without a branch: subtract 2b when b is negative.
    const int babs = b - ((-bneg & b) * 2);

    GroupElementP4 t{FE::Set1(), FE::Set1(), FieldElement()};
    for (int j = 1; j <= 8; ++j) {
        move(t, entries[static_cast<std::size_t>(j - 1)],
             equalFlag(static_cast<std::uint32_t>(babs), static_cast<std::uint32_t>(j)));
    }
    // -(x, y) = (-x, y): y + x and y - x trade places, 2dxy changes sign.
    const GroupElementP4 minus{t.YminusX, t.YplusX, FE::Negate(t.XY2D)};
    move(t, minus, bneg);
    return t;
}

GroupElementP3 GroupElementsOperations::ScalarMultiplicationBase(ByteView a, std::size_t offset) {
    if (a.size() < 32 || offset > a.size() - 32) {
        throw Exceptions::ArgumentException("scalar needs 32 bytes at the offset");
    }
    // 64 radix-16 digits, least significant first, recentred into [-8, 8] so
    // that each one is a table entry or its negative. Digit 0 is left alone:
    // clamping makes it 0 or 8.
    std::array<std::int8_t, 64> e{};
    for (std::size_t i = 0; i < 32; ++i) {
        e[2 * i] = static_cast<std::int8_t>(a[offset + i] & 15);
        e[2 * i + 1] = static_cast<std::int8_t>(a[offset + i] >> 4);
    }
    std::int8_t carry = 0;
    for (std::size_t i = 1; i < 63; ++i) {
        e[i] = static_cast<std::int8_t>(e[i] + carry);
        carry = static_cast<std::int8_t>((e[i] + 8) >> 4);
        e[i] = static_cast<std::int8_t>(e[i] - carry * 16);
    }
    e[63] = static_cast<std::int8_t>(e[63] + carry);

    // Odd digits first, the sum times 16, then the even digits: row i / 2
    // holds the multiples of 256^(i/2) = 16^i / 16^(i mod 2).
    GroupElementP3 h = edwards::identity();
    for (int i = 1; i < 64; i += 2) {
        h = edwards::toExtended(edwards::addMixed(h, Select(i / 2, e[static_cast<std::size_t>(i)])));
    }
    edwards::Projective q{h.X, h.Y, h.Z};
    q = edwards::toProjective(edwards::doubled(q.X, q.Y, q.Z));
    q = edwards::toProjective(edwards::doubled(q.X, q.Y, q.Z));
    q = edwards::toProjective(edwards::doubled(q.X, q.Y, q.Z));
    h = edwards::toExtended(edwards::doubled(q.X, q.Y, q.Z));
    for (int i = 0; i < 64; i += 2) {
        h = edwards::toExtended(edwards::addMixed(h, Select(i / 2, e[static_cast<std::size_t>(i)])));
    }

    secureWipe(e.data(), e.size());
    secureWipe(&carry, sizeof carry);
    return h;
}

}  // namespace ostrelcomm
