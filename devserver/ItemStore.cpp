#include "devserver/ItemStore.h"

#include <algorithm>
#include <utility>

#include "devserver/EndpointSupport.h"

namespace devserver {

std::string_view wireName(ItemKind kind) {
    switch (kind) {
        case ItemKind::directory: return "DIRECTORY";
        case ItemKind::file: return "FILE";
    }
    return "FILE";
}

std::optional<Item> ItemStore::add(Item item) {
    std::lock_guard lock(mutex_);
    if (item.uuid.empty()) item.uuid = newUuid();
    if (item.uuid == kRootFolder || !isFolderLocked(item.owner, item.parent)) return std::nullopt;
    auto& owned = items_[item.owner];
    if (owned.count(item.uuid)) return std::nullopt;
    item.created = nextCreated_++;
    return owned.emplace(item.uuid, item).first->second;
}

std::optional<Item> ItemStore::find(const std::string& owner, const std::string& uuid) const {
    std::lock_guard lock(mutex_);
    auto owned = items_.find(owner);
    if (owned == items_.end()) return std::nullopt;
    auto it = owned->second.find(uuid);
    if (it == owned->second.end()) return std::nullopt;
    return it->second;
}

bool ItemStore::isFolder(const std::string& owner, const std::string& uuid) const {
    std::lock_guard lock(mutex_);
    return isFolderLocked(owner, uuid);
}

std::optional<ItemStore::Folder> ItemStore::folder(const std::string& owner, const std::string& uuid) const {
    std::lock_guard lock(mutex_);
    if (!isFolderLocked(owner, uuid)) return std::nullopt;
    Folder folder;
    auto owned = items_.find(owner);
    if (owned == items_.end()) return folder;
    if (uuid != kRootFolder) folder.self = owned->second.at(uuid);
    for (const auto& [id, item] : owned->second)
        if (item.parent == uuid && !item.upload) folder.content.push_back(item);
    folder.content = inCreationOrder(std::move(folder.content));
    return folder;
}

bool ItemStore::modify(const std::string& owner, const std::string& uuid, const std::function<void(Item&)>& change) {
    std::lock_guard lock(mutex_);
    auto owned = items_.find(owner);
    if (owned == items_.end()) return false;
    auto it = owned->second.find(uuid);
    if (it == owned->second.end()) return false;
    change(it->second);
    return true;
}

std::vector<Item> ItemStore::itemsOf(const std::string& owner) const {
    std::lock_guard lock(mutex_);
    std::vector<Item> out;
    auto owned = items_.find(owner);
    if (owned == items_.end()) return out;
    for (const auto& [id, item] : owned->second) out.push_back(item);
    return inCreationOrder(std::move(out));
}

std::optional<Item> ItemStore::remove(const std::string& owner, const std::string& uuid,
                                      const std::function<bool(const Item&)>& only) {
    std::optional<Item> gone;
    RemovalHandler handler;
    {
        std::lock_guard lock(mutex_);
        auto owned = items_.find(owner);
        if (owned == items_.end()) return std::nullopt;
        auto it = owned->second.find(uuid);
        if (it == owned->second.end() || (only && !only(it->second))) return std::nullopt;
        gone = std::move(it->second);
        owned->second.erase(it);
        std::erase_if(grants_,
                      [&](const auto& entry) { return entry.second.owner == owner && entry.second.item == uuid; });
        handler = removed_;
    }
    if (handler) handler(*gone);
    return gone;
}

std::size_t ItemStore::removeOwner(const std::string& owner) {
    std::map<std::string, Item> gone;
    RemovalHandler handler;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(grants_, [&](const auto& entry) { return entry.second.owner == owner || entry.second.reader == owner; });
        auto owned = items_.find(owner);
        if (owned == items_.end()) return 0;
        gone = std::move(owned->second);
        items_.erase(owned);
        handler = removed_;
    }
    if (handler)
        for (const auto& [id, item] : gone) handler(item);
    return gone.size();
}

void ItemStore::clear() {
    std::map<std::string, std::map<std::string, Item>> gone;
    RemovalHandler handler;
    {
        std::lock_guard lock(mutex_);
        gone = std::move(items_);
        items_.clear();
        grants_.clear();
        handler = removed_;
    }
    if (handler)
        for (const auto& [owner, owned] : gone)
            for (const auto& [id, item] : owned) handler(item);
}

void ItemStore::setRemovalHandler(RemovalHandler handler) {
    std::lock_guard lock(mutex_);
    removed_ = std::move(handler);
}

std::size_t ItemStore::size() const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [owner, owned] : items_) count += owned.size();
    return count;
}

bool ItemStore::grant(const std::string& owner, const std::string& uuid, const std::string& reader,
                      std::string itemkey) {
    std::lock_guard lock(mutex_);
    if (reader == owner) return false;
    auto owned = items_.find(owner);
    if (owned == items_.end() || owned->second.count(uuid) == 0) return false;
    grants_.insert_or_assign(std::make_pair(uuid, reader), ShareGrant{owner, uuid, reader, std::move(itemkey)});
    return true;
}

std::optional<ItemStore::Shared> ItemStore::sharedWith(const std::string& reader, const std::string& uuid) const {
    std::lock_guard lock(mutex_);
    auto granted = grants_.find(std::make_pair(uuid, reader));
    if (granted == grants_.end()) return std::nullopt;
    auto owned = items_.find(granted->second.owner);
    if (owned == items_.end()) return std::nullopt;
    auto it = owned->second.find(uuid);
    if (it == owned->second.end()) return std::nullopt;
    return Shared{it->second, granted->second};
}

std::vector<ShareGrant> ItemStore::grantsOf(const std::string& owner, const std::string& uuid) const {
    std::lock_guard lock(mutex_);
    std::vector<ShareGrant> out;
    for (const auto& [key, grant] : grants_)
        if (grant.owner == owner && grant.item == uuid) out.push_back(grant);
    return out;
}

bool ItemStore::isFolderLocked(const std::string& owner, const std::string& uuid) const {
    if (uuid == kRootFolder) return true;
    auto owned = items_.find(owner);
    if (owned == items_.end()) return false;
    auto it = owned->second.find(uuid);
    return it != owned->second.end() && it->second.kind == ItemKind::directory;
}

std::vector<Item> ItemStore::inCreationOrder(std::vector<Item> items) {
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.created < b.created; });
    return items;
}

}  // namespace devserver
