#pragma once

#include <string>
#include <string_view>

namespace ostrelcomm {

// A remote item's name made fit to be one entry of a local folder: every "/"
// and NUL becomes "_", and a name that would not name a new entry ("", "."
// or "..") becomes `fallback` (the item's identifier). The result is always a
// single path component, so joined to a folder it names something directly
// in that folder and never above or below it. Everything else, spaces,
// leading dots and any UTF-8, is kept as the user named it.
std::string safeLocalFileName(std::string_view name, std::string_view fallback);

}  // namespace ostrelcomm
