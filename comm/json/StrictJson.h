#pragma once

#include <chrono>
#include <concepts>
#include <cstddef>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/Bytes.h"

// Strict decoding of the server's JSON and ordered encoding of ours. The
// server's answers are untrusted: a required key that is missing or null, a
// number of the wrong kind or range, a base64 text with bad padding, another
// alphabet or whitespace, or a date that is not RFC 3339 all fail with
// DecodeError instead of being coerced. An optional key that is missing or
// null is absent.
namespace ostrelcomm::json {

using Json = nlohmann::json;
// Encoders write keys in declaration order.
using OrderedJson = nlohmann::ordered_json;

class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Deep enough for any answer of the protocol (a folder tree nests about four
// levels a folder); deeper bodies are refused before they are parsed.
constexpr std::size_t kMaxDepth = 512;

Json parse(ByteView body, std::size_t maxDepth = kMaxDepth);
Json parse(std::string_view body, std::size_t maxDepth = kMaxDepth);

// RFC 3339 date-time without fractional seconds, "Z" or a "±hh:mm" offset,
// years 0001 to 9999. Written back in UTC with "Z".
std::optional<std::chrono::sys_seconds> parseDate(std::string_view text);
std::string formatDate(std::chrono::sys_seconds date);

// --- single values (array elements, whole bodies) ---------------------------
const Json& asObject(const Json& value, std::string_view what);
const Json& asArray(const Json& value, std::string_view what);
std::string asString(const Json& value, std::string_view what);
bool asBool(const Json& value, std::string_view what);
Bytes asBase64(const Json& value, std::string_view what);
std::chrono::sys_seconds asDate(const Json& value, std::string_view what);
double asDouble(const Json& value, std::string_view what);

template <std::integral T>
T asInteger(const Json& value, std::string_view what) {
    if (value.is_number_unsigned()) {
        auto v = value.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
            throw DecodeError(std::string(what) + ": number out of range");
        return static_cast<T>(v);
    }
    if (value.is_number_integer()) {
        auto v = value.get<std::int64_t>();
        if constexpr (std::is_unsigned_v<T>) {
            throw DecodeError(std::string(what) + ": negative number where none is allowed");
        } else {
            if (v < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
                v > static_cast<std::int64_t>(std::numeric_limits<T>::max()))
                throw DecodeError(std::string(what) + ": number out of range");
            return static_cast<T>(v);
        }
    }
    throw DecodeError(std::string(what) + ": expected an integer");
}

// --- object members ----------------------------------------------------------
// The member, or null when missing or null.
const Json* member(const Json& object, std::string_view key);
const Json& required(const Json& object, std::string_view key);

std::string requireString(const Json& object, std::string_view key);
std::optional<std::string> optionalString(const Json& object, std::string_view key);
bool requireBool(const Json& object, std::string_view key);
std::optional<bool> optionalBool(const Json& object, std::string_view key);
Bytes requireBase64(const Json& object, std::string_view key);
std::optional<Bytes> optionalBase64(const Json& object, std::string_view key);
std::chrono::sys_seconds requireDate(const Json& object, std::string_view key);
std::optional<std::chrono::sys_seconds> optionalDate(const Json& object, std::string_view key);
double requireDouble(const Json& object, std::string_view key);
std::optional<double> optionalDouble(const Json& object, std::string_view key);

template <std::integral T>
T requireInteger(const Json& object, std::string_view key) {
    return asInteger<T>(required(object, key), key);
}

template <std::integral T>
std::optional<T> optionalInteger(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (v == nullptr) return std::nullopt;
    return asInteger<T>(*v, key);
}

// --- encoding ----------------------------------------------------------------
// Compact text, keys in insertion order, no escaping beyond what JSON needs.
std::string dump(const OrderedJson& value);
Bytes dumpBytes(const OrderedJson& value);

template <class T>
void putOptional(OrderedJson& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}
void putBase64(OrderedJson& object, const char* key, ByteView bytes);
void putDate(OrderedJson& object, const char* key, std::chrono::sys_seconds date);

}  // namespace ostrelcomm::json
