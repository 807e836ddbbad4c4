#include "xfer/Server_RecvPrepareAnswer.h"

#include "http/ServerAnswer.h"

namespace ostrelcomm {

Server_RecvPrepareAnswer Server_RecvPrepareAnswer::fromBody(ByteView body) {
    return Server_RecvPrepareAnswer{answer::decodeRecord<Answer>(body)};
}

void from_json(const json::Json& value, Server_RecvPrepareAnswer::Answer& record) {
    record.itemUUID = json::requireString(value, "itemUUID");
    record.fileSize = json::requireInteger<std::uint64_t>(value, "fileSize");
    const json::Json& attrib = json::asArray(json::required(value, "attrib"), "attrib");
    record.attrib.clear();
    record.attrib.reserve(attrib.size());
    for (const auto& word : attrib) record.attrib.push_back(json::asString(word, "attrib"));
    const json::Json& chunks = json::asArray(json::required(value, "chunks"), "chunks");
    record.chunks.clear();
    record.chunks.reserve(chunks.size());
    for (const auto& item : chunks) {
        FileChunk chunk;
        from_json(item, chunk);
        record.chunks.push_back(std::move(chunk));
    }
    record.metadata = json::requireBase64(value, "metadata");
    record.itemkey = json::requireString(value, "itemkey");
    record.treehash = json::requireString(value, "treehash-SHA256");
    record.umk = json::optionalString(value, "umk");
    record.pubshkey = json::optionalBase64(value, "pubshkey");
    record.privshkey = json::optionalString(value, "privshkey");
}

void to_json(json::OrderedJson& value, const Server_RecvPrepareAnswer::Answer& record) {
    value = json::OrderedJson::object();
    value["itemUUID"] = record.itemUUID;
    value["fileSize"] = record.fileSize;
    value["attrib"] = record.attrib;
    value["chunks"] = record.chunks;
    json::putBase64(value, "metadata", record.metadata);
    value["itemkey"] = record.itemkey;
    value["treehash-SHA256"] = record.treehash;
    json::putOptional(value, "umk", record.umk);
    if (record.pubshkey) json::putBase64(value, "pubshkey", *record.pubshkey);
    json::putOptional(value, "privshkey", record.privshkey);
}

}  // namespace ostrelcomm
