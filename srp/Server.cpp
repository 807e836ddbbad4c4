#include "srp/Server.h"

#include <utility>

#include "encoding/Encoding.h"
#include "srp/AuthenticationFailure.h"
#include "srp/Computations.h"

namespace ostrelcomm::SRP {

namespace {

BigInt verifier(ByteView verificationKey) {
    // Anyone holding v can pose as the server, so it is kept like a secret.
    return BigInt::fromSecretBytes(verificationKey);
}

}  // namespace

Server::Server(std::string username, Bytes salt, ByteView verificationKey, Group group,
               DigestAlgorithm algorithm, std::optional<ByteView> privateKey)
    : b_(privateValue(privateKey)),
      B_(calculate_B(group, calculate_k(group, algorithm), verifier(verificationKey), b_)),
      BBytes_(B_.bytes()),
      salt_(std::move(salt)),
      username_(std::move(username)),
      v_(verifier(verificationKey)),
      group_(std::move(group)),
      algorithm_(algorithm) {}

Bytes Server::verifySession(ByteView publicKey, ByteView keyProof) {
    if (publicKey.size() > group_.size())
        throw AuthenticationFailure(AuthenticationFailure::Case::invalidPublicKey);
    BigInt A = BigInt::fromBytes(publicKey);
    if ((A % group_.N()).isZero())
        throw AuthenticationFailure(AuthenticationFailure::Case::invalidPublicKey);

    Bytes ABytes = A.bytes();
    BigInt u = calculate_u(group_, algorithm_, ABytes, BBytes_);
    BigInt S = calculate_serverS(group_, A, v_, u, b_);
    SecretBytes K(Digest::compute(algorithm_, S.secretBytes()));
    Bytes M = calculate_M(group_, algorithm_, username_, salt_, ABytes, BBytes_, K);
    if (!constantTimeEquals(keyProof, M))
        throw AuthenticationFailure(AuthenticationFailure::Case::keyProofMismatch);

    Bytes HAMK = calculate_HAMK(algorithm_, ABytes, M, K);
    K_ = std::move(K);
    isAuthenticated_ = true;
    return HAMK;
}

std::optional<SecretBytes> Server::sessionKey() const {
    if (!isAuthenticated_) return std::nullopt;
    return K_;
}

}  // namespace ostrelcomm::SRP
