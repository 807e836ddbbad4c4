#include "crypto/curve25519/PrivateKey.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "X25519Compositions.h"
#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/Exceptions.h"

namespace ostrelcomm {
namespace {

using namespace testing25519;

const char* const kAlicePrivate = "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a";
const char* const kBobPublic = "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f";
const char* const kFirstKey = "1B27556473E985D462CD51197A9A46C76009549EAC6474F206C4EE0844F68389";

class PrivateKeyTest : public ::testing::Test {
protected:
    const SecretBytes passwordKey_ = EncryptionKey::prepareEncryptionPassword("correct horse");
    const SecretBytes otherPasswordKey_ = EncryptionKey::prepareEncryptionPassword("battery staple");

    // A private key with chosen bytes, reached the way the client reads one:
    // a wrapped key from the server, unwrapped under the password key.
    PrivateKey withValue(ByteView value) const {
        EncryptionKey carrier(CipherAlgorithm::aes256, 32);
        carrier.key.key = SecretBytes(value);
        return PrivateKey(carrier.encryptKeyText(passwordKey_), passwordKey_);
    }
    PrivateKey withoutValue() const { return PrivateKey("not a wrapped key", passwordKey_); }
};

std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Exceptions& e) {
        return e.message();
    }
    return "(no exception)";
}

TEST_F(PrivateKeyTest, FreshKeyIsClampedAndItsPublicKeyStable) {
    const PrivateKey key;
    ASSERT_TRUE(key.KeyValue());
    ASSERT_EQ(key.KeyValue()->size(), 32u);
    EXPECT_EQ(key.KeyValue()->data()[0] & 7, 0);
    EXPECT_EQ(key.KeyValue()->data()[31] & 0xc0, 0x40);

    const PublicKey first = key.publicKey();
    const PublicKey second = key.publicKey();
    EXPECT_EQ(first.KeyValue(), second.KeyValue());
    EXPECT_NE(first.Uid(), second.Uid());
}

TEST_F(PrivateKeyTest, WrappedUnderThePasswordKeyAndReadBack) {
    const PrivateKey key;
    const std::optional<std::string> wrapped = key.getPrivateEncryptedKey(passwordKey_);
    ASSERT_TRUE(wrapped);

    const PrivateKey back(*wrapped, passwordKey_);
    ASSERT_TRUE(back.KeyValue());
    EXPECT_TRUE(*back.KeyValue() == *key.KeyValue());

    // The carrier's plaintext is a 16-byte IV, then the 32 key bytes.
    const EncryptionKey carrier =
        EncryptionKey::decryptKey(*wrapped, passwordKey_, CipherAlgorithm::aes256, 32);
    EXPECT_EQ(carrier.key.iv.size(), 16u);
    EXPECT_TRUE(carrier.key.key == *key.KeyValue());

    // Wrapping is randomised; both texts read back to the same key.
    const std::optional<std::string> again = key.getPrivateEncryptedKey(passwordKey_);
    EXPECT_NE(*again, *wrapped);
    EXPECT_TRUE(*PrivateKey(*again, passwordKey_).KeyValue() == *key.KeyValue());
}

// Under the wrong password key a wrapped key reads back as a key without a
// value, every time: about one wrong unwrap in 256 ends in valid padding and
// gives a plaintext of the wrong length, which is not taken for a key either
// (1200 rounds meet that case with near certainty).
TEST_F(PrivateKeyTest, WrongPasswordKeyOrDamagedTextLeavesNoValue) {
    const PrivateKey key;
    for (int round = 0; round < 1200; ++round) {
        const PrivateKey wrong(*key.getPrivateEncryptedKey(passwordKey_), otherPasswordKey_);
        ASSERT_FALSE(wrong.KeyValue()) << "round " << round;
    }
    const char* damaged[] = {
        "",
        "{}",
        R"({"key":"AAAAAAAAAAAAAAAAAAAAAA=="})",
        R"({"iv":"AAAAAAAAAAAAAAAAAAAAAA==","key":"not base64"})",
        R"({"iv":"AAAAAAAAAAAAAAAAAAAAAA==","key":"AAAA"})",
    };
    for (const char* text : damaged) {
        const PrivateKey broken(text, passwordKey_);
        EXPECT_FALSE(broken.KeyValue()) << text;
        EXPECT_FALSE(broken.getPrivateEncryptedKey(passwordKey_)) << text;
        EXPECT_EQ(broken.toString(), "") << text;
    }
}

