#include "srp/Client.h"

#include <utility>

#include "encoding/Encoding.h"
#include "srp/AuthenticationFailure.h"
#include "srp/Computations.h"

namespace ostrelcomm::SRP {

Client::Client(std::string username, std::optional<SecretBytes> password,
               std::optional<BigInt> precomputedX, Group group, DigestAlgorithm algorithm,
               std::optional<ByteView> privateKey)
    : a_(privateValue(privateKey)),
      A_(calculate_A(group, a_)),
      ABytes_(A_.bytes()),
      group_(std::move(group)),
      algorithm_(algorithm),
      username_(std::move(username)),
      password_(std::move(password)),
      precomputedX_(std::move(precomputedX)) {}

Client Client::withPassword(std::string username, std::string_view password, Group group,
                            DigestAlgorithm algorithm, std::optional<ByteView> privateKey) {
    return Client(std::move(username), SecretBytes::fromText(password), std::nullopt, std::move(group),
                  algorithm, privateKey);
}

Client Client::withPrecomputedX(std::string username, ByteView precomputedX, Group group,
                                DigestAlgorithm algorithm, std::optional<ByteView> privateKey) {
    return Client(std::move(username), std::nullopt, BigInt::fromSecretBytes(precomputedX),
                  std::move(group), algorithm, privateKey);
}

Client::AuthenticationStart Client::startAuthentication() const { return {username_, ABytes_}; }

Bytes Client::processChallenge(ByteView salt, ByteView publicKey) {
    // A value longer than N cannot be padded for u; it is refused before it is
    // even read, which also bounds the work a hostile server can ask for.
    if (publicKey.size() > group_.size())
        throw AuthenticationFailure(AuthenticationFailure::Case::invalidPublicKey);
    BigInt B = BigInt::fromBytes(publicKey);
    if ((B % group_.N()).isZero())
        throw AuthenticationFailure(AuthenticationFailure::Case::invalidPublicKey);

    // A enters u padded and M unpadded; B enters both exactly as received.
    BigInt u = calculate_u(group_, algorithm_, ABytes_, publicKey);
    BigInt k = calculate_k(group_, algorithm_);
    BigInt x = precomputedX_ ? *precomputedX_
                             : calculate_x(algorithm_, salt, username_, password_->textView());
    BigInt S = calculate_clientS(group_, B, k, x, a_, u);
    SecretBytes K(Digest::compute(algorithm_, S.secretBytes()));
    Bytes M = calculate_M(group_, algorithm_, username_, salt, ABytes_, publicKey, K);
    Bytes HAMK = calculate_HAMK(algorithm_, ABytes_, M, K);

    K_ = std::move(K);
    HAMK_ = std::move(HAMK);
    // The earlier verification vouched for the earlier key only.
    isAuthenticated_ = false;
    return M;
}

void Client::verifySession(ByteView keyProof) {
    if (!HAMK_) throw AuthenticationFailure(AuthenticationFailure::Case::missingChallenge);
    if (!constantTimeEquals(keyProof, *HAMK_))
        throw AuthenticationFailure(AuthenticationFailure::Case::keyProofMismatch);
    isAuthenticated_ = true;
}

std::optional<SecretBytes> Client::sessionKey() const {
    if (!isAuthenticated_) return std::nullopt;
    return K_;
}

}  // namespace ostrelcomm::SRP
