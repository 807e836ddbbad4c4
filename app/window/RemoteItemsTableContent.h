#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tree/RemoteItemType.h"

namespace quorvel {

// The kind of a row of the remote table: the three kinds of the library's
// items, in their order, then a user who shares items with the user and the
// node that holds everything shared with the user.
enum class TableRemoteItemType { ROOT, FILE, DIRECTORY, PEER, SHARESDIR };

// The row kind of a library item, case for case.
TableRemoteItemType tableItemType(ostrelcomm::RemoteItemType type);

// The rows of the remote table, in display order. Rebuilt whole on every
// reload from the listing on show, the sharing peers or a peer's items; never
// a view onto the library's records, so sorting them leaves those alone.
//
// On the main thread only.
class RemoteItemsTableContent {
public:
    struct RemoteItemsTableItem {
        // The item's identifier; the peer's for a PEER row, "SHARES" for the
        // shares node.
        std::string uuid;
        std::string name;
        TableRemoteItemType type = TableRemoteItemType::FILE;
        std::optional<std::chrono::sys_seconds> modificationDate;
        // Bytes.
        std::optional<std::int64_t> fileSize;
        // The item's attributes as the server gives them ("shared", …).
        std::vector<std::string> attrib;
    };

    enum class FileOrder { name, modificationDate, size, itemType };

    // Exactly "name", "modificationDate", "size" or "itemType"; none otherwise.
    static std::optional<FileOrder> fromRaw(std::string_view raw);
    static std::string_view rawValue(FileOrder order);

    // What "now" is for rows without a date.
    using Clock = std::function<std::chrono::sys_seconds()>;
    static std::chrono::sys_seconds systemNow();

    explicit RemoteItemsTableContent(Clock now = systemNow) : now_(std::move(now)) {}

    // Appends one row.
    void addItem(std::string uuid, std::string name, TableRemoteItemType type,
                 std::optional<std::chrono::sys_seconds> modificationDate, std::optional<std::int64_t> fileSize,
                 std::vector<std::string> attrib);

    // Sorts content stably: rows whose keys are equal keep their order in
    // both directions, so descending is not the mirror of ascending. name:
    // the library's name order (case-sensitive, canonically equivalent names
    // equal); size: a row without a size counts as 0; modificationDate: a row
    // without a date counts as now, read once per sort; itemType: the order
    // of TableRemoteItemType's cases, reversed descending. Each row's key is
    // worked out once per sort.
    void contentsOrderedBy(FileOrder order, bool ascending);

    std::vector<RemoteItemsTableItem> content;

private:
    Clock now_;
};

}  // namespace quorvel
