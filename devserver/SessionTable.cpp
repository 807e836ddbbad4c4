#include "devserver/SessionTable.h"

namespace devserver {

void SessionTable::add(Session session) {
    std::lock_guard lock(mutex_);
    std::string id = session.id;
    sessions_[std::move(id)] = std::move(session);
}

std::optional<Session> SessionTable::find(const std::string& id) const {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return std::nullopt;
    return it->second;
}

bool SessionTable::expire(const std::string& id) {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return false;
    it->second.expired = true;
    return true;
}

bool SessionTable::remove(const std::string& id) {
    std::lock_guard lock(mutex_);
    return sessions_.erase(id) > 0;
}

void SessionTable::clear() {
    std::lock_guard lock(mutex_);
    sessions_.clear();
}

std::size_t SessionTable::size() const {
    std::lock_guard lock(mutex_);
    return sessions_.size();
}

}  // namespace devserver
