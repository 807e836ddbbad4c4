#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/MediaFixtures.h"
#include "thumbnail/ThumbnailImage.h"
#include "thumbnail/ThumbnailMakers.h"

namespace ostrelcomm {
namespace {

using namespace testsupport;

constexpr const char* kErrorPrefix = "*** Error generating thumbnail: ";

// The thumbnail decoded by djpeg, after the checks that hold for every one.
RgbPicture decodedThumbnail(const ThumbnailResult& result) {
    EXPECT_TRUE(result.thumbnail);
    EXPECT_EQ(result.thumbnailmime, std::optional<std::string>("image/jpeg"));
    if (!result.thumbnail) return {};
    auto decoded = decodeJpeg(*result.thumbnail);
    EXPECT_TRUE(decoded) << "djpeg refuses the thumbnail";
    return decoded.value_or(RgbPicture{});
}

FixtureShelf::Maker picture(int width, int height) {
    return [=](const std::filesystem::path& output) { twoColourPicture(output, width, height); };
}

class MediaThumbnail : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The clip tagged with a display rotation, its frames untouched.
        auto rotated = [](const char* degrees) -> FixtureShelf::Maker {
            return [degrees](const std::filesystem::path& output) {
                ffmpeg({"-i", file("clip.mp4").string(), "-c", "copy", "-metadata:s:v:0",
                        std::string("rotate=") + degrees, output.string()});
            };
        };
        shelf_ = std::make_unique<FixtureShelf>(std::map<std::string, FixtureShelf::Maker>{
            {"wide.png", picture(1000, 500)},
            {"small.png", picture(100, 50)},
            {"tall.png", picture(500, 1000)},
            {"photo.jpg", picture(640, 480)},
            {"drawing.gif", picture(300, 200)},
            {"scan.bmp", picture(200, 400)},
            {"strip.png", picture(kMaxPictureSide, 2)},
            {"overlong.png", picture(kMaxPictureSide + 1, 2)},
            {"clip.mp4", [](const auto& output) { twoColourClip(output, 1920, 1080); }},
            {"rotate90.mp4", rotated("90")},
            {"rotate180.mp4", rotated("180")},
            {"rotate270.mp4", rotated("270")},
            // The index first, so that the frames can be overwritten alone.
            {"indexed.mp4",
             [](const auto& output) {
                 ffmpeg({"-i", file("clip.mp4").string(), "-c", "copy", "-movflags", "+faststart",
                         output.string()});
             }},
            // A photograph-like pattern, and the same much larger (decoded at a
            // fraction of its size).
            {"pattern.jpg",
             [](const auto& output) {
                 ffmpeg({"-f", "lavfi", "-i", "testsrc=s=640x480", "-frames:v", "1", "-q:v", "2", output.string()});
             }},
            {"large-pattern.jpg",
             [](const auto& output) {
                 ffmpeg({"-f", "lavfi", "-i", "testsrc=s=4000x3000", "-frames:v", "1", "-q:v", "2", output.string()});
             }},
            // A frame too wide for a thumbnail, in a container that declares it.
            {"wide-frames.mov",
             [](const auto& output) { twoColourClip(output, kMaxPictureSide + 16, 16, {"-c:v", "png"}); }},
        });
    }
    static void TearDownTestSuite() { shelf_.reset(); }

    static std::filesystem::path file(const std::string& name) { return shelf_->get(name); }
    static std::filesystem::path write(const std::string& name, const Bytes& contents) {
        return shelf_->folder().write(name, contents);
    }

    static std::unique_ptr<FixtureShelf> shelf_;
};

std::unique_ptr<FixtureShelf> MediaThumbnail::shelf_;

