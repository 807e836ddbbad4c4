#pragma once

#include <filesystem>

#include "thumbnail/ThumbnailResult.h"

namespace ostrelcomm {

// A small JPEG of a local image, video or PDF document, chosen by the file's
// first bytes (never by its name), or nothing for anything else and for any
// failure: a file is uploaded without a thumbnail rather than not at all.
// Only a regular file is opened. Safe to call from several threads at once;
// it reads and decodes the file, so keep it off an engine's lock.
ThumbnailResult createThumnbnail(const std::filesystem::path& url);

}  // namespace ostrelcomm
