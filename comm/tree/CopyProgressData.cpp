#include "tree/CopyProgressData.h"

#include <any>
#include <string>

#include "tree/TreeNotifications.h"

namespace ostrelcomm {

namespace {

// The integer under `key`, of any of the integer types a sender may have
// used; 0 otherwise.
std::int64_t integerEntry(const UserInfo& userInfo, const char* key) {
    const auto it = userInfo.find(key);
    if (it == userInfo.end()) return 0;
    const std::any& value = it->second;
    if (const auto* v = std::any_cast<std::int64_t>(&value)) return *v;
    if (const auto* v = std::any_cast<int>(&value)) return *v;
    if (const auto* v = std::any_cast<long long>(&value)) return static_cast<std::int64_t>(*v);
    return 0;
}

}  // namespace

CopyProgressData::CopyProgressData(std::int64_t copied, std::int64_t total) : copied_(copied), total_(total) {}

CopyProgressData::CopyProgressData(const UserInfo& userInfo)
    : copied_(integerEntry(userInfo, tree::kCopiedKey)), total_(integerEntry(userInfo, tree::kTotalKey)) {}

UserInfo CopyProgressData::getNotificationData() const {
    return UserInfo{{tree::kCopiedKey, copied_}, {tree::kTotalKey, total_}};
}

}  // namespace ostrelcomm
