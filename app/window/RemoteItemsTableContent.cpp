#include "app/window/RemoteItemsTableContent.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "tree/NameOrder.h"

namespace quorvel {

namespace {

// A stable sort of the rows by one key per row, worked out before the sort:
// both directions compare strictly, so equal keys keep their order.
template <class Key>
void sortByKeys(std::vector<RemoteItemsTableContent::RemoteItemsTableItem>& rows, std::vector<Key> keys,
                bool ascending) {
    std::vector<std::size_t> positions(rows.size());
    std::iota(positions.begin(), positions.end(), std::size_t{0});
    std::stable_sort(positions.begin(), positions.end(), [&](std::size_t a, std::size_t b) {
        return ascending ? keys[a] < keys[b] : keys[b] < keys[a];
    });
    std::vector<RemoteItemsTableContent::RemoteItemsTableItem> sorted;
    sorted.reserve(rows.size());
    for (const std::size_t position : positions) sorted.push_back(std::move(rows[position]));
    rows = std::move(sorted);
}

}  // namespace

TableRemoteItemType tableItemType(ostrelcomm::RemoteItemType type) {
    switch (type) {
        case ostrelcomm::RemoteItemType::ROOT: return TableRemoteItemType::ROOT;
        case ostrelcomm::RemoteItemType::FILE: return TableRemoteItemType::FILE;
        case ostrelcomm::RemoteItemType::DIRECTORY: return TableRemoteItemType::DIRECTORY;
    }
    return TableRemoteItemType::FILE;
}

std::optional<RemoteItemsTableContent::FileOrder> RemoteItemsTableContent::fromRaw(std::string_view raw) {
    if (raw == "name") return FileOrder::name;
    if (raw == "modificationDate") return FileOrder::modificationDate;
    if (raw == "size") return FileOrder::size;
    if (raw == "itemType") return FileOrder::itemType;
    return std::nullopt;
}

std::string_view RemoteItemsTableContent::rawValue(FileOrder order) {
    switch (order) {
        case FileOrder::name: return "name";
        case FileOrder::modificationDate: return "modificationDate";
        case FileOrder::size: return "size";
        case FileOrder::itemType: return "itemType";
    }
    return "name";
}

std::chrono::sys_seconds RemoteItemsTableContent::systemNow() {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

void RemoteItemsTableContent::addItem(std::string uuid, std::string name, TableRemoteItemType type,
                                      std::optional<std::chrono::sys_seconds> modificationDate,
                                      std::optional<std::int64_t> fileSize, std::vector<std::string> attrib) {
    content.push_back(RemoteItemsTableItem{std::move(uuid), std::move(name), type, modificationDate, fileSize,
                                           std::move(attrib)});
}

void RemoteItemsTableContent::contentsOrderedBy(FileOrder order, bool ascending) {
    switch (order) {
        case FileOrder::name: {
            std::vector<std::string> keys;
            keys.reserve(content.size());
            for (const auto& row : content) keys.push_back(ostrelcomm::nameOrderKey(row.name));
            sortByKeys(content, std::move(keys), ascending);
            return;
        }
        case FileOrder::modificationDate: {
            // Read once: a clock read at each comparison moves while the sort
            // runs, and the comparison would then be no ordering at all.
            const std::chrono::sys_seconds now = now_();
            std::vector<std::chrono::sys_seconds> keys;
            keys.reserve(content.size());
            for (const auto& row : content) keys.push_back(row.modificationDate.value_or(now));
            sortByKeys(content, std::move(keys), ascending);
            return;
        }
        case FileOrder::size: {
            std::vector<std::int64_t> keys;
            keys.reserve(content.size());
            for (const auto& row : content) keys.push_back(row.fileSize.value_or(0));
            sortByKeys(content, std::move(keys), ascending);
            return;
        }
        case FileOrder::itemType: {
            std::vector<int> keys;
            keys.reserve(content.size());
            for (const auto& row : content) keys.push_back(static_cast<int>(row.type));
            sortByKeys(content, std::move(keys), ascending);
            return;
        }
    }
}

}  // namespace quorvel
