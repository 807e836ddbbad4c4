#include "xfer/ThumbnailHelper.h"

#include <string>
#include <string_view>

#include "filetype/FileType.h"
#include "thumbnail/RegularFile.h"
#include "thumbnail/ThumbnailMakers.h"

namespace ostrelcomm {

namespace {

std::string detectedMime(const std::filesystem::path& url) {
    static const std::string kUnknown = "application/octet-stream";
    auto file = RegularFile::open(url);
    if (!file) return kUnknown;
    const auto head = file->read(FileType::kFileHeadLength);
    if (!head) return kUnknown;
    const auto type = FileType::getFor(ByteView(*head));
    return type ? type->mime : kUnknown;
}

}  // namespace

ThumbnailResult createThumnbnail(const std::filesystem::path& url) {
    const std::string mime = detectedMime(url);
    const std::string_view kind(mime);
    if (kind.starts_with("image/")) return createImageThumbnail(url);
    if (kind.starts_with("video/")) return createMovieThumbnail(url);
    if (kind == "application/pdf") return createPDFThumbnail(url);
    return {};
}

}  // namespace ostrelcomm
