#include "thumbnail/ThumbnailImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/MediaFixtures.h"

namespace ostrelcomm {
namespace {

using testsupport::closeColour;
using testsupport::decodeJpeg;
using testsupport::kBlue;
using testsupport::kRed;

struct FitCase {
    std::string label;
    double width;
    double height;
    int box;
    std::optional<ImageSize> expected;
};

void PrintTo(const FitCase& c, std::ostream* os) { *os << c.label; }

class FittedSize : public ::testing::TestWithParam<FitCase> {};

TEST_P(FittedSize, KeepsTheAspectRatioInsideTheBox) {
    const auto& c = GetParam();
    EXPECT_EQ(fittedSize(c.width, c.height, c.box), c.expected);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInfinity = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, FittedSize,
    ::testing::Values(FitCase{"wide", 1000, 500, 320, ImageSize{320, 160}},
                      FitCase{"small_is_enlarged", 100, 50, 320, ImageSize{320, 160}},
                      FitCase{"tall", 500, 1000, 320, ImageSize{160, 320}},
                      FitCase{"full_hd", 1920, 1080, 320, ImageSize{320, 180}},
                      FitCase{"square_pixel", 1, 1, 320, ImageSize{320, 320}},
                      FitCase{"thin_side_is_at_least_one", 16384, 2, 320, ImageSize{320, 1}},
                      FitCase{"rounded_to_nearest", 300, 200, 320, ImageSize{320, 213}},
                      FitCase{"a4_page_in_points", 595.276, 841.89, 300, ImageSize{212, 300}},
                      FitCase{"zero_side", 0, 10, 320, std::nullopt},
                      FitCase{"negative_side", -5, 10, 320, std::nullopt},
                      FitCase{"nan_side", kNaN, 10, 320, std::nullopt},
                      FitCase{"infinite_side", kInfinity, 10, 320, std::nullopt}),
    [](const auto& info) { return info.param.label; });

// A picture whose every pixel tells where it is: red = x, green = y.
std::optional<ThumbnailImage> coordinatePicture(int width, int height) {
    Bytes rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rgb.insert(rgb.end(), {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7});
        }
    }
    return ThumbnailImage::make({width, height}, rgb);
}

// Left half red, right half blue.
ThumbnailImage twoColours(int width, int height) {
    Bytes rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (x < width / 2) {
                rgb.insert(rgb.end(), {255, 0, 0});
            } else {
                rgb.insert(rgb.end(), {0, 0, 255});
            }
        }
    }
    return *ThumbnailImage::make({width, height}, rgb);
}

std::array<int, 3> colour(std::array<std::uint8_t, 3> p) { return {p[0], p[1], p[2]}; }

TEST(ThumbnailImage, MakeTakesExactlyTheBytesOfItsSizeWithinTheLimits) {
    EXPECT_TRUE(ThumbnailImage::make({2, 3}, Bytes(18)));
    EXPECT_FALSE(ThumbnailImage::make({2, 3}, Bytes(17)));
    EXPECT_FALSE(ThumbnailImage::make({2, 3}, Bytes(19)));
    EXPECT_FALSE(ThumbnailImage::make({0, 3}, Bytes()));
    EXPECT_FALSE(ThumbnailImage::make({-2, -3}, Bytes(18)));
    EXPECT_FALSE(ThumbnailImage::make({kMaxPictureSide + 1, 1}, Bytes((kMaxPictureSide + 1) * 3)));

    const auto picture = coordinatePicture(5, 4);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->pixel(3, 2), (std::array<std::uint8_t, 3>{3, 2, 7}));
}

TEST(ThumbnailImage, LimitsRefuseALongSideAndTooManyPixels) {
    EXPECT_TRUE(withinPictureLimits(kMaxPictureSide, 6103));
    EXPECT_FALSE(withinPictureLimits(kMaxPictureSide + 1, 1));
    EXPECT_FALSE(withinPictureLimits(1, kMaxPictureSide + 1));
    EXPECT_TRUE(withinPictureLimits(10'000, 10'000));
    EXPECT_FALSE(withinPictureLimits(10'001, 10'000));
    EXPECT_FALSE(withinPictureLimits(0, 1));
}

