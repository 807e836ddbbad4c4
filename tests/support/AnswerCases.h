#pragma once

// A table row for an answer record decoded from its body, and the checks that
// every such record must pass: its valid body decodes, unknown keys are
// ignored, and each way a body can be wrong fails the whole answer.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "http/ServerAnswer.h"
#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace testsupport {

struct RecordCase {
    const char* type;
    std::function<void(ostrelcomm::ByteView)> decode;  // throws when the body does not decode
    ostrelcomm::json::Json valid;
    std::vector<std::string> required;
    std::vector<std::string> optional;
    // The answer object's field name, for the envelope check; empty when the
    // record has no required key (an envelope then decodes as the empty record).
    std::string field;
};

template <ostrelcomm::ServerAnswer T>
std::function<void(ostrelcomm::ByteView)> decoder() {
    return [](ostrelcomm::ByteView body) { (void)ostrelcomm::makeAnswer<T>(body); };
}

inline bool decodes(const std::function<void(ostrelcomm::ByteView)>& decode, const std::string& body) {
    try {
        decode(ostrelcomm::asBytes(body));
        return true;
    } catch (const ostrelcomm::json::DecodeError&) {
        return false;
    }
}

// A value of another JSON type than `value`.
inline ostrelcomm::json::Json otherType(const ostrelcomm::json::Json& value) {
    using Json = ostrelcomm::json::Json;
    return value.is_string() ? Json(12) : Json("12");
}

inline void expectStrictRecord(const RecordCase& c) {
    using Json = ostrelcomm::json::Json;
    SCOPED_TRACE(c.type);
    EXPECT_TRUE(decodes(c.decode, c.valid.dump()));
    Json extra = c.valid;
    extra["unknownKey"] = Json::array({1, 2});
    EXPECT_TRUE(decodes(c.decode, extra.dump())) << "unknown keys are ignored";

    for (const char* body : {"", "not json", "[]", "null", "\"text\"", "{", "[{}]"})
        EXPECT_FALSE(decodes(c.decode, body)) << body;
    if (!c.field.empty()) {
        EXPECT_FALSE(decodes(c.decode, Json{{c.field, c.valid}}.dump())) << "envelope";
    }

    for (const auto& key : c.required) {
        SCOPED_TRACE(key);
        Json body = c.valid;
        body.erase(key);
        EXPECT_FALSE(decodes(c.decode, body.dump())) << "missing";
        body[key] = nullptr;
        EXPECT_FALSE(decodes(c.decode, body.dump())) << "null";
        body[key] = otherType(c.valid[key]);
        EXPECT_FALSE(decodes(c.decode, body.dump())) << "wrong type";
    }
    for (const auto& key : c.optional) {
        SCOPED_TRACE(key);
        Json body = c.valid;
        body.erase(key);
        EXPECT_TRUE(decodes(c.decode, body.dump())) << "missing";
        body[key] = nullptr;
        EXPECT_TRUE(decodes(c.decode, body.dump())) << "null";
        body[key] = otherType(c.valid[key]);
        EXPECT_FALSE(decodes(c.decode, body.dump())) << "wrong type";
    }
}

}  // namespace testsupport
