#include "crypto/curve25519/AlgorithmService.h"

#include <array>
#include <cstdint>
#include <string>

#include "crypto/Random.h"
#include "crypto/curve25519/ClampOperation.h"
#include "crypto/curve25519/Exceptions.h"
#include "crypto/curve25519/FieldElementOperations.h"
#include "crypto/curve25519/GroupElementsOperations.h"
#include "crypto/curve25519/MontgomeryOperations.h"
#include "crypto/curve25519/Salsa20.h"
#include "crypto/curve25519/SecureWipe.h"

namespace ostrelcomm {

namespace {

constexpr std::size_t kKeySize = 32;

std::string lengthMessage(const char* what) {
    return std::string(what) + " must be " + std::to_string(kKeySize) + " bytes long";
}

}  // namespace

SecretBytes AlgorithmService::GetRandomPrivateKey() {
    SecretBytes key;
    key.resize(kKeySize);
    for (std::size_t i = 0; i < kKeySize; ++i) {
        key.data()[i] = static_cast<std::uint8_t>(randomUInt64() & 0xff);
    }
    ClampOperation::Clamp(std::span<std::uint8_t>(key.data(), key.size()), 0);
    return key;
}

Bytes AlgorithmService::GetPublicKey(ByteView privateKey) {
    using FE = FieldElementOperations;
    if (privateKey.size() != kKeySize) {
        throw Exceptions::ArgumentException(lengthMessage("Secret key"));
    }
    std::array<std::uint8_t, kKeySize> clamped{};
    std::copy(privateKey.begin(), privateKey.end(), clamped.begin());
    ClampOperation::Clamp(clamped, 0);
    const GroupElementP3 p = GroupElementsOperations::ScalarMultiplicationBase(clamped, 0);
    secureWipe(clamped.data(), clamped.size());

    // The birational map to the Montgomery curve: u = (1 + y)/(1 - y).
    const FieldElement zPlusY = FE::Add(p.Z, p.Y);
    const FieldElement zMinusY = FE::Sub(p.Z, p.Y);
    const FieldElement u = FE::Multiplication(zPlusY, FE::Invert(zMinusY));
    Bytes publicKey(kKeySize);
    FE::ToBytes(publicKey, u, 0);
    return publicKey;
}

SecretBytes AlgorithmService::GetSharedSecretKey(ByteView peerPublicKey, ByteView privateKey) {
    using FE = FieldElementOperations;
    if (peerPublicKey.size() != kKeySize) {
        throw Exceptions::ArgumentException(lengthMessage("Public key"));
    }
    if (privateKey.size() != kKeySize) {
        throw Exceptions::ArgumentException(lengthMessage("Secret key"));
    }
    const FieldElement u1 = FE::FromBytes(peerPublicKey, 0);
    const FieldElement r = MontgomeryOperations::CalculateLadderStep(privateKey, u1, 0);
    std::array<std::uint8_t, kKeySize> sharedPoint{};
    FE::ToBytes(sharedPoint, r, 0);

    std::array<std::uint8_t, kKeySize> sharedKey = Salsa20::HSalsa20(sharedPoint);
    SecretBytes result{ByteView(sharedKey)};
    secureWipe(sharedPoint.data(), sharedPoint.size());
    secureWipe(sharedKey.data(), sharedKey.size());
    return result;
}

}  // namespace ostrelcomm
