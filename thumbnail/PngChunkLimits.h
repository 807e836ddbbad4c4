#pragma once

#include "platform/Bytes.h"
#include "platform/RegularFile.h"

namespace ostrelcomm {

// The compressed chunks of a PNG file that the decoder unpacks whole into
// memory whatever the picture's size: text (zTXt, iTXt) and the colour
// profile (iCCP). A megabyte of such a chunk can unpack to a gigabyte.
inline constexpr std::size_t kMaxPngChunkUnpackedBytes = std::size_t{8} << 20;
inline constexpr std::size_t kMaxPngChunksUnpackedBytes = std::size_t{16} << 20;

// The eight bytes a PNG file begins with.
bool isPng(ByteView head);

// False when one of those chunks, or all of them together, unpack to more
// than the limits above. Each is unpacked only as far as the limit; chunks
// past the input a thumbnail may read are never decoded and not looked at.
// A file that is no PNG, or whose chunk list is damaged, passes: the decoder
// refuses it by itself.
bool pngChunksWithinLimits(const RegularFile& file);

}  // namespace ostrelcomm
