#pragma once

#include <array>
#include <cstdint>

namespace ostrelcomm {

// The Salsa20 state: sixteen 32-bit words x0 … x15.
using Array16 = std::array<std::uint32_t, 16>;

}  // namespace ostrelcomm
