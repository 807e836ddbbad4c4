#include "xfer/FileSend_TerminateData.h"

#include <utility>

namespace ostrelcomm {

FileSend_TerminateData::FileSend_TerminateData(std::string fileKey, Bytes fileMetadata,
                                               std::optional<Bytes> thumbnail)
    : data{std::move(fileKey), std::move(fileMetadata), std::move(thumbnail)} {}

std::optional<Bytes> FileSend_TerminateData::encode() const {
    try {
        return json::dumpBytes(json::OrderedJson(data));
    } catch (const json::OrderedJson::exception&) {
        return std::nullopt;
    }
}

void to_json(json::OrderedJson& value, const FileSend_TerminateData::TerminateData& data) {
    value = json::OrderedJson::object();
    value["itemkey"] = data.itemkey;
    json::putBase64(value, "metadata", data.metadata);
    if (data.thumbnail) json::putBase64(value, "thumbnail", *data.thumbnail);
}

}  // namespace ostrelcomm
