#include "encoding/Encoding.h"

#include <gtest/gtest.h>

#include <string>

using namespace ostrelcomm;

TEST(Base64, Rfc4648Section10) {
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(asBytes(plain)), encoded);
        auto decoded = base64Decode(encoded);
        ASSERT_TRUE(decoded) << encoded;
        EXPECT_EQ(toText(*decoded), plain);
    }
}

TEST(Base64, StrictDecodingRefuses) {
    for (const char* bad : {"Zg=", "Zg==\n", "Z-8=", "Zm9v\r\n", " Zm9v", "Zg", "====", "Z===", "Zg==Zg==",
                            "Zm9_", "Zm9v=", "Zm=v"}) {
        EXPECT_FALSE(base64Decode(bad).has_value()) << '"' << bad << '"';
    }
}

TEST(Base64, AllByteValuesRoundTrip) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    for (std::size_t n = 0; n <= all.size(); n += 37) {
        Bytes part(all.begin(), all.begin() + static_cast<long>(n));
        EXPECT_EQ(base64Decode(base64Encode(part)), part);
    }
}

TEST(Hex, BothWays) {
    EXPECT_EQ(toHex(Bytes{0x00, 0x0a, 0xff}), "000aff");
    EXPECT_EQ(toHexUpper(Bytes{0x0a, 0xff}), "0AFF");
    EXPECT_EQ(fromHex("000AfF"), (Bytes{0x00, 0x0a, 0xff}));
    EXPECT_FALSE(fromHex("abc").has_value());
    EXPECT_FALSE(fromHex("zz").has_value());
    EXPECT_EQ(fromHex(""), Bytes{});
}

TEST(ConstantTimeEquals, ComparesContentAndLength) {
    EXPECT_TRUE(constantTimeEquals(std::string_view("abc"), std::string_view("abc")));
    EXPECT_FALSE(constantTimeEquals(std::string_view("abc"), std::string_view("abd")));
    EXPECT_FALSE(constantTimeEquals(std::string_view("abc"), std::string_view("abcd")));
    EXPECT_TRUE(constantTimeEquals(std::string_view(""), std::string_view("")));
}

TEST(IsValidUtf8, TakesWellFormedTextOnly) {
    struct Row {
        const char* what;
        std::string text;
        bool valid;
    };
    const Row rows[] = {
        {"empty", "", true},
        {"ASCII", "report.txt", true},
        {"two, three and four bytes", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"Latin-1 byte", "caf\xE9", false},
        {"lone continuation", "\x80", false},
        {"cut short at the end", "caf\xC3", false},
        {"cut short inside", "\xE2\x82x", false},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong three bytes", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"invalid lead", "\xF8\x88\x80\x80\x80", false},
    };
    for (const auto& row : rows) EXPECT_EQ(isValidUtf8(row.text), row.valid) << row.what;
}