// A carrier whose key part is not 32 bytes (a 64-byte plaintext) is not a
// private key.
TEST_F(PrivateKeyTest, UnwrappedKeyOfAnotherLengthIsNoValue) {
    EncryptionKey carrier(CipherAlgorithm::aes256, 48);
    const PrivateKey key(carrier.encryptKeyText(passwordKey_), passwordKey_);
    EXPECT_FALSE(key.KeyValue());
}

TEST_F(PrivateKeyTest, SharedKeysAgreeAndOwnKeyIsRefused) {
    const PrivateKey a;
    const PrivateKey b;
    const SharedSecretKey ab = a.getSharedSecretKey(b.publicKey());
    const SharedSecretKey ba = b.getSharedSecretKey(a.publicKey());
    EXPECT_TRUE(ab.KeyValue() == ba.KeyValue());
    EXPECT_EQ(ab.KeyValue().size(), 32u);
    EXPECT_NE(ab.Uid(), ba.Uid());

    const PublicKey own(a.publicKey().KeyValue());
    EXPECT_EQ(messageOf([&] { a.getSharedSecretKey(own); }), "peerPublicKey can not be my own public key");
    // The same bytes handed over as bytes are not tested against one's own key.
    EXPECT_EQ(a.getSharedSecretKey(ByteView(own.KeyValue())).KeyValue().size(), 32u);
}

TEST_F(PrivateKeyTest, Rfc7748SharedKeyThroughTheKeyObjects) {
    const PrivateKey alice = withValue(key32(kAlicePrivate));
    const PublicKey bob(key32(kBobPublic));
    EXPECT_EQ(alice.getSharedSecretKey(bob).toString(), kFirstKey);
    EXPECT_EQ(SharedSecretKey(alice, bob).toString(), kFirstKey);
    EXPECT_EQ(SharedSecretKey(alice, ByteView(bob.KeyValue())).toString(), kFirstKey);
}

TEST_F(PrivateKeyTest, KeyWithoutValueRefusesWhatNeedsOne) {
    const PrivateKey none = withoutValue();
    const PrivateKey other;
    EXPECT_EQ(messageOf([&] { none.publicKey(); }), "Secret key must be 32 bytes long");
    EXPECT_EQ(messageOf([&] { none.getSharedSecretKey(other.publicKey()); }),
              "Secret key must be 32 bytes long");
    EXPECT_EQ(messageOf([&] { none.getSharedSecretKey(ByteView(other.publicKey().KeyValue())); }),
              "Secret key must be 32 bytes long");
    // A peer key of the wrong length is reported before the missing value.
    const std::vector<std::uint8_t> shortPeer(31, 9);
    EXPECT_EQ(messageOf([&] { none.getSharedSecretKey(ByteView(shortPeer)); }),
              "Public key must be 32 bytes long");
    EXPECT_EQ(messageOf([&] { other.getSharedSecretKey(PublicKey(shortPeer)); }),
              "Public key must be 32 bytes long");
}

TEST_F(PrivateKeyTest, TextFormsAreUpperCaseHex) {
    Key32 value{};
    value[0] = 0x0a;
    value[1] = 0xff;
    value[31] = 0x4c;
    const std::string expected = "0AFF" + std::string(58, '0') + "4C";

    EXPECT_EQ(withValue(value).toString(), expected);
    EXPECT_EQ(PublicKey(value).toString(), expected);
    EXPECT_EQ(PublicKey(ByteView()).toString(), "");

    SharedSecretKey shared = PrivateKey().getSharedSecretKey(key32(kBobPublic));
    shared.setKeyValue(SecretBytes(ByteView(value)));
    EXPECT_EQ(shared.toString(), expected);
}

}  // namespace
}  // namespace ostrelcomm
