#pragma once

#include <string>
#include <string_view>

namespace ostrelcomm {

// The English text of a key in a string table; a key the table lacks (or an
// unknown table) returns the key itself, as the platform does.
std::string localizedString(std::string_view table, std::string_view key);

}  // namespace ostrelcomm
