#include "xfer/LocalItemInfo.h"

#include <utility>

namespace ostrelcomm {

LocalItemInfo::LocalItemInfo(std::filesystem::path url, ItemType type, std::int64_t size)
    : url(std::move(url)), type(type), size(size) {}

}  // namespace ostrelcomm
