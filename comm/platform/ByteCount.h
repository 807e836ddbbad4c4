#pragma once

#include <cstdint>
#include <string>

namespace ostrelcomm {

// A byte count as people read it in messages about files: decimal units
// (1 KB = 1000 bytes), whole numbers of bytes and KB, one decimal for MB and
// two from GB on, trailing zeros dropped, rounded half up; "Zero KB" for 0,
// "1 byte", "999 bytes", "4.2 MB", "1.07 GB". A value that rounds up to 1000
// of its unit is written in the next one. A negative count is written as its
// magnitude with a minus sign.
std::string byteCountText(std::uint64_t bytes);
std::string byteCountText(std::int64_t bytes);

}  // namespace ostrelcomm
