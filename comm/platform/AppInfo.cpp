#include "platform/AppInfo.h"

#include <mutex>

namespace ostrelcomm {

namespace {

std::mutex& infoMutex() {
    static std::mutex m;
    return m;
}

AppInfo& stored() {
    static AppInfo info{"Quorvel Connect", "0.1.0", "1", "© Quorvel", "quorvel."};
    return info;
}

}  // namespace

AppInfo AppInfo::current() {
    std::lock_guard lock(infoMutex());
    return stored();
}

void AppInfo::set(AppInfo info) {
    std::lock_guard lock(infoMutex());
    stored() = std::move(info);
}

}  // namespace ostrelcomm
