// The library reads what the thumbnail program writes as untrusted: a decoder
// led astray inside the program may write anything. Whatever is accepted
// must be a whole output, which written again gives the same bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "thumbnail/ThumbnailOutput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ostrelcomm::ByteView bytes(data, size);
    const auto decoded = ostrelcomm::ThumbnailOutput::decode(bytes);
    if (!decoded) return 0;
    if (decoded->result.thumbnail.has_value() != decoded->result.thumbnailmime.has_value()) __builtin_trap();
    const auto again = decoded->encode();
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
    return 0;
}
