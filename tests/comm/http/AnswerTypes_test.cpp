#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "auth/Server_P1_Answer.h"
#include "auth/Server_P2_Answer.h"
#include "encoding/Encoding.h"
#include "http/ServerAnswer.h"
#include "http/Server_GenericConfirmation.h"
#include "http/Server_ShareConfirmation.h"
#include "support/AnswerCases.h"
#include "tree/Server_DirectoryInformations.h"
#include "tree/Server_key.h"
#include "user/PeerShareData.h"
#include "user/Server_UserHandled.h"
#include "user/Server_UserModification.h"
#include "user/Server_UserProfile.h"
#include "user/Server_UsersSessions.h"

using namespace ostrelcomm;
using namespace testsupport;
using Json = json::Json;

namespace {

const std::string kKey32 = base64Encode(Bytes(32, 7));

std::vector<RecordCase> recordCases() {
    return {
        {"Server_GenericConfirmation", decoder<Server_GenericConfirmation>(),
         {{"parentUUID", "P"}, {"itemUUID", "I"}}, {"itemUUID"}, {"parentUUID"}, "opdata"},
        {"Server_key", decoder<Server_key>(), {{"umk", "{\"iv\":\"\"}"}}, {"umk"}, {}, "key"},
        {"Server_ShareConfirmation", decoder<Server_ShareConfirmation>(), {{"shareUUID", "S"}}, {"shareUUID"}, {},
         "opdata"},
        {"Server_P1_Answer", decoder<Server_P1_Answer>(),
         {{"sessionID", "S"}, {"masterAuthParms", "{}"}, {"salt", "c2FsdA=="}, {"publickey", kKey32}},
         {"sessionID", "masterAuthParms", "salt", "publickey"}, {}, "answer"},
        {"Server_P2_Answer", decoder<Server_P2_Answer>(), {{"sessionID", "S"}, {"serverKeyProof", kKey32}},
         {"sessionID", "serverKeyProof"}, {}, "answer"},
        {"Server_UserProfile", decoder<Server_UserProfile>(),
         {{"userUUID", "U"}, {"profilename", "alice"}, {"currentplanexpiry", "2031-01-02T03:04:05Z"},
          {"pubshkey", kKey32}, {"since", "2020-05-06T07:08:09+02:00"}, {"lastlogin", "2024-02-29T23:59:59Z"},
          {"lastresult", "SUCCESS"}, {"diskspace", 18446744073709551615u}, {"usedspace", 0},
          {"availablespace", 5}, {"directories", 3}, {"files", 4}},
         {"userUUID", "profilename", "pubshkey", "since", "lastresult", "diskspace", "usedspace", "availablespace",
          "directories", "files"},
         {"currentplanexpiry", "lastlogin"}, "profile"},
        {"Server_UserModification", decoder<Server_UserModification>(),
         {{"userUUID", "U"}, {"umk", "K"}, {"privshkey", "P"}}, {"userUUID", "umk", "privshkey"}, {}, "profile"},
        {"Server_UserHandled", decoder<Server_UserHandled>(), {{"userUUID", "U"}}, {"userUUID"}, {}, "userData"},
    };
}

Json validBody(std::string_view type) {
    for (const auto& c : recordCases())
        if (c.type == type) return c.valid;
    throw std::logic_error("no such case");
}

}  // namespace

// Every nested-record answer: the valid body decodes, and each way a body can
// be wrong fails the whole answer.
TEST(AnswerTypes, NestedRecordsAcceptTheirBodyAndRefuseEveryFault) {
    for (const auto& c : recordCases()) expectStrictRecord(c);
}

// Dates without fraction, strict base64, and unsigned numbers checked for kind
// and range: the decoder never coerces.
TEST(AnswerTypes, DatesBase64AndUnsignedNumbersAreStrict) {
    struct Row {
        const char* name;
        const char* key;
        Json value;
        bool decodes;
    };
    const Json profile = validBody("Server_UserProfile");
    const std::vector<Row> profileRows = {
        {"fractional date", "since", "2020-05-06T07:08:09.5Z", false},
        {"date as a number", "since", 1588748889, false},
        {"date without zone", "lastlogin", "2024-02-29T23:59:59", false},
        {"negative unsigned", "usedspace", -1, false},
        {"fractional unsigned", "files", 1.5, false},
        {"unsigned beyond 64 bits", "diskspace", 18446744073709551616.0, false},
        {"base64 with a line break", "pubshkey", kKey32 + "\n", false},
        {"base64 without padding", "pubshkey", "c2FsdA", false},
        {"offset date", "currentplanexpiry", "2031-01-02T05:04:05+02:00", true},
    };
    for (const auto& row : profileRows) {
        SCOPED_TRACE(row.name);
        Json body = profile;
        body[row.key] = row.value;
        EXPECT_EQ(decodes(decoder<Server_UserProfile>(), body.dump()), row.decodes);
    }
}

