#pragma once

// The makers of a local file's thumbnail, one per kind of content. Each reads
// the file at the path as that kind whatever its name says, and gives a JPEG
// with "image/jpeg" or nothing at all; none throws. Each may be called from
// several threads at once.

#include <filesystem>

#include "thumbnail/ThumbnailResult.h"

namespace ostrelcomm {

// Pictures and video frames are fitted into a square of this many pixels a
// side, PDF pages into one of kPageThumbnailBox.
inline constexpr int kThumbnailBox = 320;
inline constexpr int kPageThumbnailBox = 300;
inline constexpr float kThumbnailJpegQuality = 0.75f;

// The first picture of an image file.
ThumbnailResult createImageThumbnail(const std::filesystem::path& url);
// The first decodable frame of a video, turned upright as its track says it
// is to be shown. A failure to get that frame writes one line to the system
// log ("*** Error generating thumbnail: " and the reason).
ThumbnailResult createMovieThumbnail(const std::filesystem::path& url);
// The first page of a PDF document, on white.
ThumbnailResult createPDFThumbnail(const std::filesystem::path& url);

}  // namespace ostrelcomm
