#include "tree/RemoteItemType.h"

#include <string>

namespace ostrelcomm {

std::optional<RemoteItemType> remoteItemTypeFromRaw(std::string_view raw) {
    if (raw == "ROOT") return RemoteItemType::ROOT;
    if (raw == "FILE") return RemoteItemType::FILE;
    if (raw == "DIRECTORY") return RemoteItemType::DIRECTORY;
    return std::nullopt;
}

std::string_view rawValue(RemoteItemType type) {
    switch (type) {
        case RemoteItemType::ROOT: return "ROOT";
        case RemoteItemType::FILE: return "FILE";
        case RemoteItemType::DIRECTORY: return "DIRECTORY";
    }
    return "ROOT";
}

void from_json(const json::Json& value, RemoteItemType& type) {
    auto parsed = remoteItemTypeFromRaw(json::asString(value, "type"));
    if (!parsed) throw json::DecodeError("type: unknown item kind");
    type = *parsed;
}

void to_json(json::OrderedJson& value, RemoteItemType type) { value = std::string(rawValue(type)); }

}  // namespace ostrelcomm
