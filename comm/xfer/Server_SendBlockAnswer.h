#pragma once

#include <any>
#include <cstdint>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of storing one block of an upload: which block the server took and
// the byte range it covers in the file.
class Server_SendBlockAnswer {
public:
    struct Answer {
        std::string itemUUID;
        std::uint32_t blocknum = 0;
        std::uint64_t blockBegin = 0;
        std::uint64_t blockEnd = 0;
    };

    Answer answer;

    static Server_SendBlockAnswer fromBody(ByteView body);
    std::any getAnswer() const { return answer; }
};

void from_json(const json::Json& value, Server_SendBlockAnswer::Answer& record);

}  // namespace ostrelcomm
