#include "json/StrictJson.h"

#include <cstdio>
#include <ctime>

#include "encoding/Encoding.h"

namespace ostrelcomm::json {

namespace {

std::string describe(std::string_view what, const char* problem) {
    std::string text(what);
    text += ": ";
    text += problem;
    return text;
}

// One linear pass over the text so that a hostile body cannot make the parser
// or the destructor of the parsed value recurse without bound.
void checkDepth(std::string_view text, std::size_t maxDepth) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) throw DecodeError("JSON nested too deeply");
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

bool digits(std::string_view s, std::size_t pos, std::size_t count, int& out) {
    if (pos + count > s.size()) return false;
    out = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

}  // namespace

Json parse(std::string_view body, std::size_t maxDepth) {
    // The JSON library ends its input at a NUL byte and ignores the rest, so
    // "{}\0anything" would pass; a raw NUL is never valid JSON.
    if (body.find('\0') != std::string_view::npos) throw DecodeError("JSON text holds a NUL byte");
    checkDepth(body, maxDepth);
    try {
        return Json::parse(body.begin(), body.end());
    } catch (const Json::exception&) {
        throw DecodeError("body is not valid JSON");
    }
}

Json parse(ByteView body, std::size_t maxDepth) {
    return parse(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()), maxDepth);
}

std::optional<std::chrono::sys_seconds> parseDate(std::string_view s) {
    using namespace std::chrono;
    int y, mo, d, h, mi, sec;
    if (s.size() < 20) return std::nullopt;
    if (!digits(s, 0, 4, y) || s[4] != '-' || !digits(s, 5, 2, mo) || s[7] != '-' || !digits(s, 8, 2, d) ||
        (s[10] != 'T' && s[10] != 't') || !digits(s, 11, 2, h) || s[13] != ':' || !digits(s, 14, 2, mi) ||
        s[16] != ':' || !digits(s, 17, 2, sec))
        return std::nullopt;
    if (y < 1 || h > 23 || mi > 59 || sec > 59) return std::nullopt;
    year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok()) return std::nullopt;
    int offsetMinutes = 0;
    std::string_view zone = s.substr(19);
    if (zone == "Z" || zone == "z") {
        offsetMinutes = 0;
    } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
        int oh, om;
        if (!digits(zone, 1, 2, oh) || !digits(zone, 4, 2, om) || oh > 23 || om > 59) return std::nullopt;
        offsetMinutes = (oh * 60 + om) * (zone[0] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    const sys_seconds date = sys_days{ymd} + hours{h} + minutes{mi} + seconds{sec} - minutes{offsetMinutes};
    // An offset can carry the instant out of the years that formatDate writes
    // and this reader takes back.
    static constexpr sys_seconds kFirst = sys_days{year{1} / January / 1};
    static constexpr sys_seconds kLast = sys_days{year{9999} / December / 31} + hours{23} + minutes{59} + seconds{59};
    if (date < kFirst || date > kLast) return std::nullopt;
    return date;
}

std::string formatDate(std::chrono::sys_seconds date) {
    using namespace std::chrono;
    auto dayPoint = floor<days>(date);
    year_month_day ymd{dayPoint};
    hh_mm_ss<seconds> time{date - dayPoint};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buf;
}

const Json& asObject(const Json& value, std::string_view what) {
    if (!value.is_object()) throw DecodeError(describe(what, "expected an object"));
    return value;
}

const Json& asArray(const Json& value, std::string_view what) {
    if (!value.is_array()) throw DecodeError(describe(what, "expected an array"));
    return value;
}

std::string asString(const Json& value, std::string_view what) {
    if (!value.is_string()) throw DecodeError(describe(what, "expected a string"));
    return value.get<std::string>();
}

bool asBool(const Json& value, std::string_view what) {
    if (!value.is_boolean()) throw DecodeError(describe(what, "expected a truth value"));
    return value.get<bool>();
}

Bytes asBase64(const Json& value, std::string_view what) {
    auto decoded = base64Decode(asString(value, what));
    if (!decoded) throw DecodeError(describe(what, "invalid base64"));
    return std::move(*decoded);
}

std::chrono::sys_seconds asDate(const Json& value, std::string_view what) {
    auto date = parseDate(asString(value, what));
    if (!date) throw DecodeError(describe(what, "invalid date"));
    return *date;
}

double asDouble(const Json& value, std::string_view what) {
    if (!value.is_number()) throw DecodeError(describe(what, "expected a number"));
    return value.get<double>();
}

const Json* member(const Json& object, std::string_view key) {
    if (!object.is_object()) throw DecodeError(describe(key, "container is not an object"));
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const Json& required(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (v == nullptr) throw DecodeError(describe(key, "required key is missing"));
    return *v;
}

std::string requireString(const Json& object, std::string_view key) { return asString(required(object, key), key); }

std::optional<std::string> optionalString(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (v == nullptr) return std::nullopt;
    return asString(*v, key);
}

bool requireBool(const Json& object, std::string_view key) { return asBool(required(object, key), key); }

std::optional<bool> optionalBool(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (v == nullptr) return std::nullopt;
    return asBool(*v, key);
}

Bytes requireBase64(const Json& object, std::string_view key) { return asBase64(required(object, key), key); }

std::optional<Bytes> optionalBase64(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (v == nullptr) return std::nullopt;
    return asBase64(*v, key);
}

std::chrono::sys_seconds requireDate(const Json& object, std::string_view key) {
    return asDate(required(object, key), key);
}

std::optional<std::chrono::sys_seconds> optionalDate(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (v == nullptr) return std::nullopt;
    return asDate(*v, key);
}

double requireDouble(const Json& object, std::string_view key) { return asDouble(required(object, key), key); }

std::optional<double> optionalDouble(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (v == nullptr) return std::nullopt;
    return asDouble(*v, key);
}

std::string dump(const OrderedJson& value) { return value.dump(-1, ' ', false, OrderedJson::error_handler_t::strict); }

Bytes dumpBytes(const OrderedJson& value) { return toBytes(dump(value)); }

void putBase64(OrderedJson& object, const char* key, ByteView bytes) { object[key] = base64Encode(bytes); }

void putDate(OrderedJson& object, const char* key, std::chrono::sys_seconds date) {
    object[key] = formatDate(date);
}

}  // namespace ostrelcomm::json
