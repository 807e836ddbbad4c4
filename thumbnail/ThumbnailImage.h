#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/Bytes.h"

namespace ostrelcomm {

struct ImageSize {
    int width = 0;
    int height = 0;

    friend bool operator==(const ImageSize&, const ImageSize&) = default;
};

// How a picture as stored is turned to be shown: mirrored left to right
// first, if at all, then turned clockwise by quarter turns.
struct Orientation {
    bool mirrored = false;
    int quarterTurns = 0;

    // From an EXIF (and TIFF) orientation, 1 to 8; anything else is upright.
    static Orientation fromExif(int value);
    // Shown with width and height exchanged.
    bool sideways() const { return quarterTurns % 2 != 0; }
};

// The largest picture the makers take: a hostile header can claim any size,
// and a decoder would make its pixel buffer before finding the data missing.
inline constexpr int kMaxPictureSide = 16'384;
inline constexpr std::int64_t kMaxPicturePixels = 100'000'000;

// The most of a file read for one thumbnail: a decoder that gathers a picture
// whole before it decodes it (a JPEG without its end marker, say) would
// otherwise take as much memory as the file is long.
inline constexpr std::int64_t kMaxMediaInputBytes = std::int64_t{64} << 20;

// Both sides positive and within the limits above.
bool withinPictureLimits(std::int64_t width, std::int64_t height);

// The size of a width × height picture fitted into a box × box square keeping
// its aspect ratio; a smaller picture is enlarged. Each side is rounded to the
// nearest pixel and is at least 1. Nothing for a side that is not positive.
std::optional<ImageSize> fittedSize(double width, double height, int box);

// A small RGB picture (8 bits a channel), the stage between a decoder and the
// JPEG encoder.
class ThumbnailImage {
  public:
    // Nothing unless rgb holds exactly width × height × 3 bytes, rows packed
    // top to bottom, and the size is within the picture limits.
    static std::optional<ThumbnailImage> make(ImageSize size, ByteView rgb);

    // RGBA pixels (8 bits a channel, alpha ignored) redrawn at another size;
    // rows of `stride` bytes, readable a little past the last one.
    static std::optional<ThumbnailImage> scaledFromRgba(const std::uint8_t* rgba, std::size_t stride, ImageSize from,
                                                        ImageSize to);

    ImageSize size() const { return size_; }
    std::array<std::uint8_t, 3> pixel(int x, int y) const;

    // This picture redrawn at another size (within the picture limits).
    std::optional<ThumbnailImage> copy(ImageSize size) const;
    // This picture turned clockwise by quarterTurns quarters (any integer).
    ThumbnailImage rotated(int quarterTurns) const;
    // This picture mirrored left to right.
    ThumbnailImage mirrored() const;
    // This picture as the orientation shows it.
    ThumbnailImage oriented(Orientation orientation) const;
    // JPEG bytes; the compression factor runs from 0 (smallest) to 1 (best),
    // 0.75 giving the encoder's quality 75. Nothing for a factor outside 0…1.
    std::optional<Bytes> jpegData(float compressionFactor) const;

  private:
    ThumbnailImage(ImageSize size);

    // Rows are padded so that the scaler's vector code may read and write a
    // little past a row's last pixel.
    std::size_t stride() const;
    std::uint8_t* row(int y) { return pixels_.data() + stride() * static_cast<std::size_t>(y); }
    const std::uint8_t* row(int y) const {
        return pixels_.data() + stride() * static_cast<std::size_t>(y);
    }

    ImageSize size_;
    Bytes pixels_;
};

}  // namespace ostrelcomm
