#pragma once

#include <QColor>
#include <QIcon>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace quorvel {

// The date of an entry whose modification time cannot be read.
inline constexpr std::chrono::sys_seconds kDistantPast{
    std::chrono::sys_days{std::chrono::year{1} / std::chrono::January / 1}};

// One entry of a local folder's listing, as the local table shows it.
struct Metadata {
    // The entry's name for display: its file name, with bytes that are not
    // UTF-8 shown as U+FFFD.
    std::string name;
    // The content's modification time; kDistantPast (0001-01-01T00:00:00Z)
    // when unreadable.
    std::chrono::sys_seconds date{};
    // Bytes; 0 for folders and when unknown.
    std::int64_t size = 0;
    QIcon icon;
    QColor color;
    bool isFolder = false;
    // A package shown as one file. Linux has none: always false.
    bool isApp = false;
    // The entry's path, byte for byte as the file system gave it (a name
    // that is not UTF-8 still opens).
    std::filesystem::path url;

    // Two entries are the same when they are at the same place.
    friend bool operator==(const Metadata& a, const Metadata& b) { return a.url == b.url; }
};

// "<name> Folder: true|false Size: N", for logs.
std::string debugDescription(const Metadata& entry);

}  // namespace quorvel
