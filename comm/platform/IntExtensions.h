#pragma once

#include <cstdint>
#include <tuple>

namespace ostrelcomm {

// Splits a count of seconds for display. Division truncates toward zero, so a
// negative count gives components that are zero or negative.
std::tuple<std::int64_t, std::int64_t, std::int64_t> toHoursMinutesSeconds(std::int64_t seconds);

}  // namespace ostrelcomm
