#pragma once

#include <concepts>
#include <vector>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// What every answer type provides so that the transport can make it from an
// answer body: a static fromBody() that throws when the body does not yield a
// value. The transport turns any throw into unableToDecodeAnswer. Raw block
// answers are plain Bytes, whose value is the body itself.
template <class T>
concept ServerAnswer = std::same_as<T, Bytes> || requires(ByteView body) {
    { T::fromBody(body) } -> std::same_as<T>;
};

template <ServerAnswer T>
T makeAnswer(ByteView body) {
    if constexpr (std::same_as<T, Bytes>) {
        return Bytes(body.begin(), body.end());
    } else {
        return T::fromBody(body);
    }
}

// The shapes that answer bodies come in. A record type takes part by having
// `void from_json(const json::Json&, Record&)` found by argument-dependent
// lookup; its decoder throws json::DecodeError on anything it does not accept.
namespace answer {

// The whole body is the record itself: one JSON object, no envelope.
template <class Record>
Record decodeRecord(ByteView body) {
    const json::Json value = json::parse(body);
    json::asObject(value, "answer");
    Record record{};
    from_json(value, record);
    return record;
}

// The whole body is a JSON array of records, kept in the body's order. One
// element that does not decode fails the whole answer.
template <class Element>
std::vector<Element> decodeList(ByteView body) {
    const json::Json value = json::parse(body);
    json::asArray(value, "answer");
    std::vector<Element> list;
    list.reserve(value.size());
    for (const auto& item : value) {
        json::asObject(item, "answer element");
        Element element{};
        from_json(item, element);
        list.push_back(std::move(element));
    }
    return list;
}

}  // namespace answer

}  // namespace ostrelcomm
