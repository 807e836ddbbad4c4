#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "encoding/Encoding.h"
#include "platform/Bytes.h"

namespace srptest {

// Bytes from hexadecimal text laid out as in the RFCs (groups of digits
// separated by spaces or line breaks).
inline ostrelcomm::Bytes hex(std::string_view text) {
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != '\n') digits += c;
    auto bytes = ostrelcomm::fromHex(digits);
    if (!bytes) ADD_FAILURE() << "not hexadecimal: " << text;
    return bytes.value_or(ostrelcomm::Bytes{});
}

inline std::string upper(ostrelcomm::ByteView bytes) { return ostrelcomm::toHexUpper(bytes); }

inline ostrelcomm::Bytes flipped(ostrelcomm::Bytes bytes) {
    bytes.back() ^= 0x01;
    return bytes;
}

}  // namespace srptest
