#include "platform/Uuid.h"

#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <stdexcept>

namespace ostrelcomm {

std::string newUuidString() {
    std::array<std::uint8_t, 16> raw{};
    // Identifiers must not collide across engines or runs: the same source
    // as every key of the library, not a seeded generator.
    if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1)
        throw std::runtime_error("No random bytes for an identifier");
    raw[6] = static_cast<std::uint8_t>((raw[6] & 0x0f) | 0x40);
    raw[8] = static_cast<std::uint8_t>((raw[8] & 0x3f) | 0x80);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(kDigits[raw[i] >> 4]);
        text.push_back(kDigits[raw[i] & 0x0f]);
    }
    return text;
}

bool isUuidString(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

}  // namespace ostrelcomm
