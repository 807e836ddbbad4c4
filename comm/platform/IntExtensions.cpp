#include "platform/IntExtensions.h"

namespace ostrelcomm {

std::tuple<std::int64_t, std::int64_t, std::int64_t> toHoursMinutesSeconds(std::int64_t seconds) {
    std::int64_t rest = seconds % 3600;
    return {seconds / 3600, rest / 60, rest % 60};
}

}  // namespace ostrelcomm
