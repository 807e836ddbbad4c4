#include "tree/NewDirectoryData.h"

namespace ostrelcomm {

Bytes NewDirectoryData::encode() const { return json::dumpBytes(json::OrderedJson(*this)); }

NewDirectoryData NewDirectoryData::decode(ByteView body) {
    const json::Json value = json::parse(body);
    json::asObject(value, "folder data");
    NewDirectoryData data;
    from_json(value, data);
    return data;
}

void to_json(json::OrderedJson& value, const NewDirectoryData& data) {
    value = json::OrderedJson::object();
    json::putOptional(value, "attrib", data.attrib);
    json::putOptional(value, "itemkey", data.itemkey);
    if (data.metadata) json::putBase64(value, "metadata", *data.metadata);
}

void from_json(const json::Json& value, NewDirectoryData& data) {
    if (const json::Json* attrib = json::member(value, "attrib")) {
        data.attrib.emplace();
        for (const auto& word : json::asArray(*attrib, "attrib")) data.attrib->push_back(json::asString(word, "attrib"));
    }
    data.itemkey = json::optionalString(value, "itemkey");
    data.metadata = json::optionalBase64(value, "metadata");
}

}  // namespace ostrelcomm
