#pragma once

#include <any>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/StrictJson.h"
#include "platform/Bytes.h"
#include "xfer/FileChunk.h"

namespace ostrelcomm {

// Answer of a download's preparation: everything needed to fetch, decrypt and
// check one stored file. An own file comes with the wrapped user master key;
// a file shared with the user comes with the owner's public sharing key and
// the user's wrapped private sharing key instead. The keys stay wrapped here:
// the download unwraps them.
class Server_RecvPrepareAnswer {
public:
    struct Answer {
        std::string itemUUID;
        std::uint64_t fileSize = 0;
        // The item's attribute words, passed on unread.
        std::vector<std::string> attrib;
        // The stored blocks in the server's order.
        std::vector<FileChunk> chunks;
        Bytes metadata;
        std::string itemkey;
        // Hexadecimal, as the server stores it; travels as "treehash-SHA256".
        std::string treehash;
        std::optional<std::string> umk;
        std::optional<Bytes> pubshkey;
        std::optional<std::string> privshkey;
    };

    Answer answer;

    static Server_RecvPrepareAnswer fromBody(ByteView body);
    std::any getAnswer() const { return answer; }
};

void from_json(const json::Json& value, Server_RecvPrepareAnswer::Answer& record);
void to_json(json::OrderedJson& value, const Server_RecvPrepareAnswer::Answer& record);

}  // namespace ostrelcomm
