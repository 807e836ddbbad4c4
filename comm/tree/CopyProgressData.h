#pragma once

#include <cstdint>

#include "platform/NotificationCenter.h"

namespace ostrelcomm {

// How far a recursive folder copy has come: items copied (folders made and
// files copied) out of the total. Posted by the copier with "ItemCopied" and
// read back from that notification's userInfo by the application.
class CopyProgressData {
public:
    CopyProgressData(std::int64_t copied, std::int64_t total);
    // From an "ItemCopied" userInfo: "copied" and "total" as integers; a key
    // that is missing or holds anything but an integer gives 0.
    explicit CopyProgressData(const UserInfo& userInfo);

    std::int64_t getCopied() const { return copied_; }
    std::int64_t getTotal() const { return total_; }
    void incrementCopied() { ++copied_; }
    void setTotal(std::int64_t total) { total_ = total; }

    // {"copied": copied, "total": total}, both std::int64_t.
    UserInfo getNotificationData() const;

private:
    std::int64_t copied_;
    std::int64_t total_;
};

}  // namespace ostrelcomm
