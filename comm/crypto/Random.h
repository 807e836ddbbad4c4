#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Bytes.h"

namespace ostrelcomm {

// Bytes from the operating system's secure generator (through OpenSSL's DRBG).
// Throws CryptoError if the generator fails.
Bytes randomBytes(std::size_t count);
void fillRandom(std::uint8_t* out, std::size_t count);
std::uint64_t randomUInt64();

}  // namespace ostrelcomm
