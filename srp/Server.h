#pragma once

#include <optional>
#include <string>

#include "crypto/Digest.h"
#include "crypto/SecretBytes.h"
#include "platform/Bytes.h"
#include "srp/BigInt.h"
#include "srp/Group.h"

namespace ostrelcomm::SRP {

// The server side of one SRP-6a login, the mirror of Client: made with the
// user's salt and verifier (b and B fixed), getChallenge, then verifySession
// with the client's A and proof M. The stand-in server and the tests use it.
class Server {
public:
    struct Challenge {
        Bytes salt;
        Bytes publicKey;
    };

    // b is read from privateKey or, when it is absent, from 128 fresh random
    // bytes (CryptoError if the random source fails);
    // B = (k·v + g^b mod N) mod N.
    Server(std::string username, Bytes salt, ByteView verificationKey, Group group,
           DigestAlgorithm algorithm, std::optional<ByteView> privateKey = std::nullopt);

    Server(Server&&) noexcept = default;
    Server& operator=(Server&&) noexcept = default;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server() = default;

    // The salt and the bytes of B.
    Challenge getChallenge() const { return {salt_, BBytes_}; }

    // Checks the client's proof and returns the server's proof H(A | M | K).
    // Throws AuthenticationFailure: invalidPublicKey when A is 0 modulo N or
    // has more bytes than N; keyProofMismatch when the proof differs. A and B
    // enter u padded and M in their minimal forms.
    Bytes verifySession(ByteView publicKey, ByteView keyProof);

    bool isAuthenticated() const { return isAuthenticated_; }
    Bytes publicKey() const { return BBytes_; }
    SecretBytes privateKey() const { return b_.secretBytes(); }
    // K once verifySession has succeeded; absent before.
    std::optional<SecretBytes> sessionKey() const;

    const Group& group() const { return group_; }
    DigestAlgorithm algorithm() const { return algorithm_; }
    const std::string& username() const { return username_; }

private:
    BigInt b_;
    BigInt B_;
    Bytes BBytes_;
    Bytes salt_;
    std::string username_;
    BigInt v_;
    std::optional<SecretBytes> K_;
    Group group_;
    DigestAlgorithm algorithm_;
    bool isAuthenticated_ = false;
};

}  // namespace ostrelcomm::SRP
