#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "http/HTTPError.h"
#include "http/Http.h"
#include "http/ServerError.h"
#include "http/Server_GenericConfirmation.h"

using namespace ostrelcomm;

namespace {

using Triple = std::tuple<std::optional<std::string>, std::optional<std::string>, std::optional<std::string>>;

const Triple kJsonError{"JSONError", "Unable to decode a server error: Cannot decode JSON data!", std::nullopt};

}  // namespace

TEST(DecodeSrvError, Table) {
    struct Row {
        const char* name;
        std::optional<std::string> body;
        Triple expected;
    };
    const std::vector<Row> rows = {
        {"absent body", std::nullopt,
         {"NoIncomingPayload", "Unable to decode a server error: Payload empty!", std::nullopt}},
        {"empty body", "", kJsonError},
        {"not JSON", "<html>oops</html>", kJsonError},
        {"array", R"([{"code":"C","message":"M","extInfo":""}])", kJsonError},
        {"all three", R"({"code":"C","message":"M","extInfo":"E"})", {"C", "M", "E"}},
        {"empty extInfo", R"({"code":"C","message":"M","extInfo":""})", {"C", "M", ""}},
        {"further keys dropped", R"({"extra":1,"code":"C","message":"M","extInfo":"E","more":[1]})", {"C", "M", "E"}},
        {"extInfo missing", R"({"code":"C","message":"M"})", kJsonError},
        {"extInfo null", R"({"code":"C","message":"M","extInfo":null})", kJsonError},
        {"extInfo a number", R"({"code":"C","message":"M","extInfo":404})", kJsonError},
        {"code missing", R"({"message":"M","extInfo":""})", kJsonError},
        {"message not text", R"({"code":"C","message":true,"extInfo":""})", kJsonError},
        {"too deep", std::string(100000, '['), kJsonError},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<Bytes> body;
        if (row.body) body = toBytes(*row.body);
        EXPECT_EQ(Http::decodeSrvError(body), row.expected);
    }
}

TEST(ServerError, DecodesAndEncodesInKeyOrder) {
    ServerError report(asBytes(R"({"extInfo":"x","message":"m","code":"c"})"));
    EXPECT_EQ(report.answer.code, "c");
    EXPECT_EQ(report.answer.message, "m");
    EXPECT_EQ(report.answer.extInfo, "x");
    json::OrderedJson encoded = report.answer;
    EXPECT_EQ(json::dump(encoded), R"({"code":"c","message":"m","extInfo":"x"})");
    EXPECT_THROW(ServerError(asBytes("")), std::exception);
}

TEST(HTTPError, KindsAndAbsentException) {
    HTTPError fresh{.error = HTTPErrors::dataTaskError, .errDescr = "x"};
    EXPECT_FALSE(fresh.exception.has_value()) << "absent, which differs from the empty text";
    EXPECT_TRUE(std::holds_alternative<std::monostate>(fresh.extInfo));
    EXPECT_EQ(HTTPErrors::badStatusCode, HTTPErrors::badStatusCode);
    EXPECT_NE(HTTPErrors::badStatusCode, HTTPErrors::badAuthentication);
    EXPECT_EQ(std::hash<HTTPErrors>{}(HTTPErrors::badAuthentication), std::hash<HTTPErrors>{}(HTTPErrors::badAuthentication));
}

TEST(GenericConfirmation, OpDataTable) {
    struct Row {
        const char* name;
        std::string body;
        bool decodes;
        std::optional<std::string> parentUUID;
        std::string itemUUID;
    };
    const std::vector<Row> rows = {
        {"item only", R"({"itemUUID":"I"})", true, std::nullopt, "I"},
        {"parent null", R"({"parentUUID":null,"itemUUID":"I"})", true, std::nullopt, "I"},
        {"both and a third key", R"({"parentUUID":"P","itemUUID":"I","other":{"x":1}})", true, "P", "I"},
        {"item missing", R"({"parentUUID":"P"})", false, {}, {}},
        {"item null", R"({"itemUUID":null})", false, {}, {}},
        {"item a number", R"({"itemUUID":5})", false, {}, {}},
        {"parent a number", R"({"parentUUID":5,"itemUUID":"I"})", false, {}, {}},
        {"envelope", R"({"opdata":{"itemUUID":"I"}})", false, {}, {}},
        {"empty body", "", false, {}, {}},
        {"not JSON", "itemUUID=I", false, {}, {}},
        {"array", R"([{"itemUUID":"I"}])", false, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.decodes) {
            EXPECT_THROW(Server_GenericConfirmation::fromBody(asBytes(row.body)), std::exception);
            continue;
        }
        auto answer = Server_GenericConfirmation::fromBody(asBytes(row.body));
        EXPECT_EQ(answer.opdata.parentUUID, row.parentUUID);
        EXPECT_EQ(answer.opdata.itemUUID, row.itemUUID);
    }
}

TEST(GenericConfirmation, OpDataEncodingOmitsAbsentParent) {
    json::OrderedJson withoutParent = Server_GenericConfirmation::OpData{std::nullopt, "I"};
    EXPECT_EQ(json::dump(withoutParent), R"({"itemUUID":"I"})");
    json::OrderedJson withParent = Server_GenericConfirmation::OpData{"P", "I"};
    EXPECT_EQ(json::dump(withParent), R"({"parentUUID":"P","itemUUID":"I"})");
}