TEST_F(MediaThumbnail, PicturesAreFittedInto320PixelsKeepingTheirColours) {
    const std::vector<std::tuple<std::string, int, int>> cases{
        {"wide.png", 320, 160}, {"small.png", 320, 160}, {"tall.png", 160, 320},
        {"photo.jpg", 320, 240}, {"drawing.gif", 320, 213}, {"scan.bmp", 160, 320},
        {"strip.png", 320, 1}};
    SystemLogCapture log;
    for (const auto& [name, width, height] : cases) {
        SCOPED_TRACE(name);
        const auto picture = decodedThumbnail(createImageThumbnail(file(name)));
        ASSERT_EQ(picture.width, width);
        ASSERT_EQ(picture.height, height);
        EXPECT_TRUE(closeColour(picture.pixel(width / 8, height / 2), kRed));
        EXPECT_TRUE(closeColour(picture.pixel(width - 1 - width / 8, height / 2), kBlue));
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(MediaThumbnail, VideoGivesItsFirstFrameFittedInto320Pixels) {
    const auto picture = decodedThumbnail(createMovieThumbnail(file("clip.mp4")));
    EXPECT_EQ(picture.width, 320);
    EXPECT_EQ(picture.height, 180);
}

// Turned as the ffmpeg command line turns the same frame, compared at the
// centres of the four quarters.
TEST_F(MediaThumbnail, RotatedVideoIsTurnedUprightLikeTheCommandLineShowsIt) {
    const std::vector<std::tuple<std::string, int, int>> cases{
        {"clip.mp4", 320, 180}, {"rotate90.mp4", 180, 320}, {"rotate180.mp4", 320, 180},
        {"rotate270.mp4", 180, 320}};
    for (const auto& [name, width, height] : cases) {
        SCOPED_TRACE(name);
        const auto reference = firstFrameByFfmpeg(file(name));
        const auto picture = decodedThumbnail(createMovieThumbnail(file(name)));
        ASSERT_EQ(picture.width, width);
        ASSERT_EQ(picture.height, height);
        for (const double fx : {0.25, 0.75}) {
            for (const double fy : {0.25, 0.75}) {
                const auto expected = reference.pixel(static_cast<int>(fx * reference.width),
                                                      static_cast<int>(fy * reference.height));
                const auto seen = picture.pixel(static_cast<int>(fx * width), static_cast<int>(fy * height));
                EXPECT_TRUE(closeColour(seen, expected)) << "at " << fx << ", " << fy;
            }
        }
    }
}

TEST_F(MediaThumbnail, DamagedVideoLogsOneLineAndGivesNothing) {
    const Bytes clip = readFile(file("clip.mp4"));
    // The H.264 clip as written keeps its index at the end, after the frames.
    Bytes truncated(clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(clip.size() / 2));
    Bytes garbage = Bytes{0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 2, 0,
                          'i', 's', 'o', 'm', 'i', 's', 'o', '2'};
    for (int i = 0; i < 4000; ++i) garbage.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    // The index kept, the frames' bytes all overwritten.
    Bytes blanked = readFile(file("indexed.mp4"));
    const std::string mdat = "mdat";
    const auto at = std::search(blanked.begin(), blanked.end(), mdat.begin(), mdat.end());
    ASSERT_NE(at, blanked.end());
    std::fill(at + 4, blanked.end(), 0xff);

    const std::vector<std::pair<std::string, std::filesystem::path>> cases{
        {"truncated", write("truncated.mp4", truncated)},
        {"garbage_after_header", write("garbage.mp4", garbage)},
        {"frames_unreadable", write("blanked.mp4", blanked)},
        {"frame_too_large", file("wide-frames.mov")},
        {"missing", shelf_->folder().file("no-such-clip.mp4")}};
    for (const auto& [label, path] : cases) {
        SCOPED_TRACE(label);
        SystemLogCapture log;
        EXPECT_EQ(createMovieThumbnail(path), ThumbnailResult{});
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(kErrorPrefix, 0), 0u) << lines[0];
        EXPECT_GT(lines[0].size(), std::string(kErrorPrefix).size());
    }
}

// Headers that claim a huge picture are refused before a pixel buffer is made
// (AddressSanitizer would stop the test on a buffer of many gigabytes).
TEST_F(MediaThumbnail, PicturesBeyondTheLimitsGiveNothingAndNoLogLine) {
    const std::vector<std::pair<std::string, std::filesystem::path>> cases{
        {"png_claiming_100000_square", write("huge.png", pngClaimingSize(100'000, 100'000))},
        {"png_claiming_too_wide", write("wide-header.png", pngClaimingSize(kMaxPictureSide + 1, 1))},
        {"gif_screen_of_108_megapixels", write("screen.gif", gifWithScreen(12'000, 9'000))},
        {"png_one_pixel_too_wide", file("overlong.png")}};
    SystemLogCapture log;
    for (const auto& [label, path] : cases) {
        SCOPED_TRACE(label);
        EXPECT_EQ(createImageThumbnail(path), ThumbnailResult{});
    }
    EXPECT_TRUE(log.lines().empty());

    // The same kind of GIF within the limits is read, so the size is what refused it.
    const auto picture =
        decodedThumbnail(createImageThumbnail(write("screen-ok.gif", gifWithScreen(4'000, 3'000))));
    EXPECT_EQ(picture.width, 320);
    EXPECT_EQ(picture.height, 240);
}

// Each EXIF orientation written by exiftool into the same JPEG; ImageMagick's
// -auto-orient shows what upright is.
TEST_F(MediaThumbnail, JpegIsTurnedAsItsExifOrientationSays) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const auto tagged = write("exif-" + std::to_string(orientation) + ".jpg", readFile(file("pattern.jpg")));
        ASSERT_EQ(runProgram({"exiftool", "-q", "-overwrite_original", "-n",
                              "-Orientation=" + std::to_string(orientation), tagged.string()})
                      .first,
                  0);
        const auto picture = decodedThumbnail(createImageThumbnail(tagged));
        const auto reference = magickThumbnail(tagged, {"-auto-orient"});
        const bool sideways = orientation >= 5;
        ASSERT_EQ(picture.width, sideways ? 240 : 320);
        ASSERT_EQ(picture.height, sideways ? 320 : 240);
        EXPECT_LT(meanDifference(picture, reference), 10.0);
    }
}

// Decoded at an eighth of its size, a large photograph still gives the
// thumbnail ImageMagick makes of it whole.
TEST_F(MediaThumbnail, LargeJpegDecodedSmallerGivesTheSamePicture) {
    const auto picture = decodedThumbnail(createImageThumbnail(file("large-pattern.jpg")));
    ASSERT_EQ(picture.width, 320);
    ASSERT_EQ(picture.height, 240);
    EXPECT_LT(meanDifference(picture, magickThumbnail(file("large-pattern.jpg"))), 10.0);
}

// A JPEG that never ends: the decoder would gather it whole (a gigabyte of
// memory for a file of some kilobytes on disk) before finding it damaged.
TEST_F(MediaThumbnail, JpegLongerThanAThumbnailMayReadIsRefused) {
    const auto path = shelf_->folder().file("endless.jpg");
    sparseJpeg(path, readFile(file("photo.jpg")), std::uint64_t{1} << 30);
    SystemLogCapture log;
    EXPECT_EQ(createImageThumbnail(path), ThumbnailResult{});
    EXPECT_TRUE(log.lines().empty());
    // The same picture within the input a thumbnail may read still gives one.
    const auto shorter = shelf_->folder().file("long.jpg");
    sparseJpeg(shorter, readFile(file("photo.jpg")), std::uint64_t{1} << 20);
    EXPECT_TRUE(createImageThumbnail(shorter).thumbnail);
}

}  // namespace
}  // namespace ostrelcomm
