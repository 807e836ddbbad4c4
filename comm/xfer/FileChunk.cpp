#include "xfer/FileChunk.h"

namespace ostrelcomm {

void from_json(const json::Json& value, FileChunk& chunk) {
    json::asObject(value, "chunk");
    chunk.begin = json::requireInteger<std::uint64_t>(value, "begin");
    chunk.end = json::requireInteger<std::uint64_t>(value, "end");
    chunk.chksum = json::requireString(value, "chksum");
}

void to_json(json::OrderedJson& value, const FileChunk& chunk) {
    value = json::OrderedJson::object();
    value["begin"] = chunk.begin;
    value["end"] = chunk.end;
    value["chksum"] = chunk.chksum;
}

}  // namespace ostrelcomm
