#include <gtest/gtest.h>

#include <string>

#include "SrpTestHelpers.h"
#include "crypto/Random.h"
#include "srp/AuthenticationFailure.h"
#include "srp/Client.h"
#include "srp/Computations.h"
#include "srp/SaltedVerificationKey.h"
#include "srp/Server.h"

using namespace ostrelcomm;
using namespace ostrelcomm::SRP;
using srptest::flipped;

namespace {

using Failure = AuthenticationFailure::Case;

template <class F>
void expectFailure(Failure expected, F&& f) {
    try {
        f();
        ADD_FAILURE() << "no AuthenticationFailure";
    } catch (const AuthenticationFailure& e) {
        EXPECT_EQ(e.errorCase(), expected) << e.what();
        EXPECT_STREQ(e.what(), AuthenticationFailure::description(expected));
    }
}

struct LoginCase {
    std::string name;
    Group group;
    DigestAlgorithm algorithm;
};

std::string caseName(const testing::TestParamInfo<LoginCase>& info) { return info.param.name; }

// A failing case names its group or digest, not the bytes of its parameter.
void PrintTo(const LoginCase& c, std::ostream* os) { *os << c.name; }

class Login : public testing::TestWithParam<LoginCase> {};

// A full exchange as the login runs it, with a tampered proof presented to
// each side before the genuine one.
TEST_P(Login, BothSidesAgreeOnKAndRejectTamperedProofs) {
    const auto& [name, group, algorithm] = GetParam();
    const auto stored = createSaltedVerificationKey("zoë", "correct horse", std::nullopt, group, algorithm);
    Server server("zoë", stored.salt, stored.verificationKey, group, algorithm);
    auto client = Client::withPassword("zoë", "correct horse", group, algorithm);

    const auto start = client.startAuthentication();
    EXPECT_EQ(start.username, "zoë");
    EXPECT_EQ(start.publicKey, client.publicKey());
    const auto challenge = server.getChallenge();
    EXPECT_EQ(challenge.salt, stored.salt);

    const Bytes M = client.processChallenge(challenge.salt, challenge.publicKey);
    EXPECT_EQ(M.size(), Digest::length(algorithm));

    expectFailure(Failure::keyProofMismatch, [&] { server.verifySession(start.publicKey, flipped(M)); });
    EXPECT_FALSE(server.isAuthenticated());
    EXPECT_FALSE(server.sessionKey());

    const Bytes HAMK = server.verifySession(start.publicKey, M);
    EXPECT_TRUE(server.isAuthenticated());

    expectFailure(Failure::keyProofMismatch, [&] { client.verifySession(flipped(HAMK)); });
    EXPECT_FALSE(client.isAuthenticated());
    EXPECT_FALSE(client.sessionKey());

    client.verifySession(HAMK);
    EXPECT_TRUE(client.isAuthenticated());
    ASSERT_TRUE(client.sessionKey() && server.sessionKey());
    EXPECT_TRUE(*client.sessionKey() == *server.sessionKey());
    EXPECT_EQ(client.sessionKey()->size(), Digest::length(algorithm));
}

INSTANTIATE_TEST_SUITE_P(EveryGroupSha256, Login,
                         testing::Values(LoginCase{"N1024", Group::N1024(), DigestAlgorithm::sha256},
                                         LoginCase{"N1536", Group::N1536(), DigestAlgorithm::sha256},
                                         LoginCase{"N2048", Group::N2048(), DigestAlgorithm::sha256},
                                         LoginCase{"N3072", Group::N3072(), DigestAlgorithm::sha256},
                                         LoginCase{"N4096", Group::N4096(), DigestAlgorithm::sha256},
                                         LoginCase{"N6144", Group::N6144(), DigestAlgorithm::sha256},
                                         LoginCase{"N8192", Group::N8192(), DigestAlgorithm::sha256}),
                         caseName);

INSTANTIATE_TEST_SUITE_P(EveryDigestN2048, Login,
                         testing::Values(LoginCase{"md2", Group::N2048(), DigestAlgorithm::md2},
                                         LoginCase{"md4", Group::N2048(), DigestAlgorithm::md4},
                                         LoginCase{"md5", Group::N2048(), DigestAlgorithm::md5},
                                         LoginCase{"sha1", Group::N2048(), DigestAlgorithm::sha1},
                                         LoginCase{"sha224", Group::N2048(), DigestAlgorithm::sha224},
                                         LoginCase{"sha384", Group::N2048(), DigestAlgorithm::sha384},
                                         LoginCase{"sha512", Group::N2048(), DigestAlgorithm::sha512}),
                         caseName);

TEST(Client, WrongPasswordFailsAtTheServersProofCheck) {
    const Group group = Group::N2048();
    const auto stored = createSaltedVerificationKey("ann", "right", std::nullopt, group, DigestAlgorithm::sha256);
    Server server("ann", stored.salt, stored.verificationKey, group, DigestAlgorithm::sha256);
    auto client = Client::withPassword("ann", "wrong", group, DigestAlgorithm::sha256);
    const Bytes M = client.processChallenge(stored.salt, server.getChallenge().publicKey);
    expectFailure(Failure::keyProofMismatch, [&] { server.verifySession(client.publicKey(), M); });
    EXPECT_FALSE(server.sessionKey());
}

TEST(Client, PrecomputedXLogsInLikeThePassword) {
    const Group group = Group::N2048();
    const auto alg = DigestAlgorithm::sha512;
    const Bytes salt = randomBytes(16);
    const Bytes x = calculate_x(alg, salt, "ann", "secret").bytes();
    const auto stored = createSaltedVerificationKey(ByteView(x), ByteView(salt), group);
    Server server("ann", salt, stored.verificationKey, group, alg);
    auto client = Client::withPrecomputedX("ann", x, group, alg);
    client.verifySession(server.verifySession(client.publicKey(),
                                              client.processChallenge(salt, server.getChallenge().publicKey)));
    EXPECT_TRUE(client.isAuthenticated());
}

TEST(Client, PrivateValueGivenOrDrawn) {
    const Group group = Group::N1024();
    const Bytes a = {0x01, 0x02, 0x03};
    auto fixed = Client::withPassword("u", "p", group, DigestAlgorithm::sha1, ByteView(a));
    EXPECT_EQ(fixed.privateKey().copyOut(), a);
    EXPECT_EQ(fixed.publicKey(), group.g().power(BigInt::fromBytes(a), group.N()).bytes());

    auto drawn1 = Client::withPassword("u", "p", group, DigestAlgorithm::sha1);
    auto drawn2 = Client::withPassword("u", "p", group, DigestAlgorithm::sha1);
    EXPECT_GE(drawn1.privateKey().size(), 120u);
    EXPECT_NE(drawn1.publicKey(), drawn2.publicKey());
}

// The server's value must not be 0 modulo N, and must fit in N's length so
// that it can be padded for u. A small custom group shows 2N, which in every
// named group is already longer than N.
TEST(Client, RefusesUnusableServerValues) {
    const Group group = Group::N2048();
    const Bytes N = group.NBytes();
    Bytes longerThanN(N.size() + 1, 0);
    longerThanN.back() = 0x02;  // a small value sent one byte too long
    const Bytes huge(1 << 20, 0xFF);
    const Bytes twoN = (group.N() + group.N()).bytes();

    const struct {
        const char* name;
        Bytes B;
    } cases[] = {
        {"empty", {}}, {"zero", {0x00}}, {"zeros", Bytes(N.size(), 0)}, {"N", N},
        {"2N", twoN},  {"longer than N", longerThanN}, {"huge", huge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = Client::withPassword("u", "p", group, DigestAlgorithm::sha256);
        expectFailure(Failure::invalidPublicKey, [&] { client.processChallenge(Bytes{1, 2}, c.B); });
        // Nothing was kept: there is still no challenge to verify against.
        expectFailure(Failure::missingChallenge, [&] { client.verifySession(Bytes(32, 0)); });
    }

    const Group tiny = *Group::make("17", "5");  // N = 23
    for (std::uint8_t multiple : {0, 23, 46, 69}) {
        SCOPED_TRACE(int(multiple));
        auto client = Client::withPassword("u", "p", tiny, DigestAlgorithm::sha256);
        expectFailure(Failure::invalidPublicKey, [&] { client.processChallenge(Bytes{1}, Bytes{multiple}); });
    }

    // A value above N but no longer than N is reduced, not refused.
    auto client = Client::withPassword("u", "p", group, DigestAlgorithm::sha256);
    EXPECT_NO_THROW(client.processChallenge(Bytes{1}, (group.N() + BigInt(1)).bytes()));
}

TEST(Client, ServerValueWithLeadingZeroGivesSameUButOtherProof) {
    const Group group = Group::N2048();
    const Bytes a = randomBytes(32);
    const Bytes B = {0x12, 0x34};
    const Bytes zeroB = {0x00, 0x12, 0x34};
    auto plain = Client::withPassword("u", "p", group, DigestAlgorithm::sha256, ByteView(a));
    auto padded = Client::withPassword("u", "p", group, DigestAlgorithm::sha256, ByteView(a));

    EXPECT_EQ(calculate_u(group, DigestAlgorithm::sha256, plain.publicKey(), B),
              calculate_u(group, DigestAlgorithm::sha256, plain.publicKey(), zeroB));
    EXPECT_NE(plain.processChallenge(Bytes{9}, B), padded.processChallenge(Bytes{9}, zeroB));
}

TEST(Client, SessionStateFollowsTheExchange) {
    const Group group = Group::N1024();
    const auto stored = createSaltedVerificationKey("u", "p", std::nullopt, group, DigestAlgorithm::sha256);
    Server server("u", stored.salt, stored.verificationKey, group, DigestAlgorithm::sha256);
    auto client = Client::withPassword("u", "p", group, DigestAlgorithm::sha256);

    expectFailure(Failure::missingChallenge, [&] { client.verifySession(Bytes(32, 0)); });

    const Bytes M = client.processChallenge(stored.salt, server.getChallenge().publicKey);
    EXPECT_FALSE(client.isAuthenticated());
    EXPECT_FALSE(client.sessionKey()) << "K is computed but not handed out before the proof is checked";

    const Bytes HAMK = server.verifySession(client.publicKey(), M);
    expectFailure(Failure::keyProofMismatch, [&] { client.verifySession(Bytes{}); });
    client.verifySession(HAMK);
    EXPECT_TRUE(client.sessionKey());

    // A second challenge replaces K and the expected proof; the earlier
    // verification does not vouch for the new key.
    Server other("u", stored.salt, stored.verificationKey, group, DigestAlgorithm::sha256);
    const Bytes M2 = client.processChallenge(stored.salt, other.getChallenge().publicKey);
    EXPECT_FALSE(client.isAuthenticated());
    EXPECT_FALSE(client.sessionKey());
    expectFailure(Failure::keyProofMismatch, [&] { client.verifySession(HAMK); });
    client.verifySession(other.verifySession(client.publicKey(), M2));
    EXPECT_TRUE(*client.sessionKey() == *other.sessionKey());
    EXPECT_FALSE(*client.sessionKey() == *server.sessionKey());
}

TEST(Server, RefusesUnusableClientValues) {
    const Group group = Group::N1536();
    const auto stored = createSaltedVerificationKey("u", "p", std::nullopt, group, DigestAlgorithm::sha256);
    const Bytes N = group.NBytes();
    const Bytes cases[] = {{}, {0x00}, N, (group.N() + group.N()).bytes(), Bytes(N.size() + 1, 0x01)};
    for (const auto& A : cases) {
        Server server("u", stored.salt, stored.verificationKey, group, DigestAlgorithm::sha256);
        expectFailure(Failure::invalidPublicKey, [&] { server.verifySession(A, Bytes(32, 0)); });
        EXPECT_FALSE(server.isAuthenticated());
    }
}

}  // namespace
