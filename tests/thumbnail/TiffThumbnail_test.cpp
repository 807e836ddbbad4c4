#include "thumbnail/TiffThumbnail.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/MediaFixtures.h"
#include "thumbnail/ThumbnailMakers.h"

namespace ostrelcomm {
namespace {

using namespace testsupport;

// One picture (the ffmpeg test pattern: bars, a gradient, text) laid out by
// libtiff's own tiffcp in tiles or strips, plain or LZW-compressed.
class TiffThumbnail : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto laidOut = [](std::vector<std::string> how) -> FixtureShelf::Maker {
            return [how](const std::filesystem::path& output) {
                std::vector<std::string> argv{"tiffcp"};
                argv.insert(argv.end(), how.begin(), how.end());
                argv.push_back(file("source.tif").string());
                argv.push_back(output.string());
                if (runProgram(argv).first != 0) throw std::runtime_error("tiffcp failed");
            };
        };
        shelf_ = std::make_unique<FixtureShelf>(std::map<std::string, FixtureShelf::Maker>{
            {"source.png", [](const auto& output) {
                 ffmpeg({"-f", "lavfi", "-i", "testsrc=s=640x480", "-frames:v", "1", output.string()});
             }},
            {"source.tif", [](const auto& output) {
                 if (runProgram({"convert", file("source.png").string(), "-depth", "8", output.string()}).first != 0)
                     throw std::runtime_error("convert failed");
             }},
            {"tiled.tif", laidOut({"-t", "-w", "64", "-l", "64", "-c", "none"})},
            {"tiled-lzw.tif", laidOut({"-t", "-w", "64", "-l", "64", "-c", "lzw"})},
            {"stripped.tif", laidOut({"-s", "-r", "16", "-c", "none"})},
            {"stripped-lzw.tif", laidOut({"-s", "-r", "16", "-c", "lzw"})},
        });
    }
    static void TearDownTestSuite() { shelf_.reset(); }
    static std::filesystem::path file(const std::string& name) { return shelf_->get(name); }

    static std::unique_ptr<FixtureShelf> shelf_;
};

std::unique_ptr<FixtureShelf> TiffThumbnail::shelf_;

TEST_F(TiffThumbnail, TilesAndStripsOfAnyCompressionGiveThePictureImageMagickShows) {
    for (const std::string name : {"tiled.tif", "tiled-lzw.tif", "stripped.tif", "stripped-lzw.tif"}) {
        SCOPED_TRACE(name);
        const auto result = createImageThumbnail(file(name));
        ASSERT_TRUE(result.thumbnail);
        const auto picture = decodeJpeg(*result.thumbnail);
        ASSERT_TRUE(picture);
        const auto reference = magickThumbnail(file(name));
        ASSERT_EQ(picture->width, 320);
        ASSERT_EQ(picture->height, 240);
        EXPECT_LT(meanDifference(*picture, reference), 10.0);
        EXPECT_GT(meanLevel(*picture), 40.0) << "a black picture";
    }
}

TEST_F(TiffThumbnail, TheOrientationTagTurnsThePictureAsImageMagickDoes) {
    for (const int orientation : {3, 6, 8}) {
        SCOPED_TRACE(orientation);
        const auto tagged = shelf_->folder().write("oriented-" + std::to_string(orientation) + ".tif",
                                                   readFile(file("stripped-lzw.tif")));
        ASSERT_EQ(runProgram({"tiffset", "-s", "274", std::to_string(orientation), tagged.string()}).first, 0);
        const auto result = createImageThumbnail(tagged);
        ASSERT_TRUE(result.thumbnail);
        const auto picture = decodeJpeg(*result.thumbnail);
        ASSERT_TRUE(picture);
        const auto reference = magickThumbnail(tagged, {"-auto-orient"});
        ASSERT_EQ(picture->width, reference.width);
        ASSERT_EQ(picture->height, reference.height);
        EXPECT_LT(meanDifference(*picture, reference), 10.0);
    }
}

TEST(TiffSignature, ClassicAndBigTiffInBothByteOrders) {
    EXPECT_TRUE(isTiff(Bytes{'I', 'I', 42, 0}));
    EXPECT_TRUE(isTiff(Bytes{'M', 'M', 0, 42}));
    EXPECT_TRUE(isTiff(Bytes{'I', 'I', 43, 0}));
    EXPECT_TRUE(isTiff(Bytes{'M', 'M', 0, 43}));
    EXPECT_FALSE(isTiff(Bytes{'I', 'I', 0, 42}));
    EXPECT_FALSE(isTiff(Bytes{'I', 'I', 42}));
}

}  // namespace
}  // namespace ostrelcomm
