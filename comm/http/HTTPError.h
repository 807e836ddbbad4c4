#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace ostrelcomm {

// Kinds of request failure.
enum class HTTPErrors {
    dataTaskError,
    unableToDecodeURLResponse,
    badStatusCode,
    unableToDecodeAnswer,
    badAnswerMimeType,
    badAuthentication,
};

// One failed request, copied by value. For badStatusCode `extInfo` holds the
// HTTP status code; for badAnswerMimeType a text naming the content type
// received and the one expected.
struct HTTPError {
    std::optional<std::string> exception;
    HTTPErrors error;
    std::string errDescr;
    std::variant<std::monostate, std::int64_t, std::string> extInfo;
};

}  // namespace ostrelcomm
