#include "crypto/CbcEnvelope.h"

#include <gtest/gtest.h>

#include "crypto/CryptoError.h"
#include "encoding/Encoding.h"
#include "support/CryptoOracle.h"

using namespace ostrelcomm;
using testsupport::oracleOpen;
using testsupport::oracleRandom;
using testsupport::oracleSeal;

namespace {

// NIST SP 800-38A F.2.5, CBC-AES256.
const Bytes kKey = *fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Bytes kIv = *fromHex("000102030405060708090a0b0c0d0e0f");
const Bytes kPlain = *fromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51");
const Bytes kCipher = *fromHex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d");

}  // namespace

TEST(CbcEnvelope, SealsTheIvFollowedByTheCiphertext) {
    const Bytes sealed = CbcEnvelope::seal(kKey, kIv, kPlain);
    // IV, two vector blocks, one block of padding.
    ASSERT_EQ(sealed.size(), 16u + 32u + 16u);
    EXPECT_EQ(toHex(ByteView(sealed).first(16)), toHex(kIv));
    EXPECT_EQ(toHex(ByteView(sealed).subspan(16, 32)), toHex(kCipher));
    EXPECT_EQ(CbcEnvelope::open(kKey, sealed), kPlain);
}

TEST(CbcEnvelope, ReadsAndWritesTheOraclesForm) {
    const Bytes key = oracleRandom(32);
    for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 1000u}) {
        const Bytes plain = oracleRandom(length);
        EXPECT_EQ(CbcEnvelope::open(key, oracleSeal(key, plain)), plain) << length;
        const Bytes sealed = CbcEnvelope::seal(key, plain);
        EXPECT_EQ(sealed.size(), 16 + (length / 16 + 1) * 16) << length;
        EXPECT_EQ(oracleOpen(key, sealed), plain) << length;
    }
    // A fresh IV each time.
    EXPECT_NE(CbcEnvelope::seal(key, kPlain), CbcEnvelope::seal(key, kPlain));
}

TEST(CbcEnvelope, RefusesWhatCannotBeAnEnvelope) {
    const Bytes sealed = CbcEnvelope::seal(kKey, kIv, kPlain);
    // Only a 32-byte key: the cryptor would take 16 or 24 bytes as AES-128 or -192.
    for (std::size_t keyLength : {0u, 16u, 24u, 31u, 33u}) {
        EXPECT_THROW(CbcEnvelope::seal(Bytes(keyLength, 1), kPlain), CryptoError) << keyLength;
        EXPECT_THROW(CbcEnvelope::open(Bytes(keyLength, 1), sealed), CryptoError) << keyLength;
    }
    EXPECT_THROW(CbcEnvelope::seal(kKey, Bytes(15), kPlain), CryptoError);
    for (std::size_t length : {0u, 15u, 16u, 17u, 31u})
        EXPECT_THROW(CbcEnvelope::open(kKey, ByteView(sealed).first(length)), CryptoError) << length;
}