TEST(AnswerTypes, DecodedValuesMatchTheBody) {
    auto profile = Server_UserProfile::fromBody(asBytes(validBody("Server_UserProfile").dump())).profile;
    EXPECT_EQ(profile.profilename, "alice");
    EXPECT_EQ(json::formatDate(profile.since), "2020-05-06T05:08:09Z");
    ASSERT_TRUE(profile.lastlogin.has_value());
    EXPECT_EQ(json::formatDate(*profile.lastlogin), "2024-02-29T23:59:59Z");
    EXPECT_EQ(profile.pubshkey, Bytes(32, 7));
    EXPECT_EQ(profile.diskspace, 18446744073709551615u);
    EXPECT_EQ(profile.files, 4u);

    auto p1 = Server_P1_Answer::fromBody(asBytes(validBody("Server_P1_Answer").dump())).answer;
    EXPECT_EQ(toText(p1.salt), "salt");
    EXPECT_EQ(p1.masterAuthParms, "{}");
}

TEST(AnswerTypes, ProfileEncodingOmitsAbsentDates) {
    UserProfile profile = Server_UserProfile::fromBody(asBytes(validBody("Server_UserProfile").dump())).profile;
    profile.currentplanexpiry.reset();
    profile.lastlogin.reset();
    json::OrderedJson encoded = profile;
    EXPECT_FALSE(encoded.contains("currentplanexpiry"));
    EXPECT_FALSE(encoded.contains("lastlogin"));
    // What we write, we read back unchanged.
    auto again = Server_UserProfile::fromBody(asBytes(json::dump(encoded))).profile;
    EXPECT_EQ(json::dump(json::OrderedJson(again)), json::dump(encoded));
}

TEST(AnswerTypes, ListsKeepOrderAndFailWhole) {
    const std::string first = R"({"timestamp":"2024-01-01T00:00:00Z","result":"FAILED","extdiag":"a"})";
    const std::string second = R"({"timestamp":"2024-01-02T00:00:00Z","result":"ACTUAL","extdiag":"b"})";

    auto list = Server_UsersSessions::fromBody(asBytes("[" + first + "," + second + "]")).sessions;
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].extdiag, "a");
    EXPECT_EQ(list[0].result, UserSessionData::SessionStatus::FAILED);
    EXPECT_EQ(list[1].result, UserSessionData::SessionStatus::ACTUAL);
    EXPECT_TRUE(Server_UsersSessions::fromBody(asBytes("[]")).sessions.empty());

    const auto fails = decoder<Server_UsersSessions>();
    for (const std::string& body : {
             std::string(""),
             std::string("not json"),
             first,                                                       // an object where an array belongs
             "[" + first + ",null]",                                      // one element null
             "[" + first + R"(,{"timestamp":"2024-01-02T00:00:00Z","result":"success","extdiag":"b"}])",
             "[" + first + R"(,{"timestamp":"2024-01-02T00:00:00.1Z","result":"ACTUAL","extdiag":"b"}])",
             "[" + first + R"(,{"timestamp":"2024-01-02T00:00:00Z","result":"ACTUAL"}])",
             "[" + first + ",[]]",
             std::string(100000, '[') + std::string(100000, ']'),       // deeper than any answer
         }) {
        EXPECT_FALSE(decodes(fails, body)) << body.substr(0, 80);
    }
    EXPECT_EQ(UserSessionData::sessionStatusFromRaw("SUCCESS"), UserSessionData::SessionStatus::SUCCESS);
    EXPECT_FALSE(UserSessionData::sessionStatusFromRaw("Success").has_value());
    EXPECT_EQ(UserSessionData::rawValue(UserSessionData::SessionStatus::ACTUAL), "ACTUAL");
}

TEST(AnswerTypes, ShapesThatNeverFail) {
    const std::string anything = std::string("\x00\xff not json {", 13);
    EXPECT_EQ(toText(Server_DirectoryInformations::fromBody(asBytes(anything)).jsonAnswer), anything);
    EXPECT_EQ(toText(makeAnswer<Bytes>(asBytes(anything))), anything);
    EXPECT_TRUE(makeAnswer<Bytes>({}).empty());

    const std::string good = R"({"uuid":"U","trusted":true,"username":"bob","pubSHKey":")" + kKey32 + R"("})";
    auto peer = PeerShareData::fromBody(asBytes(good));
    EXPECT_EQ(peer.uuid, "U");
    EXPECT_TRUE(peer.trusted);
    EXPECT_EQ(peer.username, "bob");
    EXPECT_EQ(peer.pubSHKey, Bytes(32, 7));

    // All four keys are required, "pubSHKey" spelled so.
    const std::string untrusted = R"({"uuid":"U","username":"bob","pubSHKey":")" + kKey32 + R"("})";
    const std::string lowerCaseKey = R"({"uuid":"U","trusted":true,"username":"bob","pubshkey":")" + kKey32 + R"("})";
    for (const std::string& body : {anything, std::string(""), std::string(R"({"uuid":"U","trusted":"yes"})"),
                                    untrusted, lowerCaseKey, std::string("[") + good + "]",
                                    std::string(100000, '{')}) {
        auto empty = PeerShareData::fromBody(asBytes(body));
        EXPECT_EQ(empty.uuid, "");
        EXPECT_FALSE(empty.trusted);
        EXPECT_EQ(empty.username, "");
        EXPECT_TRUE(empty.pubSHKey.empty());
    }
}
