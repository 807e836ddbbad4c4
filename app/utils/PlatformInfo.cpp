#include "app/utils/PlatformInfo.h"

#include <mutex>

namespace quorvel {

namespace {

std::mutex& infoMutex() {
    static std::mutex m;
    return m;
}

PlatformInfo& stored() {
    static PlatformInfo info;
    return info;
}

}  // namespace

PlatformInfo PlatformInfo::current() {
    std::lock_guard lock(infoMutex());
    return stored();
}

void PlatformInfo::setCurrent(PlatformInfo info) {
    std::lock_guard lock(infoMutex());
    stored() = info;
}

}  // namespace quorvel
