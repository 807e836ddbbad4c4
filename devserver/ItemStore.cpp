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

std::size_t ItemStore::removeOwner(const std::string& owner) {
    std::vector<Item> removed;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(grants_,
                      [&](const auto& entry) { return entry.second.owner == owner || entry.second.reader == owner; });
        auto owned = items_.find(owner);
        if (owned == items_.end()) return 0;
        for (auto& [id, item] : owned->second) removed.push_back(std::move(item));
        items_.erase(owned);
    }
    // Newer items first: whatever is below a folder was made after it.
    removed = inCreationOrder(std::move(removed));
    std::reverse(removed.begin(), removed.end());
    afterRemoval(removed);
    return removed.size();
}

void ItemStore::clear() {
    std::vector<Item> removed;
    {
        std::lock_guard lock(mutex_);
        for (auto& [owner, owned] : items_)
            for (auto& [id, item] : owned) removed.push_back(std::move(item));
        items_.clear();
        grants_.clear();
    }
    afterRemoval(removed);
}

std::size_t ItemStore::size() const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [owner, owned] : items_) count += owned.size();
    return count;
}

ItemStore::ChangeOutcome ItemStore::change(const std::string& owner, const std::string& uuid,
                                           const std::optional<std::string>& newParent,
                                           const std::function<void(Item&)>& edit) {
    std::lock_guard lock(mutex_);
    auto owned = items_.find(owner);
    if (owned == items_.end()) return ChangeOutcome::noSuchItem;
    auto it = owned->second.find(uuid);
    if (it == owned->second.end()) return ChangeOutcome::noSuchItem;
    if (newParent) {
        if (!isFolderLocked(owner, *newParent)) return ChangeOutcome::noSuchFolder;
        // Up from the destination to the root: meeting the item means the
        // destination is the item or lies below it, and the move would cut
        // the subtree off the tree.
        for (std::string at = *newParent; at != kRootFolder; at = owned->second.at(at).parent)
            if (at == uuid) return ChangeOutcome::intoItself;
    }
    Item& item = it->second;
    if (newParent) item.parent = *newParent;
    edit(item);
    return ChangeOutcome::changed;
}

ItemStore::RemoveOutcome ItemStore::remove(const std::string& owner, const std::string& uuid, bool recursive,
                                           const std::function<bool(const Item&)>& only) {
    std::vector<Item> removed;
    {
        std::lock_guard lock(mutex_);
        auto owned = items_.find(owner);
        if (owned == items_.end()) return RemoveOutcome::noSuchItem;
        auto& byId = owned->second;
        auto target = byId.find(uuid);
        if (target == byId.end() || (only && !only(target->second))) return RemoveOutcome::noSuchItem;
        std::map<std::string, std::vector<std::string>> children;
        for (const auto& [id, item] : byId) children[item.parent].push_back(id);
        if (!recursive && children.count(uuid)) return RemoveOutcome::notEmpty;
        // Each folder before what is in it; the hooks get them the other way.
        std::vector<std::string> doomed{uuid};
        for (std::size_t i = 0; i < doomed.size(); ++i) {
            auto inside = children.find(doomed[i]);
            if (inside != children.end()) doomed.insert(doomed.end(), inside->second.begin(), inside->second.end());
        }
        for (auto id = doomed.rbegin(); id != doomed.rend(); ++id) {
            auto node = byId.find(*id);
            removed.push_back(std::move(node->second));
            byId.erase(node);
            std::erase_if(grants_,
                          [&](const auto& entry) { return entry.second.owner == owner && entry.second.item == *id; });
        }
    }
    afterRemoval(removed);
    return RemoveOutcome::removed;
}

void ItemStore::addRemovalHook(RemovalHook hook) {
    std::lock_guard lock(mutex_);
    removalHooks_.push_back(std::move(hook));
}

void ItemStore::afterRemoval(const std::vector<Item>& removed) const {
    std::vector<RemovalHook> hooks;
    {
        std::lock_guard lock(mutex_);
        hooks = removalHooks_;
    }
    for (const Item& item : removed)
        for (const auto& hook : hooks) hook(item);
}

bool ItemStore::grant(const std::string& owner, const std::string& uuid, const std::string& reader,
                      std::string itemkey) {
    std::lock_guard lock(mutex_);
    if (reader == owner) return false;
    auto owned = items_.find(owner);
    if (owned == items_.end() || owned->second.count(uuid) == 0) return false;
    auto key = std::make_pair(uuid, reader);
    auto earlier = grants_.find(key);
    std::string shareUUID = earlier != grants_.end() ? earlier->second.shareUUID : newUuid();
    const std::uint64_t granted = earlier != grants_.end() ? earlier->second.granted : nextGranted_++;
    grants_.insert_or_assign(std::move(key),
                             ShareGrant{owner, uuid, reader, std::move(itemkey), std::move(shareUUID), granted});
    return true;
}

std::optional<ItemStore::Sharing> ItemStore::share(const std::string& owner, const std::string& uuid,
                                                   const std::string& reader, std::string itemkey) {
    std::lock_guard lock(mutex_);
    if (reader == owner) return std::nullopt;
    auto owned = items_.find(owner);
    if (owned == items_.end() || owned->second.count(uuid) == 0) return std::nullopt;
    auto key = std::make_pair(uuid, reader);
    if (auto earlier = grants_.find(key); earlier != grants_.end()) return Sharing{earlier->second, false};
    ShareGrant grant{owner, uuid, reader, std::move(itemkey), newUuid(), nextGranted_++};
    grants_.emplace(std::move(key), grant);
    return Sharing{std::move(grant), true};
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
    std::sort(out.begin(), out.end(), [](const ShareGrant& a, const ShareGrant& b) { return a.granted < b.granted; });
    return out;
}

std::vector<ItemStore::Shared> ItemStore::grantsTo(const std::string& reader,
                                                   const std::optional<std::string>& owner) const {
    std::lock_guard lock(mutex_);
    std::vector<Shared> out;
    for (const auto& [key, grant] : grants_) {
        if (grant.reader != reader || (owner && grant.owner != *owner)) continue;
        auto owned = items_.find(grant.owner);
        if (owned == items_.end()) continue;
        auto it = owned->second.find(grant.item);
        if (it == owned->second.end() || it->second.upload) continue;
        out.push_back(Shared{it->second, grant});
    }
    std::sort(out.begin(), out.end(),
              [](const Shared& a, const Shared& b) { return a.grant.granted < b.grant.granted; });
    return out;
}

std::optional<ShareGrant> ItemStore::revoke(const std::string& user, const std::string& shareUUID) {
    std::lock_guard lock(mutex_);
    for (auto it = grants_.begin(); it != grants_.end(); ++it) {
        if (it->second.shareUUID != shareUUID) continue;
        if (it->second.owner != user && it->second.reader != user) return std::nullopt;
        ShareGrant revoked = std::move(it->second);
        grants_.erase(it);
        return revoked;
    }
    return std::nullopt;
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
