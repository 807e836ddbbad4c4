// The QR trust code: what generate writes, and what the reader makes of the
// texts a camera or another client may hand it. The fixtures are the output
// of Python's json.dumps (spaces after the separators, non-ASCII escaped
// unless said), pasted as they came.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "encoding/Encoding.h"
#include "json/StrictJson.h"
#include "shares/TrustCode.h"

namespace ostrelcomm {
namespace {

const std::string kKeyText = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";
// The bytes 0 to 31.
Bytes key() {
    Bytes bytes;
    for (int i = 0; i < 32; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
    return bytes;
}

TEST(TrustCode, GenerateWritesTheThreeKeysCompactly) {
    const auto text = TrustCode::generate("6F9619FF-8B86-D011-B42D-00C04FC964FF", "bob", key());
    ASSERT_TRUE(text);
    // json.dumps(..., separators=(",", ":"))
    EXPECT_EQ(*text, R"({"peerUUID":"6F9619FF-8B86-D011-B42D-00C04FC964FF","peerUsername":"bob","pubshkey":")" +
                         kKeyText + R"("})");
    const auto object = json::parse(std::string_view(*text));
    EXPECT_EQ(object.size(), 3u);
    EXPECT_FALSE(object.contains("trustUUID"));

    // What generate wrote reads back whole.
    const TrustCode back(*text);
    EXPECT_EQ(back, TrustCode(std::nullopt, "6F9619FF-8B86-D011-B42D-00C04FC964FF", "bob", key()));

    // An entry of the server's list writes its trust identifier first.
    EXPECT_EQ(TrustCode("T-9", "P-1", "bob", Bytes{1, 2}).encode(),
              R"({"trustUUID":"T-9","peerUUID":"P-1","peerUsername":"bob","pubshkey":"AQI="})");
}

TEST(TrustCode, ANameOutsideAsciiIsWrittenAsUtf8ButNotReadBack) {
    const auto text = TrustCode::generate("P-1", "ren\u00e9", key());
    ASSERT_TRUE(text);
    // json.dumps(..., separators=(",", ":"), ensure_ascii=False)
    EXPECT_EQ(*text, R"({"peerUUID":"P-1","peerUsername":"rené","pubshkey":")" + kKeyText + R"("})");
    EXPECT_EQ(TrustCode(*text), TrustCode());

    // Text that is not UTF-8 cannot be encoded at all.
    EXPECT_FALSE(TrustCode::generate("P-1", "ren\xe9", key()));
    EXPECT_THROW((void)TrustCode(std::nullopt, "P-\xff", "bob", key()).encode(), std::exception);
}

TEST(TrustCode, ReaderTakesAnyValidJsonAndGivesTheEmptyRecordForAnythingElse) {
    struct Case {
        const char* what;
        std::string text;
        // Absent: the empty record.
        std::optional<TrustCode> read;
    };
    const TrustCode bob(std::nullopt, "P-1", "bob", key());
    const std::vector<Case> cases = {
        {"python's own output",
         R"({"peerUUID": "6F9619FF-8B86-D011-B42D-00C04FC964FF", "peerUsername": "bob", "pubshkey": ")" + kKeyText +
             R"("})",
         TrustCode(std::nullopt, "6F9619FF-8B86-D011-B42D-00C04FC964FF", "bob", key())},
        {"trustUUID null",
         R"({"trustUUID": null, "peerUUID": "P-1", "peerUsername": "bob", "pubshkey": ")" + kKeyText + R"("})", bob},
        {"trustUUID as text",
         R"({"trustUUID": "T-9", "peerUUID": "P-1", "peerUsername": "bob", "pubshkey": ")" + kKeyText + R"("})",
         TrustCode("T-9", "P-1", "bob", key())},
        {"extra keys in another order",
         R"({"pubshkey": ")" + kKeyText +
             R"(", "extra": [1, {"x": null}], "peerUsername": "bob", "peerUUID": "P-1", "version": 2})",
         bob},
        {"escaped solidus", R"({"peerUUID":"P-1","peerUsername":"bob","pubshkey":"+\/\/+"})",
         TrustCode(std::nullopt, "P-1", "bob", Bytes{0xfb, 0xff, 0xfe})},
        {"escaped e-acute", R"({"peerUUID": "P-1", "peerUsername": "ren\u00e9", "pubshkey": ")" + kKeyText + R"("})",
         TrustCode(std::nullopt, "P-1", "ren\u00e9", key())},
        {"an empty key", R"({"peerUUID":"P-1","peerUsername":"bob","pubshkey":""})",
         TrustCode(std::nullopt, "P-1", "bob", Bytes{})},

        {"empty text", "", std::nullopt},
        {"abc", "abc", std::nullopt},
        {"no peerUsername", R"({"peerUUID": "P-1", "pubshkey": ")" + kKeyText + R"("})", std::nullopt},
        {"peerUsername null", R"({"peerUUID":"P-1","peerUsername":null,"pubshkey":""})", std::nullopt},
        {"no peerUUID", R"({"peerUsername":"bob","pubshkey":""})", std::nullopt},
        {"no pubshkey", R"({"peerUUID":"P-1","peerUsername":"bob"})", std::nullopt},
        {"pubSHKey spelled as the profile does", R"({"peerUUID":"P-1","peerUsername":"bob","pubSHKey":""})",
         std::nullopt},
        {"invalid base64", R"({"peerUUID": "P-1", "peerUsername": "bob", "pubshkey": "Zg="})", std::nullopt},
        {"base64 with a line break", R"({"peerUUID":"P-1","peerUsername":"bob","pubshkey":"AQI=\n"})", std::nullopt},
        {"a number for a name", R"({"peerUUID":"P-1","peerUsername":7,"pubshkey":""})", std::nullopt},
        {"trustUUID as a number", R"({"trustUUID":9,"peerUUID":"P-1","peerUsername":"bob","pubshkey":""})",
         std::nullopt},
        {"raw e-acute", R"({"peerUUID": "P-1", "peerUsername": "rené", "pubshkey": ")" + kKeyText + R"("})",
         std::nullopt},
        {"an array of one code", R"([{"peerUUID":"P-1","peerUsername":"bob","pubshkey":""}])", std::nullopt},
        {"text after the object", R"({"peerUUID":"P-1","peerUsername":"bob","pubshkey":""} x)", std::nullopt},
        {"a NUL inside", std::string(R"({"peerUUID":"P-1","peerUsername":"bob","pubshkey":""})") + '\0',
         std::nullopt},
        {"nested deeper than any answer", std::string(100000, '[') + std::string(100000, ']'), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TrustCode read(c.text);
        EXPECT_EQ(read, c.read.value_or(TrustCode()));
        if (!c.read) {
            EXPECT_FALSE(read.trustUUID().has_value());
            EXPECT_EQ(read.peerUUID(), "");
            EXPECT_EQ(read.peerUsername(), "");
            EXPECT_TRUE(read.pubshkey().empty());
        }
    }
}

}  // namespace
}  // namespace ostrelcomm
