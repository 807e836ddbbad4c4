#include "json/StrictJson.h"

#include <gtest/gtest.h>

using namespace ostrelcomm;
using namespace ostrelcomm::json;

TEST(StrictJson, RequiredAndOptionalMembers) {
    auto obj = parse(std::string_view(R"({"s":"x","n":null,"b":true,"u":5,"neg":-3,"f":1.5,"big":4294967296})"));
    EXPECT_EQ(requireString(obj, "s"), "x");
    EXPECT_THROW(requireString(obj, "n"), DecodeError);
    EXPECT_THROW(requireString(obj, "missing"), DecodeError);
    EXPECT_FALSE(optionalString(obj, "n").has_value());
    EXPECT_FALSE(optionalString(obj, "missing").has_value());
    EXPECT_THROW(optionalString(obj, "b"), DecodeError) << "present with the wrong type is an error";
    EXPECT_TRUE(requireBool(obj, "b"));
    EXPECT_EQ(requireInteger<std::uint32_t>(obj, "u"), 5u);
    EXPECT_THROW(requireInteger<std::uint32_t>(obj, "neg"), DecodeError);
    EXPECT_EQ(requireInteger<std::int64_t>(obj, "neg"), -3);
    EXPECT_THROW(requireInteger<std::uint64_t>(obj, "f"), DecodeError) << "no silent float conversion";
    EXPECT_THROW(requireInteger<std::uint32_t>(obj, "big"), DecodeError);
    EXPECT_EQ(requireInteger<std::uint64_t>(obj, "big"), 4294967296u);
    EXPECT_DOUBLE_EQ(requireDouble(obj, "f"), 1.5);
}

TEST(StrictJson, Base64Members) {
    auto obj = parse(std::string_view(R"({"ok":"Zm9v","bad":"Zg=","ws":"Zg==\n"})"));
    EXPECT_EQ(toText(requireBase64(obj, "ok")), "foo");
    EXPECT_THROW(requireBase64(obj, "bad"), DecodeError);
    EXPECT_THROW(requireBase64(obj, "ws"), DecodeError);
}

TEST(StrictJson, Dates) {
    using namespace std::chrono;
    struct Row {
        const char* text;
        std::optional<std::int64_t> epoch;
    };
    const std::vector<Row> rows = {
        {"1970-01-01T00:00:00Z", 0},
        {"2024-02-29T12:34:56Z", 1709210096},
        {"2024-02-29T14:34:56+02:00", 1709210096},
        {"0001-01-01T00:00:00Z", -62135596800},
        {"9999-12-31T23:59:59Z", 253402300799},
        {"0001-01-01T00:00:00-01:00", -62135593200},
        // In UTC these fall in year 0 and year 10000.
        {"0001-01-01T00:00:00+01:00", std::nullopt},
        {"9999-12-31T23:59:59-01:00", std::nullopt},
        {"2024-02-29T12:34:56.123Z", std::nullopt},
        {"2023-02-29T12:34:56Z", std::nullopt},
        {"0000-01-01T00:00:00Z", std::nullopt},
        {"2024-01-01 00:00:00Z", std::nullopt},
        {"2024-01-01T24:00:00Z", std::nullopt},
        {"2024-01-01T00:00:00", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        auto parsed = parseDate(row.text);
        ASSERT_EQ(parsed.has_value(), row.epoch.has_value()) << row.text;
        if (parsed) {
            EXPECT_EQ(parsed->time_since_epoch().count(), *row.epoch) << row.text;
        }
    }
    EXPECT_EQ(formatDate(*parseDate("2024-02-29T14:34:56+02:00")), "2024-02-29T12:34:56Z");
    EXPECT_EQ(formatDate(*parseDate("0001-01-01T00:00:00Z")), "0001-01-01T00:00:00Z");
}

TEST(StrictJson, ParseRefusesNonJsonAndDeepNesting) {
    EXPECT_THROW(parse(std::string_view("")), DecodeError);
    EXPECT_THROW(parse(std::string_view("{")), DecodeError);
    std::string deep(100000, '[');
    EXPECT_THROW(parse(std::string_view(deep)), DecodeError);
    std::string okDepth = std::string(100, '[') + std::string(100, ']');
    EXPECT_NO_THROW(parse(std::string_view(okDepth)));
    // Brackets inside strings do not count.
    std::string inString = "\"" + std::string(10000, '[') + "\"";
    EXPECT_NO_THROW(parse(std::string_view(inString)));
    // A NUL byte is no JSON; the parser would end the text there and take
    // whatever follows as absent.
    for (const std::string& text : {std::string("{}\0", 3), std::string("{}\0garbage", 10),
                                    std::string("{\"a\":\"x\0y\"}", 11)})
        EXPECT_THROW(parse(std::string_view(text)), DecodeError) << text.size();
}

TEST(StrictJson, EncodingKeepsOrderAndOmitsAbsent) {
    OrderedJson obj = OrderedJson::object();
    obj["zeta"] = 1;
    putOptional(obj, "absent", std::optional<int>{});
    putOptional(obj, "alpha", std::optional<std::string>{"a/b"});
    putBase64(obj, "data", asBytes("foo"));
    EXPECT_EQ(dump(obj), R"({"zeta":1,"alpha":"a/b","data":"Zm9v"})");
}
