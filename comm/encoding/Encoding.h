#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Bytes.h"

namespace ostrelcomm {

// Lower-case hexadecimal, two digits a byte.
std::string toHex(ByteView bytes);
// Upper-case hexadecimal ("%02X" a byte).
std::string toHexUpper(ByteView bytes);
// Accepts either case; absent for an odd length or a non-hex character.
std::optional<Bytes> fromHex(std::string_view hex);

// Standard alphabet with padding (RFC 4648 §4).
std::string base64Encode(ByteView bytes);
// Strict: standard alphabet only, length a multiple of four, padding only at
// the end, no whitespace or line breaks. Absent on any violation.
std::optional<Bytes> base64Decode(std::string_view text);

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing
// above U+10FFFF, no sequence cut short.
bool isValidUtf8(std::string_view text);

// Equality whose running time depends only on the lengths, for signatures,
// digests and proofs received from the other side.
bool constantTimeEquals(ByteView a, ByteView b);
bool constantTimeEquals(std::string_view a, std::string_view b);

}  // namespace ostrelcomm
