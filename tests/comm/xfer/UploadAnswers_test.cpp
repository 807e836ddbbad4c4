#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/AnswerCases.h"
#include "xfer/Server_FinalizeAnswer.h"
#include "xfer/Server_SendBlockAnswer.h"
#include "xfer/Server_SendPrepareAnswer.h"
#include "xfer/Server_TerminateAnswer.h"

using namespace ostrelcomm;
using namespace testsupport;
using Json = json::Json;

namespace {

const Json kBlock = {{"itemUUID", "I"}, {"blocknum", 4294967295u}, {"blockBegin", 0},
                     {"blockEnd", 18446744073709551615u}};

}  // namespace

TEST(UploadAnswers, AcceptTheirBodyAndRefuseEveryFault) {
    const std::vector<RecordCase> cases = {
        {"Server_SendPrepareAnswer", decoder<Server_SendPrepareAnswer>(), {{"itemUUID", "X"}}, {"itemUUID"}, {},
         "answer"},
        {"Server_TerminateAnswer", decoder<Server_TerminateAnswer>(), {{"itemUUID", "I"}}, {"itemUUID"}, {},
         "answer"},
        {"Server_SendBlockAnswer", decoder<Server_SendBlockAnswer>(), kBlock,
         {"itemUUID", "blocknum", "blockBegin", "blockEnd"}, {}, "answer"},
        {"Server_FinalizeAnswer", decoder<Server_FinalizeAnswer>(), {{"itemUUID", "I"}, {"umk", "U"}},
         {"itemUUID", "umk"}, {}, "answer"},
    };
    for (const auto& c : cases) expectStrictRecord(c);
}

TEST(UploadAnswers, BlockNumbersAreCheckedForKindAndWidth) {
    struct Row {
        const char* key;
        const char* value;
    };
    const std::vector<Row> rows = {
        {"blocknum", "4294967296"},           {"blocknum", "-1"},
        {"blocknum", "1.0"},                  {"blockBegin", "-1"},
        {"blockBegin", "18446744073709551616"}, {"blockEnd", "0.5"},
        {"blockEnd", "\"4194303\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " " + row.value);
        Json body = kBlock;
        body[row.key] = "@";
        std::string text = body.dump();
        text.replace(text.find("\"@\""), 3, row.value);
        EXPECT_FALSE(decodes(decoder<Server_SendBlockAnswer>(), text)) << text;
    }
}

TEST(UploadAnswers, DecodedValuesMatchTheBody) {
    EXPECT_EQ(Server_SendPrepareAnswer::fromBody(asBytes(R"({"itemUUID": "X"})")).answer.itemUUID, "X");
    EXPECT_FALSE(decodes(decoder<Server_SendPrepareAnswer>(), R"({"answer": {"itemUUID": "X"}})"));

    Json extra = kBlock;
    extra["blocknum"] = 7;
    extra["server"] = {{"node", 3}};
    const auto block = Server_SendBlockAnswer::fromBody(asBytes(extra.dump())).answer;
    EXPECT_EQ(block.itemUUID, "I");
    EXPECT_EQ(block.blocknum, 7u);
    EXPECT_EQ(block.blockBegin, 0u);
    EXPECT_EQ(block.blockEnd, 18446744073709551615u);
    EXPECT_EQ(Server_SendBlockAnswer::fromBody(asBytes(kBlock.dump())).answer.blocknum, 4294967295u);

    const auto finalize = Server_FinalizeAnswer::fromBody(asBytes(R"({"itemUUID":"I","umk":"{\"iv\":\"\"}"})")).answer;
    EXPECT_EQ(finalize.itemUUID, "I");
    EXPECT_EQ(finalize.umk, R"({"iv":""})");
    EXPECT_EQ(Server_TerminateAnswer::fromBody(asBytes(R"({"itemUUID":"T"})")).answer.itemUUID, "T");
}
