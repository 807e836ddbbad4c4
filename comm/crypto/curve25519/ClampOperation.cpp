#include "crypto/curve25519/ClampOperation.h"

#include "crypto/curve25519/Exceptions.h"

namespace ostrelcomm {

void ClampOperation::Clamp(std::span<std::uint8_t> s, std::size_t offset) {
    if (s.size() < 32 || offset > s.size() - 32) {
        throw Exceptions::ArgumentException("scalar needs 32 bytes at the offset");
    }
    s[offset] &= 248;
    s[offset + 31] = static_cast<std::uint8_t>((s[offset + 31] & 63) | 64);
}

}  // namespace ostrelcomm
