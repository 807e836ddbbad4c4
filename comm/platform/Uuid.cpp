#include "platform/Uuid.h"

#include "crypto/Encoding.h"
#include "crypto/Random.h"

namespace ostrelcomm {

std::string newUuidString() {
    Bytes raw = randomBytes(16);
    raw[6] = static_cast<std::uint8_t>((raw[6] & 0x0f) | 0x40);
    raw[8] = static_cast<std::uint8_t>((raw[8] & 0x3f) | 0x80);
    std::string hex = toHexUpper(raw);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20);
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
