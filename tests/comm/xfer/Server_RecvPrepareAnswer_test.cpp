#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "encoding/Encoding.h"
#include "support/AnswerCases.h"
#include "xfer/Server_RecvPrepareAnswer.h"

using namespace ostrelcomm;
using namespace testsupport;
using Json = json::Json;

namespace {

const std::string kWrapped = R"({"iv":"AAAAAAAAAAAAAAAAAAAAAA==","key":"AQEBAQEBAQEBAQEBAQEBAQ=="})";
const std::string kSum0 = std::string(64, 'a');
const std::string kSum1 = std::string(64, 'b');

// A file of one full block and one byte, as the server lists an own file.
Json ownFile() {
    return {{"itemUUID", "F1"},
            {"fileSize", 4194305},
            {"attrib", {"a", "b"}},
            {"chunks", {{{"begin", 0}, {"end", 4194303}, {"chksum", kSum0}},
                        {{"begin", 4194304}, {"end", 4194304}, {"chksum", kSum1}}}},
            {"metadata", base64Encode(toBytes("encrypted metadata"))},
            {"itemkey", kWrapped},
            {"treehash-SHA256", std::string(64, 'c')},
            {"umk", kWrapped}};
}

// A file shared with the user: the owner's public key and the user's wrapped
// private sharing key in place of the master key.
Json sharedFile() {
    Json body = ownFile();
    body.erase("umk");
    body["pubshkey"] = base64Encode(Bytes(32, 9));
    body["privshkey"] = kWrapped;
    return body;
}

Server_RecvPrepareAnswer::Answer decode(const std::string& body) {
    return Server_RecvPrepareAnswer::fromBody(asBytes(body)).answer;
}

}  // namespace

TEST(Server_RecvPrepareAnswer, OwnAndSharedFilesDecode) {
    const auto own = decode(ownFile().dump());
    EXPECT_EQ(own.itemUUID, "F1");
    EXPECT_EQ(own.fileSize, 4194305u);
    EXPECT_EQ(own.attrib, (std::vector<std::string>{"a", "b"}));
    ASSERT_EQ(own.chunks.size(), 2u);
    EXPECT_EQ(own.chunks[0].begin, 0u);
    EXPECT_EQ(own.chunks[0].end, 4194303u);
    EXPECT_EQ(own.chunks[0].chksum, kSum0);
    EXPECT_EQ(own.chunks[1].begin, 4194304u);
    EXPECT_EQ(own.chunks[1].end, 4194304u);
    EXPECT_EQ(own.chunks[1].chksum, kSum1);
    EXPECT_EQ(toText(own.metadata), "encrypted metadata");
    EXPECT_EQ(own.itemkey, kWrapped);
    EXPECT_EQ(own.treehash, std::string(64, 'c'));
    EXPECT_EQ(own.umk, kWrapped);
    EXPECT_FALSE(own.pubshkey.has_value());
    EXPECT_FALSE(own.privshkey.has_value());

    const auto shared = decode(sharedFile().dump());
    EXPECT_FALSE(shared.umk.has_value());
    EXPECT_EQ(shared.pubshkey, Bytes(32, 9));
    EXPECT_EQ(shared.privshkey, kWrapped);

    Json empty = ownFile();
    empty["fileSize"] = 0;
    empty["chunks"] = Json::array();
    empty["attrib"] = Json::array();
    EXPECT_TRUE(decode(empty.dump()).chunks.empty());

    Json largest = ownFile();
    largest["fileSize"] = 18446744073709551615u;
    largest["chunks"][1]["end"] = 18446744073709551615u;
    EXPECT_EQ(decode(largest.dump()).fileSize, 18446744073709551615u);
    EXPECT_EQ(decode(largest.dump()).chunks[1].end, 18446744073709551615u);
}

