#include "crypto/Hmac.h"

#include <gtest/gtest.h>

#include "encoding/Encoding.h"

using namespace ostrelcomm;

TEST(HmacSha256, Rfc4231Cases) {
    struct Case {
        const char* name;
        Bytes key;
        Bytes data;
        std::string hex;
    };
    Bytes key4;
    for (int i = 1; i <= 25; ++i) key4.push_back(static_cast<std::uint8_t>(i));
    const std::vector<Case> cases = {
        {"RFC 4231 4.2", Bytes(20, 0x0b), toBytes("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"RFC 4231 4.3", toBytes("Jefe"), toBytes("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"RFC 4231 4.5", key4, Bytes(50, 0xcd), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {"RFC 4231 4.7", Bytes(131, 0xaa), toBytes("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toHex(HmacSha256::compute(c.key, c.data)), c.hex);
        HmacSha256 pieces(c.key);
        for (std::size_t i = 0; i < c.data.size(); i += 5)
            pieces.update(ByteView(c.data).subspan(i, std::min<std::size_t>(5, c.data.size() - i)));
        EXPECT_EQ(toHex(pieces.final()), c.hex);
        std::uint8_t out[HmacSha256::kSize];
        HmacSha256(c.key).update(c.data).final(out);
        EXPECT_EQ(toHex(ByteView(out, sizeof out)), c.hex);
    }
}

// Every HMAC starts from one prepared context; each must still be its own.
TEST(HmacSha256, LiveHmacsUnderDifferentKeysDoNotMix) {
    const Bytes data = toBytes("what do ya want for nothing?");
    HmacSha256 first(toBytes("Jefe"));
    HmacSha256 second(Bytes(20, 0x0b));
    for (std::size_t i = 0; i < data.size(); i += 4) {
        const ByteView piece = ByteView(data).subspan(i, std::min<std::size_t>(4, data.size() - i));
        first.update(piece);
        second.update(piece);
    }
    EXPECT_EQ(toHex(first.final()), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(second.final(), HmacSha256::compute(Bytes(20, 0x0b), data));
}

TEST(HmacSha256, EmptyKeyIsAllowed) {
    // An unsigned request has no key; a zero-length key must still work rather than crash.
    EXPECT_EQ(HmacSha256::compute({}, {}).size(), 32u);
}
