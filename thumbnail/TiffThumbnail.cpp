#include "thumbnail/TiffThumbnail.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "thumbnail/ThumbnailImage.h"
#include "thumbnail/ThumbnailMakers.h"

namespace ostrelcomm {

namespace {

// The whole picture is read into memory at four bytes a pixel before it is
// scaled: 32 megapixels take 128 MiB, half of what the thumbnail program may
// use. Larger pictures get no thumbnail.
constexpr std::int64_t kMaxRasterPixels = std::int64_t{32} << 20;
// No single allocation of libtiff's own (a strip, a tile, a table) beyond this.
constexpr tmsize_t kMaxSingleAllocation = tmsize_t{64} << 20;

tmsize_t readFile(thandle_t handle, void* buffer, tmsize_t size) {
    const int fd = static_cast<RegularFile*>(handle)->descriptor();
    auto* into = static_cast<std::uint8_t*>(buffer);
    tmsize_t filled = 0;
    while (filled < size) {
        const ssize_t got = ::read(fd, into + filled, static_cast<std::size_t>(size - filled));
        if (got > 0) {
            filled += got;
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            return filled > 0 ? filled : -1;
        }
    }
    return filled;
}

tmsize_t refuseWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t seekFile(thandle_t handle, toff_t offset, int whence) {
    const int fd = static_cast<RegularFile*>(handle)->descriptor();
    const off_t position = ::lseek(fd, static_cast<off_t>(offset), whence);
    return position < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(position);
}

// The descriptor stays the caller's.
int keepOpen(thandle_t) { return 0; }

toff_t fileSize(thandle_t handle) {
    const std::int64_t size = static_cast<RegularFile*>(handle)->size();
    return size < 0 ? 0 : static_cast<toff_t>(size);
}

int noMapping(thandle_t, void**, toff_t*) { return 0; }
void noUnmapping(thandle_t, void*, toff_t) {}

// libtiff's messages about damaged files are no event for the user.
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
struct TiffClose {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct ImageEnd {
    void operator()(TIFFRGBAImage* image) const { TIFFRGBAImageEnd(image); }
};

std::unique_ptr<TIFF, TiffClose> openTiff(RegularFile& file) {
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return {};
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxSingleAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quiet, nullptr);
    // "m": read through the calls above, never by mapping the file.
    return std::unique_ptr<TIFF, TiffClose>(TIFFClientOpenExt("picture", "rm", &file, readFile, refuseWrite,
                                                               seekFile, keepOpen, fileSize, noMapping,
                                                               noUnmapping, options.get()));
}

}  // namespace

bool isTiff(ByteView head) {
    if (head.size() < 4) return false;
    const bool little = head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0;
    const bool big = head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
    return little || big;
}

ThumbnailResult createTiffThumbnail(RegularFile file) {
    if (!file.rewind()) return {};
    const auto tiff = openTiff(file);
    if (!tiff) return {};
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) != 1 || !withinPictureLimits(width, height) ||
        std::int64_t{width} * height > kMaxRasterPixels) {
        return {};
    }
    char message[1024] = {};
    if (TIFFRGBAImageOK(tiff.get(), message) != 1) return {};
    TIFFRGBAImage reader{};
    if (TIFFRGBAImageBegin(&reader, tiff.get(), 0, message) != 1) return {};
    const std::unique_ptr<TIFFRGBAImage, ImageEnd> ending(&reader);
    // The rows as stored, top first; the orientation is applied to the small
    // picture, as for every other kind (libtiff would mirror, never turn).
    const Orientation orientation = Orientation::fromExif(reader.orientation);
    reader.orientation = ORIENTATION_TOPLEFT;
    reader.req_orientation = ORIENTATION_TOPLEFT;

    const std::size_t pixels = std::size_t{width} * height;
    // A little more than the picture: the scaler's vector code may read past
    // the last row.
    std::vector<std::uint32_t> raster(pixels + 16);
    if (TIFFRGBAImageGet(&reader, raster.data(), width, height) != 1) return {};

    // Transparent parts lie on white. libtiff's colours come premultiplied.
    auto* bytes = reinterpret_cast<std::uint8_t*>(raster.data());
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint32_t abgr = raster[i];
        const unsigned clear = 255 - TIFFGetA(abgr);
        const auto over = [clear](unsigned colour) { return static_cast<std::uint8_t>(std::min(255u, colour + clear)); };
        const std::uint8_t rgba[4] = {over(TIFFGetR(abgr)), over(TIFFGetG(abgr)), over(TIFFGetB(abgr)), 255};
        std::memcpy(bytes + i * 4, rgba, sizeof rgba);
    }

    const bool sideways = orientation.sideways();
    const auto fitted = fittedSize(sideways ? height : width, sideways ? width : height, kThumbnailBox);
    if (!fitted) return {};
    const ImageSize stored = sideways ? ImageSize{fitted->height, fitted->width} : *fitted;
    const auto picture = ThumbnailImage::scaledFromRgba(
        bytes, std::size_t{width} * 4, ImageSize{static_cast<int>(width), static_cast<int>(height)}, stored);
    if (!picture) return {};
    return ThumbnailResult::fromJpeg(picture->oriented(orientation).jpegData(kThumbnailJpegQuality));
}

}  // namespace ostrelcomm
