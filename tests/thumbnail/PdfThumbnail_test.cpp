#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/MediaFixtures.h"
#include "thumbnail/ThumbnailMakers.h"

namespace ostrelcomm {
namespace {

using namespace testsupport;

struct PageCase {
    std::string label;
    PdfPage page;
    int width;
    int height;
};

TEST(PdfThumbnail, FirstPageIsFittedInto300PixelsOnWhite) {
    const std::vector<PageCase> cases{
        {"a4_portrait", {}, 212, 300},
        {"a4_turned_by_its_page", {595.276, 841.89, 90}, 300, 212},
        {"wide_page", {600, 200, 0}, 300, 100},
        {"small_page_is_enlarged", {100, 100, 0}, 300, 300},
    };
    TempFolder folder;
    SystemLogCapture log;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        // A second page of another size must not count.
        const auto path = folder.write(c.label + ".pdf", pdfDocument({c.page, {300, 50, 0}}));
        const auto result = createPDFThumbnail(path);
        ASSERT_TRUE(result.thumbnail);
        EXPECT_EQ(result.thumbnailmime, std::optional<std::string>("image/jpeg"));
        const auto picture = decodeJpeg(*result.thumbnail);
        ASSERT_TRUE(picture);
        EXPECT_LE(std::abs(picture->width - c.width), 1);
        EXPECT_LE(std::abs(picture->height - c.height), 1);
        EXPECT_TRUE(closeColour(picture->pixel(1, 1), kWhite, 16));
    }

    // Where the blue square of the A4 page lies: 50 to 250 points from its
    // lower left corner, at 300 / 841.89 pixels a point.
    const auto a4 = decodeJpeg(*createPDFThumbnail(folder.file("a4_portrait.pdf")).thumbnail);
    ASSERT_TRUE(a4);
    const double scale = 300 / 841.89;
    EXPECT_TRUE(closeColour(a4->pixel(static_cast<int>(150 * scale), static_cast<int>((841.89 - 150) * scale)),
                            kBlue));
    EXPECT_TRUE(closeColour(a4->pixel(static_cast<int>(400 * scale), static_cast<int>((841.89 - 150) * scale)),
                            kWhite, 16));
    EXPECT_TRUE(log.lines().empty());
}

// The page is drawn whole, as its media box says, not trimmed to its crop
// box: the blue square lies outside the crop box and still shows.
TEST(PdfThumbnail, PageIsDrawnForItsMediaBoxNotItsCropBox) {
    TempFolder folder;
    PdfPage page{600, 400, 0, std::array<double, 4>{300, 0, 600, 400}};
    const auto result = createPDFThumbnail(folder.write("cropped.pdf", pdfDocument({page})));
    ASSERT_TRUE(result.thumbnail);
    const auto picture = decodeJpeg(*result.thumbnail);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 300);
    EXPECT_EQ(picture->height, 200);
    // The square's centre, (150, 150) points from the lower left, at half scale.
    EXPECT_TRUE(closeColour(picture->pixel(75, 200 - 75), kBlue));
    EXPECT_TRUE(closeColour(picture->pixel(225, 100), kWhite, 16));
}

TEST(PdfThumbnail, DocumentsWithoutARenderablePageGiveNothing) {
    TempFolder folder;
    const Bytes document = pdfDocument({PdfPage{}});
    const std::vector<std::pair<std::string, Bytes>> cases{
        {"no_pages", pdfDocument({})},
        {"header_then_garbage", toBytes("%PDF-1.4\n" + std::string(2000, '\x9c'))},
        {"truncated", Bytes(document.begin(), document.begin() + 60)},
    };
    SystemLogCapture log;
    for (const auto& [label, bytes] : cases) {
        SCOPED_TRACE(label);
        EXPECT_EQ(createPDFThumbnail(folder.write(label + ".pdf", bytes)), ThumbnailResult{});
    }
    EXPECT_EQ(createPDFThumbnail(folder.file("missing.pdf")), ThumbnailResult{});
    EXPECT_TRUE(log.lines().empty());
}

}  // namespace
}  // namespace ostrelcomm
