#include "tree/FileNewData.h"

namespace ostrelcomm {

Bytes FileNewData::encode() const { return json::dumpBytes(json::OrderedJson(*this)); }

FileNewData FileNewData::decode(ByteView body) {
    const json::Json value = json::parse(body);
    json::asObject(value, "file data");
    FileNewData data;
    from_json(value, data);
    return data;
}

void to_json(json::OrderedJson& value, const FileNewData& data) {
    value = json::OrderedJson::object();
    json::putOptional(value, "attrib", data.attrib);
    json::putOptional(value, "parentUUID", data.parentUUID);
    if (data.metadata) json::putBase64(value, "metadata", *data.metadata);
    if (data.thumbnail) json::putBase64(value, "thumbnail", *data.thumbnail);
}

void from_json(const json::Json& value, FileNewData& data) {
    if (const json::Json* attrib = json::member(value, "attrib")) {
        data.attrib.emplace();
        for (const auto& word : json::asArray(*attrib, "attrib")) data.attrib->push_back(json::asString(word, "attrib"));
    }
    data.parentUUID = json::optionalString(value, "parentUUID");
    data.metadata = json::optionalBase64(value, "metadata");
    data.thumbnail = json::optionalBase64(value, "thumbnail");
}

}  // namespace ostrelcomm
