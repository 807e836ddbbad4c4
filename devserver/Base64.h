#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Base64 (RFC 4648, standard alphabet, with padding) for the records the
// stand-in server reads and writes, written on OpenSSL so that it shares no
// code with the client.
namespace devserver {

std::string base64Encode(std::span<const std::uint8_t> bytes);

// Strict: a length that is a multiple of four, the standard alphabet only,
// "=" only as the last one or two characters. Absent otherwise.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

}  // namespace devserver
