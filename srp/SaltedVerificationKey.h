#pragma once

#include <optional>
#include <string_view>

#include "crypto/Digest.h"
#include "platform/Bytes.h"
#include "srp/Group.h"

namespace ostrelcomm::SRP {

// What the server stores for a user: the salt and the verifier v = g^x mod N.
struct SaltedVerificationKey {
    Bytes salt;
    Bytes verificationKey;
};

// x = H(s | H(I ":" P)). Without a salt, 16 fresh random bytes are drawn
// (CryptoError if the random source fails); with one, the result is fixed.
SaltedVerificationKey createSaltedVerificationKey(std::string_view username, std::string_view password,
                                                  std::optional<ByteView> salt, const Group& group,
                                                  DigestAlgorithm algorithm);

// The same from x given as big-endian bytes.
SaltedVerificationKey createSaltedVerificationKey(ByteView x, std::optional<ByteView> salt,
                                                  const Group& group);

}  // namespace ostrelcomm::SRP
