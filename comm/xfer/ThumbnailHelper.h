#pragma once

#include <filesystem>
#include <optional>

#include "platform/RegularFile.h"
#include "thumbnail/ThumbnailKind.h"
#include "thumbnail/ThumbnailResult.h"

namespace ostrelcomm {

// A small JPEG of a local image, video or PDF document, chosen by the file's
// first bytes (never by its name), or nothing for anything else and for any
// failure: a file is uploaded without a thumbnail rather than not at all.
// Only a regular file is opened. The decoding runs in a process of the
// thumbnail program (ThumbnailChild), under its limits. Safe to call from
// several threads at once; it waits for that process, so keep it off an
// engine's lock.
ThumbnailResult createThumnbnail(const std::filesystem::path& url);

// The maker a file's first bytes call for, read from its current position:
// images, videos and PDF documents; nothing for anything else.
std::optional<ThumbnailKind> thumbnailKindOf(RegularFile& file);

}  // namespace ostrelcomm
