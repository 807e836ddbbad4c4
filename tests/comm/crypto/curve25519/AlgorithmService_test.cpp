#include "crypto/curve25519/AlgorithmService.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <random>
#include <string>
#include <vector>

#include "X25519Compositions.h"
#include "crypto/curve25519/Exceptions.h"

namespace ostrelcomm {
namespace {

using namespace testing25519;

// RFC 7748 section 6.1, and the NaCl "firstkey" derived from its shared secret.
const char* const kAlicePrivate = "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a";
const char* const kAlicePublic = "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a";
const char* const kBobPrivate = "5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb";
const char* const kBobPublic = "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f";
const char* const kFirstKey = "1b27556473e985d462cd51197a9a46c76009549eac6474f206c4ee0844f68389";

std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Exceptions& e) {
        EXPECT_EQ(e.errorCase(), Exceptions::Case::ArgumentException);
        return e.message();
    }
    return "(no exception)";
}

TEST(AlgorithmServiceTest, RandomPrivateKeysAreClamped) {
    const SecretBytes first = AlgorithmService::GetRandomPrivateKey();
    for (int round = 0; round < 200; ++round) {
        const SecretBytes key = AlgorithmService::GetRandomPrivateKey();
        ASSERT_EQ(key.size(), 32u);
        EXPECT_EQ(key.data()[0] & 7, 0);
        EXPECT_EQ(key.data()[31] & 0xc0, 0x40);
        EXPECT_FALSE(key == first);
    }
}

TEST(AlgorithmServiceTest, Rfc7748KeysAndTheSharedKeyInBothDirections) {
    const Key32 alice = key32(kAlicePrivate);
    const Key32 bob = key32(kBobPrivate);
    EXPECT_EQ(toHex(AlgorithmService::GetPublicKey(alice)), kAlicePublic);
    EXPECT_EQ(toHex(AlgorithmService::GetPublicKey(bob)), kBobPublic);
    // The private keys are not clamped; the caller's bytes must stay so.
    EXPECT_EQ(toHex(alice), kAlicePrivate);

    EXPECT_EQ(toHex(AlgorithmService::GetSharedSecretKey(key32(kBobPublic), alice).view()), kFirstKey);
    EXPECT_EQ(toHex(AlgorithmService::GetSharedSecretKey(key32(kAlicePublic), bob).view()), kFirstKey);
}

// The whole shared key is what crypto_box_beforenm computes for the pair.
TEST(AlgorithmServiceTest, SharedKeysAgreeWithLibsodiumBeforenm) {
    ASSERT_GE(sodium_init(), 0);
    std::mt19937_64 rng(0xb0c5);
    for (int round = 0; round < 2000; ++round) {
        const Key32 a = randomKey32(rng);
        const Key32 b = randomKey32(rng);
        Key32 publicA{}, publicB{};
        ASSERT_EQ(crypto_scalarmult_base(publicA.data(), a.data()), 0);
        ASSERT_EQ(crypto_scalarmult_base(publicB.data(), b.data()), 0);
        Key32 expected{};
        ASSERT_EQ(crypto_box_beforenm(expected.data(), publicB.data(), a.data()), 0);

        const std::string where = "round " + std::to_string(round);
        if (round % 2 == 0) {
            EXPECT_EQ(toHex(AlgorithmService::GetPublicKey(a)), toHex(publicA)) << where;
            EXPECT_EQ(toHex(AlgorithmService::GetSharedSecretKey(publicB, a).view()), toHex(expected)) << where;
        } else {
            EXPECT_EQ(toHex(AlgorithmService::GetPublicKey(b)), toHex(publicB)) << where;
            EXPECT_EQ(toHex(AlgorithmService::GetSharedSecretKey(publicA, b).view()), toHex(expected)) << where;
        }
    }
}

// A low-order peer key gives the all-zero shared point and the one key every
// such peer shares. libsodium refuses the pair; here it is accepted, and the
// decision to refuse such peers belongs to the sharing layer.
TEST(AlgorithmServiceTest, ZeroPeerKeyGivesHSalsaOfTheZeroPoint) {
    const Key32 zero{};
    const Key32 privateKey = key32(kAlicePrivate);
    EXPECT_EQ(toHex(AlgorithmService::GetSharedSecretKey(zero, privateKey).view()),
              "351f86faa3b988468a850122b65b0acece9c4826806aeee63de9c0da2bd7f91e");
    Key32 refused{};
    EXPECT_NE(crypto_box_beforenm(refused.data(), zero.data(), privateKey.data()), 0);
}

TEST(AlgorithmServiceTest, KeyLengthsAreCheckedPeerKeyFirst) {
    const std::string secretMessage = "Secret key must be 32 bytes long";
    const std::string publicMessage = "Public key must be 32 bytes long";
    for (std::size_t length : {0u, 31u, 33u}) {
        const std::vector<std::uint8_t> bytes(length, 9);
        EXPECT_EQ(messageOf([&] { AlgorithmService::GetPublicKey(bytes); }), secretMessage) << length;
    }
    struct Case {
        std::size_t peer;
        std::size_t secret;
        const std::string& message;
    };
    const Case cases[] = {
        {31, 31, publicMessage}, {33, 32, publicMessage}, {0, 32, publicMessage},
        {32, 31, secretMessage}, {32, 33, secretMessage}, {32, 0, secretMessage},
    };
    for (const auto& c : cases) {
        const std::vector<std::uint8_t> peer(c.peer, 9);
        const std::vector<std::uint8_t> secret(c.secret, 1);
        EXPECT_EQ(messageOf([&] { AlgorithmService::GetSharedSecretKey(peer, secret); }), c.message)
            << c.peer << "/" << c.secret;
    }
}

}  // namespace
}  // namespace ostrelcomm
