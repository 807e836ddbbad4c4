#pragma once

// The makers of a local file's thumbnail, one per kind of content. Each reads
// the file as that kind whatever its name says, and gives a JPEG with
// "image/jpeg" or nothing at all; none throws. Each may be called from
// several threads at once. They run inside the thumbnail program, which
// bounds what a hostile file can make them cost; the limits here turn most
// such files away before that.

#include <filesystem>

#include "platform/RegularFile.h"
#include "thumbnail/ThumbnailKind.h"
#include "thumbnail/ThumbnailResult.h"

namespace ostrelcomm {

// Pictures and video frames are fitted into a square of this many pixels a
// side, PDF pages into one of kPageThumbnailBox.
inline constexpr int kThumbnailBox = 320;
inline constexpr int kPageThumbnailBox = 300;
inline constexpr float kThumbnailJpegQuality = 0.75f;

// The first picture of an image file, turned upright as its EXIF (or TIFF)
// orientation says.
ThumbnailResult createImageThumbnail(RegularFile file);
// The first decodable frame of a video, turned upright as its track says it
// is to be shown. A failure to get that frame writes one line to the system
// log (kThumbnailErrorPrefix and the reason).
ThumbnailResult createMovieThumbnail(RegularFile file);
// The first page of a PDF document drawn for its media box, on white.
ThumbnailResult createPDFThumbnail(RegularFile file);

// The same for a path: only a regular file is opened.
ThumbnailResult createImageThumbnail(const std::filesystem::path& url);
ThumbnailResult createMovieThumbnail(const std::filesystem::path& url);
ThumbnailResult createPDFThumbnail(const std::filesystem::path& url);

// The set-up the decoders' libraries do once in a process (tables of every
// codec and format, poppler's settings, the JPEG encoder's). The helper does
// it before it forks, so that no child pays for it.
void warmUpThumbnailMakers();
// poppler's part of it, which the PDF maker does itself when it was not done.
void setUpPoppler();

// The maker of the kind.
inline ThumbnailResult makeThumbnail(ThumbnailKind kind, RegularFile file) {
    switch (kind) {
        case ThumbnailKind::image:
            return createImageThumbnail(std::move(file));
        case ThumbnailKind::video:
            return createMovieThumbnail(std::move(file));
        case ThumbnailKind::pdf:
            return createPDFThumbnail(std::move(file));
    }
    return {};
}

}  // namespace ostrelcomm
