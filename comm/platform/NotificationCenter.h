#pragma once

#include <any>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ostrelcomm {

// The platform's null object: a userInfo value that is present but empty.
// Observers treat it and a missing key alike.
struct NullObject {};

using UserInfo = std::map<std::string, std::any>;

struct Notification {
    std::string name;
    UserInfo userInfo;
};

// Delivers notifications synchronously on the posting thread, to the
// observers of that name in the order they registered. The observer list is
// copied under the lock and the observers run without it, so an observer may
// post, add or remove observers (itself included) while it runs; one removed
// during a post is not called afterwards, one added is called from the next
// post on.
class NotificationCenter {
public:
    using Token = std::uint64_t;
    using Observer = std::function<void(const Notification&)>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    Token addObserver(std::string name, Observer observer);
    void removeObserver(Token token);
    void post(const std::string& name, UserInfo userInfo = {});
    // How many observers of this name are registered now.
    std::size_t observerCount(const std::string& name) const;

    // The process-wide center; it carries only the event log's announcements.
    static NotificationCenter& defaultCenter();

private:
    struct Entry {
        Token token;
        std::string name;
        Observer observer;
        std::atomic<bool> active{true};
    };

    mutable std::mutex mutex_;
    Token nextToken_ = 1;
    std::vector<std::shared_ptr<Entry>> entries_;
};

// Reads a userInfo value of type T; absent when the key is missing, holds the
// null object, or holds another type.
template <class T>
const T* userInfoValue(const UserInfo& info, const std::string& key) {
    auto it = info.find(key);
    if (it == info.end()) return nullptr;
    return std::any_cast<T>(&it->second);
}

inline bool isNullObject(const std::any& value) { return value.type() == typeid(NullObject); }

}  // namespace ostrelcomm
