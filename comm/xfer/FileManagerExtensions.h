#pragma once

#include <filesystem>

namespace ostrelcomm {

// A location near `path` at which nothing exists yet: `path` itself when it is
// free, otherwise the first of "base (1).ext", "base (2).ext", … that is free,
// where ext is the text after the last dot of the last component (empty when
// it has none, which leaves a trailing dot: "notes (1).") and base the text
// before it. Numbers in existing names are not read, so gaps fill from 1.
// Anything at a candidate counts as taken, a folder or a symbolic link too,
// even a dangling one: a move that must not replace what is there never lands
// on a link. It only looks: another process may take the name before the
// caller uses it. When a candidate cannot be examined (no search permission
// on the folder, a name too long), that candidate is returned, and the
// caller's create or move reports the failure.
std::filesystem::path getProgressiveURL(const std::filesystem::path& path);

}  // namespace ostrelcomm
