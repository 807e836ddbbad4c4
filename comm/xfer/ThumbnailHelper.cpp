#include "xfer/ThumbnailHelper.h"

#include <optional>
#include <string>
#include <string_view>

#include "filetype/FileType.h"
#include "platform/RegularFile.h"
#include "xfer/ThumbnailChild.h"

namespace ostrelcomm {

namespace {

std::string detectedMime(RegularFile& file) {
    static const std::string kUnknown = "application/octet-stream";
    const auto head = file.read(FileType::kFileHeadLength);
    if (!head) return kUnknown;
    const auto type = FileType::getFor(ByteView(*head));
    return type ? type->mime : kUnknown;
}

}  // namespace

std::optional<ThumbnailKind> thumbnailKindOf(RegularFile& file) {
    const std::string mime = detectedMime(file);
    const std::string_view kind(mime);
    if (kind.starts_with("image/")) return ThumbnailKind::image;
    if (kind.starts_with("video/")) return ThumbnailKind::video;
    if (kind == "application/pdf") return ThumbnailKind::pdf;
    return std::nullopt;
}

ThumbnailResult createThumnbnail(const std::filesystem::path& url) {
    auto file = RegularFile::open(url);
    if (!file) return {};
    const auto kind = thumbnailKindOf(*file);
    if (!kind) return {};
    // Only the first bytes were read here: the decoders run in a process of
    // their own, on this very file, whatever is renamed into its path.
    return ThumbnailChild().make(*file, *kind);
}

}  // namespace ostrelcomm
