// OpenSSL's own SRP code as an oracle: its table of default groups and its
// SHA-1 computations of x, u and the premaster secrets.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/srp.h>

#include <memory>
#include <string>

#include "SrpTestHelpers.h"
#include "crypto/Random.h"
#include "srp/Client.h"
#include "srp/Computations.h"
#include "srp/Server.h"

using namespace ostrelcomm;
using namespace ostrelcomm::SRP;
using srptest::upper;

namespace {

struct BnFree {
    void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bytes bytesOf(const BIGNUM* bn) {
    Bytes out(static_cast<std::size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    return out;
}

Bn bnOf(ByteView bytes) { return Bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr)); }

struct NamedGroupCase {
    const char* id;
    Group group;
};

TEST(SrpOracle, NamedGroupsAreOpenSslsDefaultGroups) {
    const NamedGroupCase cases[] = {
        {"1024", Group::N1024()}, {"1536", Group::N1536()}, {"2048", Group::N2048()}, {"3072", Group::N3072()},
        {"4096", Group::N4096()}, {"6144", Group::N6144()}, {"8192", Group::N8192()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const SRP_gN* gN = SRP_get_default_gN(c.id);
        ASSERT_NE(gN, nullptr);
        EXPECT_EQ(upper(bytesOf(gN->N)), upper(c.group.NBytes()));
        EXPECT_EQ(upper(bytesOf(gN->g)), upper(c.group.gBytes()));
        EXPECT_EQ(c.group.N().bitLength(), std::stoul(c.id));
    }
}

std::string randomText(std::size_t length) {
    static const std::string alphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 !#$%&()*+,-./:;<=>?@[]^_{|}~";
    std::string text;
    for (auto byte : randomBytes(length)) text += alphabet[byte % alphabet.size()];
    return text;
}

// Random users, passwords, salts and private values in the three smallest
// groups. OpenSSL reads the salt as a number, so salts start with a non-zero
// byte to keep both byte forms alike.
TEST(SrpOracle, SecretsAndPremasterSecretsAgreeWithOpenSsl) {
    const Group groups[] = {Group::N1024(), Group::N1536(), Group::N2048()};
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const Group& group = groups[round % 3];
        const std::string user = randomText(1 + round);
        const std::string pass = round == 0 ? std::string("pässwörd \xF0\x9F\x94\x91") : randomText(4 + 2 * round);
        Bytes salt = randomBytes(16);
        salt[0] |= 0x01;
        const Bytes aBytes = randomBytes(32), bBytes = randomBytes(32);
        const Bn N = bnOf(group.NBytes()), g = bnOf(group.gBytes());
        const Bn s = bnOf(salt), a = bnOf(aBytes), b = bnOf(bBytes);

        const Bn xRef(SRP_Calc_x(s.get(), user.c_str(), pass.c_str()));
        ASSERT_TRUE(xRef);
        const BigInt x = calculate_x(DigestAlgorithm::sha1, salt, user, pass);
        EXPECT_EQ(upper(x.bytes()), upper(bytesOf(xRef.get())));

        Bn v(BN_new());
        BN_CTX* ctx = BN_CTX_new();
        ASSERT_EQ(BN_mod_exp(v.get(), g.get(), xRef.get(), N.get(), ctx), 1);
        BN_CTX_free(ctx);
        const Bn A(SRP_Calc_A(a.get(), N.get(), g.get()));
        const Bn B(SRP_Calc_B(b.get(), N.get(), g.get(), v.get()));
        ASSERT_TRUE(A && B);

        const Bn uRef(SRP_Calc_u(A.get(), B.get(), N.get()));
        ASSERT_TRUE(uRef);
        const BigInt u = calculate_u(group, DigestAlgorithm::sha1, bytesOf(A.get()), bytesOf(B.get()));
        EXPECT_EQ(upper(u.bytes()), upper(bytesOf(uRef.get())));

        const Bn clientRef(SRP_Calc_client_key(N.get(), B.get(), g.get(), xRef.get(), a.get(), uRef.get()));
        const Bn serverRef(SRP_Calc_server_key(A.get(), v.get(), uRef.get(), b.get(), N.get()));
        ASSERT_TRUE(clientRef && serverRef);
        const BigInt k = calculate_k(group, DigestAlgorithm::sha1);
        EXPECT_EQ(upper(calculate_clientS(group, BigInt::fromBytes(bytesOf(B.get())), k, x,
                                          BigInt::fromBytes(aBytes), u).bytes()),
                  upper(bytesOf(clientRef.get())));
        EXPECT_EQ(upper(calculate_serverS(group, BigInt::fromBytes(bytesOf(A.get())),
                                          BigInt::fromBytes(bytesOf(v.get())), u, BigInt::fromBytes(bBytes))
                            .bytes()),
                  upper(bytesOf(serverRef.get())));

        // The whole exchange with those private values keys both sides with
        // H of OpenSSL's premaster secret.
        auto client = Client::withPassword(user, pass, group, DigestAlgorithm::sha1, ByteView(aBytes));
        Server server(user, salt, bytesOf(v.get()), group, DigestAlgorithm::sha1, ByteView(bBytes));
        EXPECT_EQ(client.publicKey(), bytesOf(A.get()));
        EXPECT_EQ(server.getChallenge().publicKey, bytesOf(B.get()));
        client.verifySession(server.verifySession(client.publicKey(), client.processChallenge(salt, bytesOf(B.get()))));
        const Bytes expectedK = Digest::compute(DigestAlgorithm::sha1, bytesOf(clientRef.get()));
        ASSERT_TRUE(client.sessionKey() && server.sessionKey());
        EXPECT_EQ(client.sessionKey()->copyOut(), expectedK);
        EXPECT_EQ(server.sessionKey()->copyOut(), expectedK);
    }
}

}  // namespace
