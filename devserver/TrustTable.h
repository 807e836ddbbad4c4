#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace devserver {

// One user's trust in a peer, as the peer was named when it was added.
struct Trust {
    std::string trustUUID;
    std::string peerUUID;
    std::string peerUsername;
    std::vector<std::uint8_t> pubshkey;
};

// Each user's trusted peers, by the owner's user identifier, in the order
// they were added; at most one trust for each (owner, peer). Thread-safe.
class TrustTable {
public:
    // Stores `trust` for the owner, unless the owner already trusts that
    // peer: then the stored trust is kept and returned.
    Trust add(const std::string& ownerUUID, Trust trust);
    // Oldest first.
    std::vector<Trust> list(const std::string& ownerUUID) const;
    // The removed trust; absent when the owner does not trust that peer.
    std::optional<Trust> remove(const std::string& ownerUUID, const std::string& peerUUID);
    bool trusts(const std::string& ownerUUID, const std::string& peerUUID) const;
    void clear();
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<Trust>> trusts_;
};

}  // namespace devserver
