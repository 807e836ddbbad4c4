#include "platform/NotificationCenter.h"

#include <algorithm>

namespace ostrelcomm {

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Observer observer) {
    auto entry = std::make_shared<Entry>();
    entry->name = std::move(name);
    entry->observer = std::move(observer);
    std::lock_guard lock(mutex_);
    entry->token = nextToken_++;
    entries_.push_back(entry);
    return entry->token;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e->token == token; });
    if (it == entries_.end()) return;
    (*it)->active = false;
    entries_.erase(it);
}

void NotificationCenter::post(const std::string& name, UserInfo userInfo) {
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_)
            if (e->name == name) targets.push_back(e);
    }
    Notification notification{name, std::move(userInfo)};
    for (const auto& e : targets)
        if (e->active) e->observer(notification);
}

std::size_t NotificationCenter::observerCount(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e->name == name; }));
}

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

}  // namespace ostrelcomm
