// The two answers of sharing an item: the preparation's keys and the
// confirmation naming the share.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoding/Encoding.h"
#include "shares/Server_ShareConfirmation.h"
#include "shares/Server_ShareItemPrepare.h"
#include "support/AnswerCases.h"

using namespace ostrelcomm;
using namespace testsupport;
using Json = json::Json;

namespace {

const std::string kKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

}  // namespace

TEST(ShareItemAnswers, AcceptTheirBodyAndRefuseEveryFault) {
    const std::vector<RecordCase> cases = {
        {"Server_ShareItemPrepare", decoder<Server_ShareItemPrepare>(),
         {{"umk", "U"}, {"privshkey", "P"}, {"pubshkey", kKey}, {"itemkey", "I"}},
         {"umk", "privshkey", "pubshkey", "itemkey"}, {}, "keys"},
        {"Server_ShareConfirmation", decoder<Server_ShareConfirmation>(), {{"shareUUID", "S"}}, {"shareUUID"}, {},
         "opdata"},
    };
    for (const auto& c : cases) expectStrictRecord(c);

    const auto keys = Server_ShareItemPrepare::fromBody(
                          asBytes(R"({"itemkey":"I","pubshkey":")" + kKey + R"(","privshkey":"P","umk":"U"})"))
                          .keys;
    EXPECT_EQ(keys.umk, "U");
    EXPECT_EQ(keys.privshkey, "P");
    EXPECT_EQ(keys.pubshkey, *base64Decode(kKey));
    EXPECT_EQ(keys.itemkey, "I");
    EXPECT_EQ(Server_ShareConfirmation::fromBody(asBytes(R"({"shareUUID":"S-1"})")).opdata.shareUUID, "S-1");

    // The peer's key is strict base64, whatever its length (the job checks that).
    for (const char* pubshkey : {"Zg", "Zg==\n", "Z g=="}) {
        Json body = {{"umk", "U"}, {"privshkey", "P"}, {"pubshkey", pubshkey}, {"itemkey", "I"}};
        EXPECT_FALSE(decodes(decoder<Server_ShareItemPrepare>(), body.dump())) << pubshkey;
    }
    Json shortKey = {{"umk", "U"}, {"privshkey", "P"}, {"pubshkey", "Zg=="}, {"itemkey", "I"}};
    EXPECT_TRUE(decodes(decoder<Server_ShareItemPrepare>(), shortKey.dump()));
}
