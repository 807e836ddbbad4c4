#include "crypto/EncryptionKey.h"

#include <gtest/gtest.h>

#include "crypto/CryptoError.h"
#include "crypto/Digest.h"
#include "encoding/Encoding.h"
#include "crypto/StreamCryptor.h"
#include "json/StrictJson.h"
#include "support/CryptoOracle.h"

using namespace ostrelcomm;

namespace {

Bytes padded(std::string_view text) {
    Bytes out = toBytes(text);
    out.resize(32, 0);
    return out;
}

}  // namespace

TEST(PasswordKey, Table) {
    const std::string eleven3ByteChars = "€€€€€€€€€€€";  // 11 characters, 33 bytes
    ASSERT_EQ(eleven3ByteChars.size(), 33u);
    const std::string exactly32(32, 'p');
    const std::string of33(33, 'p');
    struct Row {
        const char* name;
        std::optional<std::string_view> password;
        Bytes expected;
    };
    const std::vector<Row> rows = {
        {"absent", std::nullopt, Bytes(32, 0)},
        {"empty", std::string_view(""), Bytes(32, 0)},
        {"three ASCII characters", std::string_view("abc"), padded("abc")},
        {"exactly 32 bytes", std::string_view(exactly32), toBytes(exactly32)},
        {"33 bytes are hashed", std::string_view(of33), sha256(asBytes(of33))},
        {"eleven 3-byte characters are 33 bytes", std::string_view(eleven3ByteChars),
         sha256(asBytes(eleven3ByteChars))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(EncryptionKey::prepareEncryptionPassword(row.password).copyOut(), row.expected);
    }
}

TEST(EncryptionKey, FreshKeyHasIvAndKeyOfTheRightSize) {
    EncryptionKey k(CipherAlgorithm::aes256, 32);
    EXPECT_EQ(k.key.iv.size(), 16u);
    EXPECT_EQ(k.key.key.size(), 32u);
    EXPECT_EQ(k.blockSize, 16);
    EXPECT_EQ(k.keyLen, 32);
    EncryptionKey other(CipherAlgorithm::aes256, 32);
    EXPECT_FALSE(k.key.key == other.key.key);
}

TEST(EncryptionKey, WrapGivesTheJsonTextAndUnwrapsToTheSameKey) {
    auto wrapping = EncryptionKey::prepareEncryptionPassword(std::string_view("correct horse"));
    EncryptionKey k(CipherAlgorithm::aes256, 32);
    std::string first = k.encryptKeyText(wrapping);
    std::string second = k.encryptKeyText(wrapping);
    EXPECT_NE(first, second) << "each wrap draws a fresh IV";

    auto object = json::parse(first);
    ASSERT_TRUE(object.is_object());
    EXPECT_EQ(object.size(), 2u);
    EXPECT_EQ(object["iv"].get<std::string>().size(), 24u);
    EXPECT_EQ(object["key"].get<std::string>().size(), 88u);

    for (const auto& text : {first, second}) {
        auto back = EncryptionKey::decryptKey(text, wrapping, CipherAlgorithm::aes256, 32);
        EXPECT_TRUE(back.key.iv == k.key.iv);
        EXPECT_TRUE(back.key.key == k.key.key);
        EXPECT_EQ(back.algo, CipherAlgorithm::aes256);
    }
}

TEST(EncryptionKey, HexFormOfTheUnwrappingKey) {
    Bytes wrapping(32);
    for (int i = 0; i < 32; ++i) wrapping[i] = static_cast<std::uint8_t>(i * 7);
    EncryptionKey k(CipherAlgorithm::aes256, 32);
    auto back = EncryptionKey::decryptKeyHex(k.encryptKeyText(wrapping), toHex(wrapping), CipherAlgorithm::aes256, 32);
    EXPECT_TRUE(back.key.key == k.key.key);
    EXPECT_THROW(EncryptionKey::decryptKeyHex(k.encryptKeyText(wrapping), "zz", CipherAlgorithm::aes256, 32),
                 KeyDecodeError);
}

TEST(EncryptionKey, WrongKeyFailsAlmostAlways) {
    EncryptionKey k(CipherAlgorithm::aes256, 32);
    auto right = EncryptionKey::prepareEncryptionPassword(std::string_view("right"));
    auto wrong = EncryptionKey::prepareEncryptionPassword(std::string_view("wrong"));
    int failures = 0;
    for (int i = 0; i < 64; ++i) {
        std::string text = k.encryptKeyText(right);
        try {
            auto back = EncryptionKey::decryptKey(text, wrong, CipherAlgorithm::aes256, 32);
            // Padding that checks out by chance gives wrong bytes, never the key.
            EXPECT_FALSE(back.key.key == k.key.key);
        } catch (const CryptoError&) {
            ++failures;
        }
    }
    EXPECT_GE(failures, 48);
}

TEST(EncryptionKey, MalformedWrappedTextsFail) {
    Bytes wrapping(32, 1);
    for (const char* bad : {R"({"key":"AAAAAAAAAAAAAAAAAAAAAA=="})", R"({"iv":"AAAAAAAAAAAAAAAAAAAAAA==","key":"@@"})",
                            R"({"iv":null,"key":"AAAAAAAAAAAAAAAAAAAAAA=="})", "not json", "[]", ""}) {
        EXPECT_THROW(EncryptionKey::decryptKey(bad, wrapping, CipherAlgorithm::aes256, 32), KeyDecodeError) << bad;
    }
}

TEST(EncryptionKey, MembersInAnyOrderAndExtraMembersAreAccepted) {
    Bytes wrapping(32, 3);
    EncryptionKey k(CipherAlgorithm::aes256, 32);
    auto wrapped = k.encryptKey(wrapping);
    std::string text = R"({"extra":1,"key":")" + base64Encode(wrapped.key.view()) + R"(","iv":")" +
                       base64Encode(wrapped.iv.view()) + R"("})";
    auto back = EncryptionKey::decryptKey(text, wrapping, CipherAlgorithm::aes256, 32);
    EXPECT_TRUE(back.key.key == k.key.key);
}

