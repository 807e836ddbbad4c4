#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "crypto/Digest.h"
#include "crypto/SecretBytes.h"
#include "platform/Bytes.h"
#include "srp/BigInt.h"
#include "srp/Group.h"

namespace ostrelcomm::SRP {

// The client side of one SRP-6a login.
//
// Made for one login: the private value a and the public value A are fixed at
// construction; processChallenge turns the server's salt and public value B
// into the proof M and keeps the session key K and the server proof it
// expects; verifySession checks that proof, and only then is K handed out.
// Secrets (a, x, the password, K) are held in wiped storage and cleared when
// the client goes. Not thread-safe: one login job uses it at a time.
class Client {
public:
    struct AuthenticationStart {
        std::string username;
        Bytes publicKey;
    };

    // a is read from privateKey or, when it is absent, from 128 fresh random
    // bytes (CryptoError if the random source fails); A = g^a mod N.
    static Client withPassword(std::string username, std::string_view password, Group group,
                               DigestAlgorithm algorithm,
                               std::optional<ByteView> privateKey = std::nullopt);
    // As withPassword, with x given in advance (big-endian) and no password.
    static Client withPrecomputedX(std::string username, ByteView precomputedX, Group group,
                                   DigestAlgorithm algorithm,
                                   std::optional<ByteView> privateKey = std::nullopt);

    Client(Client&&) noexcept = default;
    Client& operator=(Client&&) noexcept = default;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client() = default;

    bool isAuthenticated() const { return isAuthenticated_; }

    // The user name and the bytes of A. Changes nothing.
    AuthenticationStart startAuthentication() const;

    // Returns M and keeps K and the expected server proof. Throws
    // AuthenticationFailure(invalidPublicKey) when B is 0 modulo N or has more
    // bytes than N; nothing is kept then. A new challenge replaces K and the
    // expected proof and needs a new verifySession.
    Bytes processChallenge(ByteView salt, ByteView publicKey);

    // Throws AuthenticationFailure: missingChallenge before any
    // processChallenge, keyProofMismatch when keyProof is not the expected
    // server proof.
    void verifySession(ByteView keyProof);

    Bytes publicKey() const { return ABytes_; }
    SecretBytes privateKey() const { return a_.secretBytes(); }
    // K once verifySession has succeeded; absent before.
    std::optional<SecretBytes> sessionKey() const;

    const Group& group() const { return group_; }
    DigestAlgorithm algorithm() const { return algorithm_; }
    const std::string& username() const { return username_; }

private:
    Client(std::string username, std::optional<SecretBytes> password,
           std::optional<BigInt> precomputedX, Group group, DigestAlgorithm algorithm,
           std::optional<ByteView> privateKey);

    BigInt a_;
    BigInt A_;
    Bytes ABytes_;
    Group group_;
    DigestAlgorithm algorithm_;
    std::string username_;
    std::optional<SecretBytes> password_;
    std::optional<BigInt> precomputedX_;
    std::optional<Bytes> HAMK_;
    std::optional<SecretBytes> K_;
    bool isAuthenticated_ = false;
};

}  // namespace ostrelcomm::SRP
