#include "thumbnail/PngChunkLimits.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/MediaFixtures.h"
#include "thumbnail/ThumbnailMakers.h"

namespace ostrelcomm {
namespace {

using namespace testsupport;

// A gigabyte of text or of colour profile packed into a megabyte: the
// decoder would unpack it whole. AddressSanitizer would stop the test at an
// allocation of that size, so getting nothing back shows it was refused
// before.
TEST(PngChunkLimits, ChunksThatUnpackBeyondTheLimitsAreRefusedBeforeDecoding) {
    TempFolder folder;
    twoColourPicture(folder.file("plain.png"), 64, 32);
    const Bytes plain = readFile(folder.file("plain.png"));
    const Bytes gigabyte = compressedChunkData(std::uint64_t{1} << 30);
    ASSERT_LT(gigabyte.size(), 2u << 20);
    const Bytes justOver = compressedChunkData(kMaxPngChunkUnpackedBytes + 1);

    struct Case {
        std::string label;
        Bytes png;
        bool within;
    };
    const std::vector<Case> cases{
        {"text_of_a_gigabyte", withPngChunk(plain, "zTXt", gigabyte), false},
        {"profile_of_a_gigabyte", withPngChunk(plain, "iCCP", gigabyte), false},
        {"text_one_byte_over", withPngChunk(plain, "zTXt", justOver), false},
        {"two_texts_over_together",
         withPngChunk(withPngChunk(plain, "zTXt", compressedChunkData(kMaxPngChunkUnpackedBytes)), "zTXt",
                      compressedChunkData(kMaxPngChunksUnpackedBytes - kMaxPngChunkUnpackedBytes + 1)),
         false},
        {"modest_text_and_profile",
         withPngChunk(withPngChunk(plain, "zTXt", compressedChunkData(100'000)), "iCCP",
                      compressedChunkData(500'000)),
         true},
        {"plain", plain, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto path = folder.write(c.label + ".png", c.png);
        auto file = RegularFile::open(path);
        ASSERT_TRUE(file);
        EXPECT_EQ(pngChunksWithinLimits(*file), c.within);
        const auto result = createImageThumbnail(path);
        EXPECT_EQ(result.thumbnail.has_value(), c.within);
    }
}

}  // namespace
}  // namespace ostrelcomm