TEST(ThumbnailImage, CopyRedrawsAtTheGivenSizeInBothDirections) {
    const auto source = twoColours(64, 32);
    for (const ImageSize size : {ImageSize{320, 160}, ImageSize{16, 8}, ImageSize{7, 30}}) {
        const auto copy = source.copy(size);
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->size(), size);
        EXPECT_TRUE(closeColour(colour(copy->pixel(size.width / 8, size.height / 2)), kRed, 8));
        EXPECT_TRUE(closeColour(colour(copy->pixel(size.width - 1 - size.width / 8, size.height / 2)), kBlue, 8));
    }
    EXPECT_FALSE(source.copy({0, 10}));
    EXPECT_FALSE(source.copy({kMaxPictureSide + 1, 10}));
}

struct TurnCase {
    int quarterTurns;
    ImageSize size;
    // Where the source's top-left, top-right and bottom-left pixels land.
    std::array<std::pair<int, int>, 3> corners;
};

TEST(ThumbnailImage, RotatedTurnsClockwise) {
    const auto source = coordinatePicture(3, 2);  // corners (0,0) (2,0) (0,1)
    ASSERT_TRUE(source);
    const std::vector<TurnCase> cases{
        {0, {3, 2}, {{{0, 0}, {2, 0}, {0, 1}}}},
        {1, {2, 3}, {{{1, 0}, {1, 2}, {0, 0}}}},
        {2, {3, 2}, {{{2, 1}, {0, 1}, {2, 0}}}},
        {3, {2, 3}, {{{0, 2}, {0, 0}, {1, 2}}}},
        {-1, {2, 3}, {{{0, 2}, {0, 0}, {1, 2}}}},
        {5, {2, 3}, {{{1, 0}, {1, 2}, {0, 0}}}},
    };
    const std::array<std::array<std::uint8_t, 3>, 3> sourceCorners{{{0, 0, 7}, {2, 0, 7}, {0, 1, 7}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.quarterTurns);
        const auto turned = source->rotated(c.quarterTurns);
        ASSERT_EQ(turned.size(), c.size);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(turned.pixel(c.corners[i].first, c.corners[i].second), sourceCorners[i]);
        }
    }
}

// The first value of the first quantisation table: the encoder's scaling of
// the standard luminance table (16 at its corner) for the quality used.
int firstQuantiser(const Bytes& jpeg) {
    for (std::size_t i = 2; i + 5 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xff && jpeg[i + 1] == 0xdb) return jpeg[i + 5];
    }
    return -1;
}

TEST(ThumbnailImage, JpegDataEncodesAtTheQualityOfTheFactor) {
    const auto picture = twoColours(96, 48);
    // The standard table scaled as libjpeg does: 5000/q percent below 50, 200 - 2q from 50.
    const std::vector<std::pair<float, int>> cases{{0.75f, 8}, {0.5f, 16}, {0.1f, 80}, {1.0f, 1}, {0.0f, 255}};
    for (const auto& [factor, quantiser] : cases) {
        SCOPED_TRACE(factor);
        const auto jpeg = picture.jpegData(factor);
        ASSERT_TRUE(jpeg);
        EXPECT_EQ(firstQuantiser(*jpeg), quantiser);
    }

    const auto decoded = decodeJpeg(*picture.jpegData(0.75f));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 96);
    EXPECT_EQ(decoded->height, 48);
    EXPECT_TRUE(closeColour(decoded->pixel(10, 24), kRed));
    EXPECT_TRUE(closeColour(decoded->pixel(86, 24), kBlue));
}

TEST(ThumbnailImage, JpegDataRefusesAFactorOutsideZeroToOne) {
    const auto picture = twoColours(8, 8);
    for (float factor : {-0.01f, 1.01f, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_FALSE(picture.jpegData(factor)) << factor;
    }
}

}  // namespace
}  // namespace ostrelcomm
