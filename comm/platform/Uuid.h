#pragma once

#include <string>
#include <string_view>

namespace ostrelcomm {

// A random (version 4) UUID as 36 upper-case characters, as job identifiers
// and the platform's UUID text have them.
std::string newUuidString();

// True for 8-4-4-4-12 hexadecimal digits in either case.
bool isUuidString(std::string_view text);

}  // namespace ostrelcomm
