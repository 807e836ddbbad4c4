#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/Bytes.h"

namespace ostrelcomm {

// How a line about a thumbnail that could not be made begins in the system log.
inline constexpr const char* kThumbnailErrorPrefix = "*** Error generating thumbnail: ";

// What a thumbnail maker gives: the image bytes and their MIME type, both or
// neither. Callers store the pair as it is, so a MIME type without bytes would
// reach the server as a thumbnail of nothing.
struct ThumbnailResult {
    std::optional<Bytes> thumbnail;
    std::optional<std::string> thumbnailmime;

    friend bool operator==(const ThumbnailResult&, const ThumbnailResult&) = default;

    // The JPEG encoder's output: present bytes labelled "image/jpeg", or nothing.
    static ThumbnailResult fromJpeg(std::optional<Bytes> jpeg) {
        if (!jpeg || jpeg->empty()) return {};
        return {std::move(jpeg), std::string(kJpegMime)};
    }

    static constexpr const char* kJpegMime = "image/jpeg";
};

}  // namespace ostrelcomm
