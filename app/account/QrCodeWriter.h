#pragma once

#include <QImage>

#include <optional>

#include "platform/Bytes.h"

namespace quorvel::QrCodeWriter {

// The side of the image, in device-independent pixels.
inline constexpr int kSide = 150;
// The white margin around the code, in modules.
inline constexpr int kQuietZone = 4;

// `bytes` as one QR code (byte mode, the lowest error correction), drawn
// black on white with a quiet zone of kQuietZone modules, each module a
// square of a whole number of device pixels (no smoothing, no blur), centred
// in a square of kSide device-independent pixels at `devicePixelRatio`.
// Absent when there are no bytes, the code cannot hold them, or its modules
// would not fit at one device pixel each.
std::optional<QImage> image(ostrelcomm::ByteView bytes, qreal devicePixelRatio);

}  // namespace quorvel::QrCodeWriter
