#include "devserver/TrustTable.h"

#include <algorithm>
#include <utility>

namespace devserver {

namespace {

auto byPeer(const std::string& peerUUID) {
    return [&peerUUID](const Trust& trust) { return trust.peerUUID == peerUUID; };
}

}  // namespace

Trust TrustTable::add(const std::string& ownerUUID, Trust trust) {
    std::lock_guard lock(mutex_);
    auto& owned = trusts_[ownerUUID];
    const auto found = std::find_if(owned.begin(), owned.end(), byPeer(trust.peerUUID));
    if (found != owned.end()) return *found;
    owned.push_back(trust);
    return trust;
}

std::vector<Trust> TrustTable::list(const std::string& ownerUUID) const {
    std::lock_guard lock(mutex_);
    const auto it = trusts_.find(ownerUUID);
    if (it == trusts_.end()) return {};
    return it->second;
}

std::optional<Trust> TrustTable::remove(const std::string& ownerUUID, const std::string& peerUUID) {
    std::lock_guard lock(mutex_);
    const auto it = trusts_.find(ownerUUID);
    if (it == trusts_.end()) return std::nullopt;
    auto& owned = it->second;
    const auto found = std::find_if(owned.begin(), owned.end(), byPeer(peerUUID));
    if (found == owned.end()) return std::nullopt;
    Trust removed = std::move(*found);
    owned.erase(found);
    return removed;
}

bool TrustTable::trusts(const std::string& ownerUUID, const std::string& peerUUID) const {
    std::lock_guard lock(mutex_);
    const auto it = trusts_.find(ownerUUID);
    return it != trusts_.end() && std::any_of(it->second.begin(), it->second.end(), byPeer(peerUUID));
}

void TrustTable::clear() {
    std::lock_guard lock(mutex_);
    trusts_.clear();
}

std::size_t TrustTable::size() const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [owner, owned] : trusts_) count += owned.size();
    return count;
}

}  // namespace devserver
