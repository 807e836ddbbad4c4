#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "app/local/Metadata.h"

namespace quorvel {

// A snapshot of one local folder: its own entries, not those of its
// subfolders, without the hidden ones (names starting with "."). Built and
// sorted on the main thread (icons are GUI objects), never changed after.
//
// A symbolic link is listed as what it points to (a link to a folder is a
// folder one can enter), under the link's own path; a link whose target
// cannot be read is a file of size 0. FIFOs, sockets and devices are listed
// like files and never opened: the listing reads names and attributes only.
struct Directory {
    // The sort keys, also the sort keys of the local table's columns.
    enum class FileOrder { name, date, size };

    // Exactly "name", "date" or "size"; none otherwise.
    static std::optional<FileOrder> fileOrderFromRaw(std::string_view raw);
    static std::string_view rawValue(FileOrder order);

    // Lists `folderURL`. Never fails: a folder that cannot be read logs
    // "Cannot read URL <path>" and keeps the entries read before; an entry
    // whose attributes cannot be read logs "Error reading file attributes:
    // <path>" and is left out.
    explicit Directory(std::filesystem::path folderURL);

    // A copy of `files` sorted stably by `order`, so entries with equal keys
    // keep the listing's order in both directions; folders and files sort
    // together. Names compare by the library's name order (nameOrderKey):
    // case-sensitive, canonically equivalent names equal.
    std::vector<Metadata> contentsOrderedBy(FileOrder order, bool ascending) const;

    // In the order the file system gave them.
    std::vector<Metadata> files;
    // The listed folder.
    std::filesystem::path url;
};

}  // namespace quorvel