TEST(EncryptionKey, LongerPlaintextSplitsAsTheRuleSays) {
    // 64 bytes of plaintext (80 of ciphertext): the IV is what precedes the
    // last 32 bytes, the key what follows the first 16.
    Bytes wrapping(32, 9);
    Bytes iv(16, 4);
    Bytes plain(64);
    for (int i = 0; i < 64; ++i) plain[i] = static_cast<std::uint8_t>(i);
    Bytes cipher = StreamCryptor::run(StreamCryptor::Operation::encrypt, CipherAlgorithm::aes256, wrapping, iv, plain);
    ASSERT_EQ(cipher.size(), 80u);
    std::string text = EncryptionKey::encodeWrapped({SecretBytes(iv), SecretBytes(cipher)});
    auto back = EncryptionKey::decryptKey(text, wrapping, CipherAlgorithm::aes256, 32);
    EXPECT_EQ(back.key.iv.copyOut(), Bytes(plain.begin(), plain.begin() + 32));
    EXPECT_EQ(back.key.key.copyOut(), Bytes(plain.begin() + 16, plain.end()));
}

TEST(EncryptionKey, UnwrapAes256TakesOnlyA16ByteIvAnd32ByteKey) {
    const Bytes wrapping = testsupport::oracleRandom(32);
    const Bytes other = testsupport::oracleRandom(32);
    const Bytes iv = testsupport::oracleRandom(16);
    const Bytes key = testsupport::oracleRandom(32);
    const auto joined = [](const Bytes& a, const Bytes& b) {
        Bytes out = a;
        out.insert(out.end(), b.begin(), b.end());
        return out;
    };
    struct Row {
        const char* name;
        std::string wrapped;
        ByteView unwrapWith;
        bool accepted;
    };
    const std::vector<Row> rows = {
        {"a 16-byte IV and a 32-byte key", testsupport::oracleWrap(joined(iv, key), wrapping), wrapping, true},
        {"a 16-byte key", testsupport::oracleWrap(joined(iv, Bytes(key.begin(), key.begin() + 16)), wrapping),
         wrapping, false},
        {"a 64-byte payload", testsupport::oracleWrap(joined(joined(iv, key), iv), wrapping), wrapping, false},
        {"an IV cut short", testsupport::oracleWrap(joined(Bytes(iv.begin(), iv.begin() + 8), key), wrapping),
         wrapping, false},
        // Padding that checks out by chance never leaves 48 bytes: this row
        // fails every time, by the cipher or by the shape.
        {"the wrong wrapping key", testsupport::oracleWrap(joined(iv, key), wrapping), other, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.accepted) {
            EXPECT_THROW(EncryptionKey::unwrapAes256(row.wrapped, row.unwrapWith), CryptoError);
            continue;
        }
        const EncryptionKey back = EncryptionKey::unwrapAes256(row.wrapped, row.unwrapWith);
        EXPECT_EQ(back.key.iv.copyOut(), iv);
        EXPECT_EQ(back.key.key.copyOut(), key);
        EXPECT_EQ(back.algo, CipherAlgorithm::aes256);
    }
    EXPECT_THROW(EncryptionKey::unwrapAes256("not json", wrapping), KeyDecodeError);
}
