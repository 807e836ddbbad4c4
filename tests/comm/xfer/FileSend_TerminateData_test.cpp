#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "crypto/EncryptionKey.h"
#include "crypto/Random.h"
#include "encoding/Encoding.h"
#include "xfer/FileSend_TerminateData.h"

using namespace ostrelcomm;
using Json = nlohmann::json;

namespace {

std::set<std::string> keysOf(const Json& object) {
    std::set<std::string> keys;
    for (const auto& item : object.items()) keys.insert(item.key());
    return keys;
}

}  // namespace

// The body read back with the JSON library alone, as the server reads it.
TEST(FileSend_TerminateData, OneFlatObjectWithTheKeyTextAsAString) {
    const EncryptionKey fileKey(CipherAlgorithm::aes256, 32);
    const Bytes masterKey = randomBytes(32);
    const std::string wrapped = fileKey.encryptKeyText(masterKey);
    const Bytes metadata = randomBytes(48);
    const Bytes thumbnail = randomBytes(1040);

    struct Row {
        const char* name;
        std::optional<Bytes> thumbnail;
        std::set<std::string> keys;
    };
    const std::vector<Row> rows = {
        {"without thumbnail", std::nullopt, {"itemkey", "metadata"}},
        {"with thumbnail", thumbnail, {"itemkey", "metadata", "thumbnail"}},
        {"with an empty thumbnail", Bytes{}, {"itemkey", "metadata", "thumbnail"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto body = FileSend_TerminateData(wrapped, metadata, row.thumbnail).encode();
        ASSERT_TRUE(body.has_value());
        const Json parsed = Json::parse(toText(*body));
        ASSERT_TRUE(parsed.is_object());
        EXPECT_EQ(keysOf(parsed), row.keys);

        ASSERT_TRUE(parsed["itemkey"].is_string());
        EXPECT_EQ(parsed["itemkey"].get<std::string>(), wrapped);
        const Json key = Json::parse(parsed["itemkey"].get<std::string>());
        EXPECT_EQ(keysOf(key), (std::set<std::string>{"iv", "key"}));

        ASSERT_TRUE(parsed["metadata"].is_string());
        EXPECT_EQ(base64Decode(parsed["metadata"].get<std::string>()), metadata);
        if (row.thumbnail) {
            ASSERT_TRUE(parsed["thumbnail"].is_string());
            EXPECT_EQ(base64Decode(parsed["thumbnail"].get<std::string>()), *row.thumbnail);
        }
    }
}

TEST(FileSend_TerminateData, NoBodyFromAKeyTextThatIsNotUtf8) {
    EXPECT_FALSE(FileSend_TerminateData("{\"iv\":\"\xff\"}", Bytes(16, 1), std::nullopt).encode().has_value());
}
