#include "thumbnail/ThumbnailImage.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

extern "C" {
#include <libswscale/swscale.h>
}

#include "thumbnail/FfmpegLog.h"

namespace ostrelcomm {

namespace {

constexpr std::size_t kRowAlignment = 64;

struct SwsFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

struct TurboJpegFree {
    void operator()(void* handle) const { tjDestroy(handle); }
};

}  // namespace

Orientation Orientation::fromExif(int value) {
    // 2 to 4 mirror or turn the rows as stored; 5 to 8 also exchange rows
    // and columns, which a mirror and an odd number of turns make.
    switch (value) {
        case 2:
            return {true, 0};
        case 3:
            return {false, 2};
        case 4:
            return {true, 2};
        case 5:
            return {true, 3};
        case 6:
            return {false, 1};
        case 7:
            return {true, 1};
        case 8:
            return {false, 3};
        default:
            return {};
    }
}

bool withinPictureLimits(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           width * height <= kMaxPicturePixels;
}

std::optional<ImageSize> fittedSize(double width, double height, int box) {
    if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height) ||
        box <= 0) {
        return std::nullopt;
    }
    const double factor = std::min(box / width, box / height);
    auto side = [box](double scaled) {
        return static_cast<int>(std::clamp(std::round(scaled), 1.0, static_cast<double>(box)));
    };
    return ImageSize{side(width * factor), side(height * factor)};
}

ThumbnailImage::ThumbnailImage(ImageSize size)
    : size_(size), pixels_(stride() * static_cast<std::size_t>(size.height) + kRowAlignment) {}

std::size_t ThumbnailImage::stride() const {
    const auto packed = static_cast<std::size_t>(size_.width) * 3;
    return (packed + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
}

std::optional<ThumbnailImage> ThumbnailImage::make(ImageSize size, ByteView rgb) {
    if (!withinPictureLimits(size.width, size.height)) return std::nullopt;
    const auto rowBytes = static_cast<std::size_t>(size.width) * 3;
    if (rgb.size() != rowBytes * static_cast<std::size_t>(size.height)) return std::nullopt;
    ThumbnailImage image(size);
    for (int y = 0; y < size.height; ++y) {
        std::memcpy(image.row(y), rgb.data() + rowBytes * static_cast<std::size_t>(y), rowBytes);
    }
    return image;
}

std::optional<ThumbnailImage> ThumbnailImage::scaledFromRgba(const std::uint8_t* rgba, std::size_t stride,
                                                            ImageSize from, ImageSize to) {
    if (!withinPictureLimits(from.width, from.height) || !withinPictureLimits(to.width, to.height)) {
        return std::nullopt;
    }
    silenceFfmpegLog();
    std::unique_ptr<SwsContext, SwsFree> scaler(sws_getContext(from.width, from.height, AV_PIX_FMT_RGBA, to.width,
                                                               to.height, AV_PIX_FMT_RGB24,
                                                               SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr,
                                                               nullptr));
    if (!scaler) return std::nullopt;
    ThumbnailImage out(to);
    const std::uint8_t* source[4] = {rgba, nullptr, nullptr, nullptr};
    const int sourceStride[4] = {static_cast<int>(stride), 0, 0, 0};
    std::uint8_t* target[4] = {out.row(0), nullptr, nullptr, nullptr};
    const int targetStride[4] = {static_cast<int>(out.stride()), 0, 0, 0};
    if (sws_scale(scaler.get(), source, sourceStride, 0, from.height, target, targetStride) != to.height) {
        return std::nullopt;
    }
    return out;
}

std::array<std::uint8_t, 3> ThumbnailImage::pixel(int x, int y) const {
    const std::uint8_t* p = row(y) + static_cast<std::size_t>(x) * 3;
    return {p[0], p[1], p[2]};
}

std::optional<ThumbnailImage> ThumbnailImage::copy(ImageSize size) const {
    if (!withinPictureLimits(size.width, size.height)) return std::nullopt;
    silenceFfmpegLog();
    std::unique_ptr<SwsContext, SwsFree> scaler(sws_getContext(
        size_.width, size_.height, AV_PIX_FMT_RGB24, size.width, size.height, AV_PIX_FMT_RGB24,
        SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    if (!scaler) return std::nullopt;
    ThumbnailImage out(size);
    const std::uint8_t* source[4] = {row(0), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {static_cast<int>(stride()), 0, 0, 0};
    std::uint8_t* target[4] = {out.row(0), nullptr, nullptr, nullptr};
    const int targetStride[4] = {static_cast<int>(out.stride()), 0, 0, 0};
    const int written =
        sws_scale(scaler.get(), source, sourceStride, 0, size_.height, target, targetStride);
    if (written != size.height) return std::nullopt;
    return out;
}

ThumbnailImage ThumbnailImage::rotated(int quarterTurns) const {
    const int turns = ((quarterTurns % 4) + 4) % 4;
    const int w = size_.width;
    const int h = size_.height;
    ThumbnailImage out(turns % 2 == 0 ? size_ : ImageSize{h, w});
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* from = row(y);
        for (int x = 0; x < w; ++x, from += 3) {
            int tx = x;
            int ty = y;
            switch (turns) {
                case 1:
                    tx = h - 1 - y;
                    ty = x;
                    break;
                case 2:
                    tx = w - 1 - x;
                    ty = h - 1 - y;
                    break;
                case 3:
                    tx = y;
                    ty = w - 1 - x;
                    break;
                default:
                    break;
            }
            std::memcpy(out.row(ty) + static_cast<std::size_t>(tx) * 3, from, 3);
        }
    }
    return out;
}

ThumbnailImage ThumbnailImage::mirrored() const {
    ThumbnailImage out(size_);
    for (int y = 0; y < size_.height; ++y) {
        const std::uint8_t* from = row(y);
        std::uint8_t* to = out.row(y) + static_cast<std::size_t>(size_.width) * 3;
        for (int x = 0; x < size_.width; ++x, from += 3) {
            to -= 3;
            std::memcpy(to, from, 3);
        }
    }
    return out;
}

ThumbnailImage ThumbnailImage::oriented(Orientation orientation) const {
    if (orientation.mirrored) return mirrored().rotated(orientation.quarterTurns);
    return rotated(orientation.quarterTurns);
}

std::optional<Bytes> ThumbnailImage::jpegData(float compressionFactor) const {
    if (!(compressionFactor >= 0.0f && compressionFactor <= 1.0f)) return std::nullopt;
    const int quality =
        std::clamp(static_cast<int>(std::lround(compressionFactor * 100.0f)), 1, 100);
    std::unique_ptr<void, TurboJpegFree> encoder(tjInitCompress());
    if (!encoder) return std::nullopt;
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int failed =
        tjCompress2(encoder.get(), row(0), size_.width, static_cast<int>(stride()), size_.height,
                    TJPF_RGB, &jpeg, &jpegSize, TJSAMP_420, quality, 0);
    std::optional<Bytes> bytes;
    if (failed == 0 && jpeg != nullptr && jpegSize > 0) bytes.emplace(jpeg, jpeg + jpegSize);
    tjFree(jpeg);
    return bytes;
}

}  // namespace ostrelcomm
