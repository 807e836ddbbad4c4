// The three answers of the trusted-peer requests: the add confirmation, the
// list of trust codes and the removal confirmation.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoding/Encoding.h"
#include "shares/Server_AddTrustConfirmation.h"
#include "shares/Server_RemoveTrustConfirmation.h"
#include "shares/Server_TrustsList.h"
#include "support/AnswerCases.h"

using namespace ostrelcomm;
using namespace testsupport;
using Json = json::Json;

namespace {

const std::string kKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

}  // namespace

TEST(TrustAnswers, ConfirmationsAcceptTheirBodyAndRefuseEveryFault) {
    const std::vector<RecordCase> cases = {
        {"Server_RemoveTrustConfirmation", decoder<Server_RemoveTrustConfirmation>(), {{"trustUUID", "T"}},
         {"trustUUID"}, {}, "opdata"},
        {"Server_AddTrustConfirmation", decoder<Server_AddTrustConfirmation>(),
         {{"peerUUID", "P"}, {"trustUUID", "T"}}, {}, {"peerUUID", "trustUUID"}, ""},
    };
    for (const auto& c : cases) expectStrictRecord(c);

    const auto empty = Server_AddTrustConfirmation::fromBody(asBytes("{}")).confirmation;
    EXPECT_FALSE(empty.peerUUID.has_value());
    EXPECT_FALSE(empty.trustUUID.has_value());
    const auto added = Server_AddTrustConfirmation::fromBody(asBytes(R"({"peerUUID":"P","trustUUID":"T"})"));
    EXPECT_EQ(added.confirmation.trustUUID, "T");
    EXPECT_EQ(Server_RemoveTrustConfirmation::fromBody(asBytes(R"({"trustUUID":"T"})")).opdata.trustUUID, "T");
}

TEST(TrustAnswers, ListKeepsTheServersOrderAndFailsWhole) {
    const std::string first = R"({"trustUUID":"T-1","peerUUID":"P-1","peerUsername":"bob","pubshkey":")" + kKey +
                              R"("})";
    const std::string second = R"({"peerUsername":"carol","pubshkey":"+\/\/+","peerUUID":"P-2","trustUUID":"T-2"})";
    const auto list = Server_TrustsList::fromBody(asBytes("[" + first + "," + second + "]")).trusts;
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], TrustCode("T-1", "P-1", "bob", *base64Decode(kKey)));
    EXPECT_EQ(list[1], TrustCode("T-2", "P-2", "carol", Bytes{0xfb, 0xff, 0xfe}));
    EXPECT_TRUE(Server_TrustsList::fromBody(asBytes("[]")).trusts.empty());

    const std::string noKey = R"({"trustUUID":"T-3","peerUUID":"P-3","peerUsername":"dan"})";
    const std::string badKey = R"({"trustUUID":"T-3","peerUUID":"P-3","peerUsername":"dan","pubshkey":"Zg="})";
    const std::string numberName = R"({"trustUUID":"T-3","peerUUID":"P-3","peerUsername":7,"pubshkey":""})";
    for (const std::string& body : {std::string(""), std::string("{}"), first, "[" + first + ",null]",
                                    "[" + first + "," + noKey + "]", "[" + first + "," + badKey + "]",
                                    "[" + numberName + "]", "[" + first + ",[]]",
                                    std::string(100000, '[') + std::string(100000, ']')}) {
        EXPECT_FALSE(decodes(decoder<Server_TrustsList>(), body)) << body.substr(0, 80);
    }
}
