#include "srp/SaltedVerificationKey.h"

#include "crypto/Random.h"
#include "srp/Computations.h"

namespace ostrelcomm::SRP {

namespace {

constexpr std::size_t kSaltBytes = 16;

Bytes saltOrFresh(std::optional<ByteView> salt) {
    if (salt) return Bytes(salt->begin(), salt->end());
    return randomBytes(kSaltBytes);
}

}  // namespace

SaltedVerificationKey createSaltedVerificationKey(std::string_view username, std::string_view password,
                                                  std::optional<ByteView> salt, const Group& group,
                                                  DigestAlgorithm algorithm) {
    Bytes s = saltOrFresh(salt);
    BigInt x = calculate_x(algorithm, s, username, password);
    return {s, calculate_v(group, x).bytes()};
}

SaltedVerificationKey createSaltedVerificationKey(ByteView x, std::optional<ByteView> salt,
                                                  const Group& group) {
    return {saltOrFresh(salt), calculate_v(group, BigInt::fromSecretBytes(x)).bytes()};
}

}  // namespace ostrelcomm::SRP
