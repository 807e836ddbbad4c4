#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrelcomm {

class ClampOperation {
public:
    ClampOperation() = delete;

    // Clamps the 32-byte scalar at offset in place: the low three bits of the
    // first byte cleared (a multiple of the cofactor 8), bit 255 cleared and
    // bit 254 set. Throws Exceptions (ArgumentException) when fewer than 32
    // bytes follow offset.
    static void Clamp(std::span<std::uint8_t> s, std::size_t offset);
};

}  // namespace ostrelcomm
