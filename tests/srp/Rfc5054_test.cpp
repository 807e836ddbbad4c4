// The test vectors of RFC 5054, Appendix B: I "alice", P "password123", the
// 1024-bit group and SHA-1.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/srp.h>

#include "SrpTestHelpers.h"
#include "srp/Client.h"
#include "srp/Computations.h"
#include "srp/SaltedVerificationKey.h"
#include "srp/Server.h"

using namespace ostrelcomm;
using namespace ostrelcomm::SRP;
using srptest::hex;
using srptest::upper;

namespace {

constexpr auto kSha1 = DigestAlgorithm::sha1;

const Bytes kSalt = hex("BEB25379 D1A8581E B5A72767 3A2441EE");
const Bytes kK = hex("7556AA04 5AEF2CDD 07ABAF0F 665C3E81 8913186F");
const Bytes kX = hex("94B7555A ABE9127C C58CCF49 93DB6CF8 4D16C124");
const Bytes kV = hex(
    "7E273DE8 696FFC4F 4E337D05 B4B375BE B0DDE156 9E8FA00A 9886D812"
    "9BADA1F1 822223CA 1A605B53 0E379BA4 729FDC59 F105B478 7E5186F5"
    "C671085A 1447B52A 48CF1970 B4FB6F84 00BBF4CE BFBB1681 52E08AB5"
    "EA53D15C 1AFF87B2 B9DA6E04 E058AD51 CC72BFC9 033B564E 26480D78"
    "E955A5E2 9E7AB245 DB2BE315 E2099AFB");
const Bytes kA_private = hex("60975527 035CF2AD 1989806F 0407210B C81EDC04 E2762A56 AFD529DD DA2D4393");
const Bytes kB_private = hex("E487CB59 D31AC550 471E81F0 0F6928E0 1DDA08E9 74A004F4 9E61F5D1 05284D20");
const Bytes kA = hex(
    "61D5E490 F6F1B795 47B0704C 436F523D D0E560F0 C64115BB 72557EC4"
    "4352E890 3211C046 92272D8B 2D1A5358 A2CF1B6E 0BFCF99F 921530EC"
    "8E393561 79EAE45E 42BA92AE ACED8251 71E1E8B9 AF6D9C03 E1327F44"
    "BE087EF0 6530E69F 66615261 EEF54073 CA11CF58 58F0EDFD FE15EFEA"
    "B349EF5D 76988A36 72FAC47B 0769447B");
const Bytes kB = hex(
    "BD0C6151 2C692C0C B6D041FA 01BB152D 4916A1E7 7AF46AE1 05393011"
    "BAF38964 DC46A067 0DD125B9 5A981652 236F99D9 B681CBF8 7837EC99"
    "6C6DA044 53728610 D0C6DDB5 8B318885 D7D82C7F 8DEB75CE 7BD4FBAA"
    "37089E6F 9C6059F3 88838E7A 00030B33 1EB76840 910440B1 B27AAEAE"
    "EB4012B7 D7665238 A8E3FB00 4B117B58");
const Bytes kU = hex("CE38B959 3487DA98 554ED47D 70A7AE5F 462EF019");
const Bytes kS = hex(
    "B0DC82BA BCF30674 AE450C02 87745E79 90A3381F 63B387AA F271A10D"
    "233861E3 59B48220 F7C4693C 9AE12B0A 6F67809F 0876E2D0 13800D6C"
    "41BB59B6 D5979B5C 00A172B4 A2A5903A 0BDCAF8A 709585EB 2AFAFA8F"
    "3499B200 210DCC1F 10EB3394 3CD67FC8 8A2F39A4 BE5BEC4E C0A3212D"
    "C346D7E4 74B29EDE 8A469FFE CA686E5A");

TEST(Rfc5054, DerivedValuesMatchTheVectors) {
    const Group group = Group::N1024();
    EXPECT_EQ(upper(calculate_k(group, kSha1).bytes()), upper(kK));

    BigInt x = calculate_x(kSha1, kSalt, "alice", "password123");
    EXPECT_EQ(upper(x.bytes()), upper(kX));
    EXPECT_TRUE(x.isSecret());
    EXPECT_EQ(upper(calculate_v(group, x).bytes()), upper(kV));

    EXPECT_EQ(upper(calculate_u(group, kSha1, kA, kB).bytes()), upper(kU));
}

TEST(Rfc5054, VerifierMakerGivesTheVectorsVerifier) {
    auto key = createSaltedVerificationKey("alice", "password123", ByteView(kSalt), Group::N1024(), kSha1);
    EXPECT_EQ(key.salt, kSalt);
    EXPECT_EQ(upper(key.verificationKey), upper(kV));
    auto fromX = createSaltedVerificationKey(ByteView(kX), ByteView(kSalt), Group::N1024());
    EXPECT_EQ(upper(fromX.verificationKey), upper(kV));
}

TEST(Rfc5054, PublicValuesAndPremasterSecretOfBothSides) {
    const Group group = Group::N1024();
    auto client = Client::withPassword("alice", "password123", group, kSha1, ByteView(kA_private));
    EXPECT_EQ(upper(client.publicKey()), upper(kA));
    Server server("alice", kSalt, kV, group, kSha1, ByteView(kB_private));
    EXPECT_EQ(upper(server.getChallenge().publicKey), upper(kB));

    const BigInt k = BigInt::fromBytes(kK), x = BigInt::fromBytes(kX), u = BigInt::fromBytes(kU);
    EXPECT_EQ(upper(calculate_clientS(group, BigInt::fromBytes(kB), k, x, BigInt::fromBytes(kA_private), u).bytes()),
              upper(kS));
    EXPECT_EQ(upper(calculate_serverS(group, BigInt::fromBytes(kA), BigInt::fromBytes(kV), u,
                                      BigInt::fromBytes(kB_private)).bytes()),
              upper(kS));
}

TEST(Rfc5054, LoginWithTheVectorsDerivesKFromTheUnpaddedPremasterSecret) {
    const Group group = Group::N1024();
    auto client = Client::withPassword("alice", "password123", group, kSha1, ByteView(kA_private));
    Server server("alice", kSalt, kV, group, kSha1, ByteView(kB_private));

    Bytes M = client.processChallenge(kSalt, kB);
    Bytes HAMK = server.verifySession(client.publicKey(), M);
    client.verifySession(HAMK);

    const Bytes expectedK = Digest::compute(kSha1, kS);
    ASSERT_TRUE(client.sessionKey());
    EXPECT_EQ(upper(*client.sessionKey()), upper(expectedK));
    EXPECT_EQ(upper(*server.sessionKey()), upper(expectedK));
}

// With a = 209 in the same setting, A (= 2^209) and the premaster secret are
// both shorter than N: u must pad A, while M, the server proof and K take A
// and S in their minimal forms. OpenSSL computes u and S.
TEST(Rfc5054, ShortValuesEnterUPaddedAndMAndKMinimal) {
    const Group group = Group::N1024();
    const Bytes a = {209};
    auto client = Client::withPassword("alice", "password123", group, kSha1, ByteView(a));
    Server server("alice", kSalt, kV, group, kSha1, ByteView(kB_private));
    const Bytes A = client.publicKey();
    ASSERT_LT(A.size(), group.size());

    auto bn = [](ByteView bytes) { return BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr); };
    BIGNUM *N = bn(group.NBytes()), *g = bn(group.gBytes()), *bnA = bn(A), *bnB = bn(kB), *x = bn(kX), *bnSmallA = bn(a);
    BIGNUM* u = SRP_Calc_u(bnA, bnB, N);
    BIGNUM* S = SRP_Calc_client_key(N, bnB, g, x, bnSmallA, u);
    ASSERT_TRUE(u && S);
    Bytes uRef(BN_num_bytes(u)), SRef(BN_num_bytes(S));
    BN_bn2bin(u, uRef.data());
    BN_bn2bin(S, SRef.data());
    for (BIGNUM* n : {N, g, bnA, bnB, x, bnSmallA, u, S}) BN_free(n);
    ASSERT_LT(SRef.size(), group.size());

    EXPECT_EQ(calculate_u(group, kSha1, A, kB).bytes(), uRef);
    const Bytes M = client.processChallenge(kSalt, kB);
    const Bytes HAMK = server.verifySession(A, M);
    client.verifySession(HAMK);

    const Bytes K = Digest::compute(kSha1, SRef);
    ASSERT_TRUE(client.sessionKey() && server.sessionKey());
    EXPECT_EQ(client.sessionKey()->copyOut(), K);
    EXPECT_EQ(server.sessionKey()->copyOut(), K);
    EXPECT_EQ(M, calculate_M(group, kSha1, "alice", kSalt, A, kB, K));
    EXPECT_EQ(HAMK, calculate_HAMK(kSha1, A, M, K));
}

}  // namespace
