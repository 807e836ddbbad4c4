#pragma once

#include <optional>
#include <string_view>

#include "json/StrictJson.h"

namespace ostrelcomm {

// The kind of a remote item, as the server's listings carry it.
enum class RemoteItemType { ROOT, FILE, DIRECTORY };

// Exactly "ROOT", "FILE" or "DIRECTORY", letter case included; none otherwise.
std::optional<RemoteItemType> remoteItemTypeFromRaw(std::string_view raw);
std::string_view rawValue(RemoteItemType type);

// A bare JSON string holding the raw value; any other value or text is a
// json::DecodeError.
void from_json(const json::Json& value, RemoteItemType& type);
void to_json(json::OrderedJson& value, RemoteItemType type);

}  // namespace ostrelcomm
