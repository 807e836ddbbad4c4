#pragma once

#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// The server's own report of a failed request: {"code", "message", "extInfo"},
// all three required texts. Not an answer type and not an error value.
class ServerError {
public:
    struct Answer {
        std::string code;
        std::string message;
        std::string extInfo;
    };

    // Decodes the whole body; throws json::DecodeError when it does not decode.
    explicit ServerError(ByteView body);

    Answer answer;
};

void from_json(const json::Json& value, ServerError::Answer& answer);
void to_json(json::OrderedJson& value, const ServerError::Answer& answer);

}  // namespace ostrelcomm