// Missing, null and mistyped keys, the envelope, unknown keys: the same
// checks every answer record passes.
TEST(Server_RecvPrepareAnswer, RequiredAndOptionalKeys) {
    expectStrictRecord({"own file", decoder<Server_RecvPrepareAnswer>(), ownFile(),
                        {"itemUUID", "fileSize", "attrib", "chunks", "metadata", "itemkey", "treehash-SHA256"},
                        {"umk"}, "answer"});
    expectStrictRecord({"shared file", decoder<Server_RecvPrepareAnswer>(), sharedFile(), {}, {"pubshkey", "privshkey"},
                        ""});
}

TEST(Server_RecvPrepareAnswer, RefusesWhatItCannotTakeAsItIs) {
    // Numbers beyond 64 bits cannot be held by a JSON value, so each row
    // replaces one marker in the body's text.
    const std::string marker = "\"@\"";
    struct Row {
        const char* name;
        std::function<void(Json&)> change;
        std::string value;  // the marker's replacement; empty to keep the body as changed
    };
    const std::vector<Row> rows = {
        {"treehash under its field name", [](Json& b) { b["treehash"] = b["treehash-SHA256"]; b.erase("treehash-SHA256"); }, ""},
        {"negative fileSize", [](Json& b) { b["fileSize"] = "@"; }, "-1"},
        {"fileSize as text", [](Json& b) { b["fileSize"] = "@"; }, "\"12\""},
        {"fractional fileSize", [](Json& b) { b["fileSize"] = "@"; }, "1.5"},
        {"fileSize beyond 64 bits", [](Json& b) { b["fileSize"] = "@"; }, "18446744073709551616"},
        {"fileSize as an exponent", [](Json& b) { b["fileSize"] = "@"; }, "1e3"},
        {"chunk without chksum", [](Json& b) { b["chunks"][0].erase("chksum"); }, ""},
        {"chunk with a null chksum", [](Json& b) { b["chunks"][0]["chksum"] = nullptr; }, ""},
        {"chunk ending at -1", [](Json& b) { b["chunks"][1]["end"] = "@"; }, "-1"},
        {"chunk beginning beyond 64 bits", [](Json& b) { b["chunks"][1]["begin"] = "@"; }, "18446744073709551616"},
        {"chunk that is not an object", [](Json& b) { b["chunks"][1] = "0-1"; }, ""},
        {"null chunk", [](Json& b) { b["chunks"][1] = nullptr; }, ""},
        {"chunks as an object", [](Json& b) { b["chunks"] = b["chunks"][0]; }, ""},
        {"metadata with short padding", [](Json& b) { b["metadata"] = "Zg="; }, ""},
        {"metadata with a line break", [](Json& b) { b["metadata"] = "Zm9v\nYmFy"; }, ""},
        {"pubshkey not base64", [](Json& b) { b["pubshkey"] = "not base64"; }, ""},
        {"attrib word that is not text", [](Json& b) { b["attrib"][1] = 1; }, ""},
        {"attrib as one text", [](Json& b) { b["attrib"] = "a"; }, ""},
        {"record wrapped as answer", [](Json& b) { b = Json{{"answer", b}}; }, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Json body = ownFile();
        row.change(body);
        std::string text = body.dump();
        if (!row.value.empty()) text.replace(text.find(marker), marker.size(), row.value);
        EXPECT_FALSE(decodes(decoder<Server_RecvPrepareAnswer>(), text)) << text;
    }
}

TEST(Server_RecvPrepareAnswer, EncodesWhatItDecodes) {
    Json extra = sharedFile();
    extra["unknownKey"] = {{"nested", true}};
    for (const Json& body : {ownFile(), sharedFile(), extra}) {
        const auto record = decode(body.dump());
        const std::string encoded = json::dump(json::OrderedJson(record));
        // The same keys and values as the body, absent optionals left out.
        Json known = body;
        known.erase("unknownKey");
        EXPECT_EQ(Json::parse(encoded), known) << encoded;
        EXPECT_EQ(json::dump(json::OrderedJson(decode(encoded))), encoded);
    }
}
