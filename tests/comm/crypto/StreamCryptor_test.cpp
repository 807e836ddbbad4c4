#include "crypto/StreamCryptor.h"

#include <gtest/gtest.h>

#include "crypto/CryptoError.h"
#include "encoding/Encoding.h"

using namespace ostrelcomm;

namespace {

// NIST SP 800-38A F.2.5 / F.2.6, CBC-AES256.
const Bytes kKey = *fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Bytes kIv = *fromHex("000102030405060708090a0b0c0d0e0f");
const Bytes kPlain = *fromHex(
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
const Bytes kCipher = *fromHex(
    "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
    "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");

}  // namespace

TEST(StreamCryptor, NistCbcAes256Encrypt) {
    // The vectors carry no padding; ours appends one full block of 16s.
    Bytes out = StreamCryptor::run(StreamCryptor::Operation::encrypt, CipherAlgorithm::aes256, kKey, kIv, kPlain);
    ASSERT_EQ(out.size(), 80u);
    EXPECT_EQ(toHex(ByteView(out).first(64)), toHex(kCipher));
}

TEST(StreamCryptor, NistCbcAes256DecryptInPieces) {
    Bytes padded = StreamCryptor::run(StreamCryptor::Operation::encrypt, CipherAlgorithm::aes256, kKey, kIv, kPlain);
    StreamCryptor dec(StreamCryptor::Operation::decrypt, CipherAlgorithm::aes256, kKey, kIv);
    Bytes out;
    for (std::size_t i = 0; i < padded.size(); i += 13) {
        Bytes part = dec.update(ByteView(padded).subspan(i, std::min<std::size_t>(13, padded.size() - i)));
        out.insert(out.end(), part.begin(), part.end());
    }
    Bytes tail = dec.final();
    out.insert(out.end(), tail.begin(), tail.end());
    EXPECT_EQ(out, kPlain);
}

TEST(StreamCryptor, RefusesWhatCannotRun) {
    using Op = StreamCryptor::Operation;
    EXPECT_THROW(StreamCryptor(Op::encrypt, CipherAlgorithm::aes256, Bytes(31), kIv), CryptoError);
    EXPECT_THROW(StreamCryptor(Op::encrypt, CipherAlgorithm::aes256, kKey, Bytes(8)), CryptoError);
    EXPECT_THROW(StreamCryptor(Op::encrypt, CipherAlgorithm::blowfish, kKey, kIv), CryptoError);
    // A ciphertext that is not a whole number of blocks, and one whose padding is wrong.
    EXPECT_THROW(StreamCryptor::run(Op::decrypt, CipherAlgorithm::aes256, kKey, kIv, Bytes(17)), CryptoError);
    EXPECT_THROW(StreamCryptor::run(Op::decrypt, CipherAlgorithm::aes256, kKey, kIv, kCipher), CryptoError);
}

// NIST SP 800-38A F.2.1, F.2.3, F.2.5 (first block): the key's length picks
// the AES variant, through the form that writes into the caller's buffer.
TEST(StreamCryptor, KeyLengthPicksTheVariantAndTheCallersBufferTakesTheOutput) {
    struct Case {
        const char* key;
        const char* firstBlock;
    };
    const Case cases[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c", "7649abac8119b246cee98e9b12e9197d"},
        {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", "4f021db243bc633d7178183a9fa071e8"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", "f58c4c04d6e5f1ba779eabfb5f7bfbd6"},
    };
    using Op = StreamCryptor::Operation;
    const ByteView block = ByteView(kPlain).first(16);
    for (const auto& c : cases) {
        const Bytes key = *fromHex(c.key);
        Bytes out(block.size() + 16 + 3, 0xee);
        const std::size_t n = StreamCryptor::run(Op::encrypt, CipherAlgorithm::aes256, key, kIv, block, out.data());
        ASSERT_EQ(n, 32u) << c.key;
        EXPECT_EQ(toHex(ByteView(out).first(16)), c.firstBlock);
        EXPECT_EQ(toHex(ByteView(out).subspan(32)), "eeeeee");  // nothing written past the count
        Bytes back(n + 16);
        back.resize(StreamCryptor::run(Op::decrypt, CipherAlgorithm::aes, key, kIv, ByteView(out).first(n), back.data()));
        EXPECT_EQ(toHex(back), toHex(block));
    }
}
