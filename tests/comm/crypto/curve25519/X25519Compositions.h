#pragma once

// The two X25519 compositions built from the primitives, so that the
// primitives' tests can check them end to end, independently of the key
// classes that perform them in the library.

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>

#include "encoding/Encoding.h"
#include "crypto/curve25519/ClampOperation.h"
#include "crypto/curve25519/FieldElementOperations.h"
#include "crypto/curve25519/GroupElementsOperations.h"
#include "crypto/curve25519/MontgomeryOperations.h"

namespace ostrelcomm::testing25519 {

using Key32 = std::array<std::uint8_t, 32>;

inline Key32 key32(const std::string& hex) {
    const auto bytes = fromHex(hex);
    Key32 k{};
    if (bytes && bytes->size() == 32) {
        std::copy(bytes->begin(), bytes->end(), k.begin());
    }
    return k;
}

inline Key32 randomKey32(std::mt19937_64& rng) {
    Key32 k{};
    for (auto& byte : k) {
        byte = static_cast<std::uint8_t>(rng());
    }
    return k;
}

// X25519(scalar, 9) by the fixed-base multiplication on edwards25519.
inline Key32 publicKeyOf(const Key32& privateKey) {
    using FE = FieldElementOperations;
    Key32 clamped = privateKey;
    ClampOperation::Clamp(clamped, 0);
    const GroupElementP3 p = GroupElementsOperations::ScalarMultiplicationBase(clamped, 0);
    const FieldElement u = FE::Multiplication(FE::Add(p.Z, p.Y), FE::Invert(FE::Sub(p.Z, p.Y)));
    Key32 out{};
    FE::ToBytes(out, u, 0);
    return out;
}

// X25519(scalar, u) by the Montgomery ladder.
inline Key32 sharedPointOf(const Key32& privateKey, const Key32& peer) {
    using FE = FieldElementOperations;
    const FieldElement u1 = FE::FromBytes(peer, 0);
    Key32 out{};
    FE::ToBytes(out, MontgomeryOperations::CalculateLadderStep(privateKey, u1, 0), 0);
    return out;
}

}  // namespace ostrelcomm::testing25519
