#include "xfer/ThumbnailHelper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/MediaFixtures.h"

namespace ostrelcomm {
namespace {

using namespace testsupport;

class ThumbnailHelper : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shelf_ = std::make_unique<FixtureShelf>(std::map<std::string, FixtureShelf::Maker>{
            {"picture.png", [](const auto& output) { twoColourPicture(output, 1000, 500); }},
            {"clip.mp4", [](const auto& output) { twoColourClip(output, 1920, 1080); }},
            {"page.pdf",
             [](const auto& output) {
                 shelf_->folder().write(output.filename().string(), pdfDocument({PdfPage{}}));
             }},
        });
    }
    static void TearDownTestSuite() { shelf_.reset(); }

    static std::filesystem::path file(const std::string& name) { return shelf_->get(name); }
    // The content of one fixture under another name.
    static std::filesystem::path renamed(const std::string& name, const std::string& as) {
        return shelf_->folder().write(as, readFile(file(name)));
    }

    static std::unique_ptr<FixtureShelf> shelf_;
};

std::unique_ptr<FixtureShelf> ThumbnailHelper::shelf_;

// The content decides the kind of thumbnail, whatever the name says.
TEST_F(ThumbnailHelper, ContentChoosesTheMaker) {
    const std::vector<std::tuple<std::string, std::filesystem::path, int, int>> cases{
        {"png", file("picture.png"), 320, 160},
        {"png_named_as_text", renamed("picture.png", "notes.txt"), 320, 160},
        {"video_without_extension", renamed("clip.mp4", "clip"), 320, 180},
        {"pdf", file("page.pdf"), 212, 300},
        {"pdf_named_as_jpeg", renamed("page.pdf", "x.jpg"), 212, 300},
    };
    SystemLogCapture log;
    for (const auto& [label, path, width, height] : cases) {
        SCOPED_TRACE(label);
        const auto result = createThumnbnail(path);
        ASSERT_TRUE(result.thumbnail);
        EXPECT_EQ(result.thumbnailmime, std::optional<std::string>("image/jpeg"));
        const auto picture = decodeJpeg(*result.thumbnail);
        ASSERT_TRUE(picture);
        EXPECT_LE(std::abs(picture->width - width), 1);
        EXPECT_LE(std::abs(picture->height - height), 1);
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ThumbnailHelper, AnythingElseGivesNeitherThumbnailNorMimeAndNoLogLine) {
    TempFolder folder;
    const auto fifo = folder.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Bytes pngThenGarbage{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (int i = 0; i < 3000; ++i) pngThenGarbage.push_back(static_cast<std::uint8_t>(i * 61 + 5));
    std::filesystem::create_directory(folder.file("folder.png"));
    ASSERT_EQ(::symlink(fifo.c_str(), folder.file("link-to-pipe.mp4").c_str()), 0);

    const std::vector<std::pair<std::string, std::filesystem::path>> cases{
        {"text", folder.write("readme.pdf", toBytes("Just some words, nothing to show.\n"))},
        {"empty", folder.write("empty.png", {})},
        {"audio", folder.write("sound.mp4", toBytes("ID3\x03\x00\x00\x00\x00\x00\x00" + std::string(200, 'a')))},
        {"fifo", fifo},
        {"link_to_fifo", folder.file("link-to-pipe.mp4")},
        {"folder", folder.file("folder.png")},
        {"missing", folder.file("missing.png")},
        {"png_signature_then_garbage", folder.write("broken.png", pngThenGarbage)},
    };
    SystemLogCapture log;
    for (const auto& [label, path] : cases) {
        SCOPED_TRACE(label);
        EXPECT_EQ(createThumnbnail(path), ThumbnailResult{});
    }
    EXPECT_TRUE(log.lines().empty());
}

struct HostileCase {
    std::string label;
    std::filesystem::path path;
    std::size_t logLines;
};

// Files made to be expensive: each gives no thumbnail within the child's wall
// time (and a second), this process's peak memory hardly moves (the decoding
// happens elsewhere), and the system log gets at most the one line a video
// or a child stopped at its limits writes.
TEST_F(ThumbnailHelper, HostileFilesGiveNothingQuicklyAndCostTheClientNoMemory) {
    TempFolder folder;
    twoColourPicture(folder.file("plain.png"), 64, 32);
    const Bytes plain = readFile(folder.file("plain.png"));
    const Bytes gigabyte = compressedChunkData(std::uint64_t{1} << 30);
    twoColourPicture(folder.file("photo.jpg"), 64, 48);
    sparseJpeg(folder.file("endless.jpg"), readFile(folder.file("photo.jpg")), std::uint64_t{1} << 30);
    const Bytes clip = readFile(file("clip.mp4"));
    const auto fifo = folder.file("pipe.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", folder.file("zero.jpg").c_str()), 0);

    const std::vector<HostileCase> cases{
        {"png_text_of_a_gigabyte", folder.write("text.png", withPngChunk(plain, "zTXt", gigabyte)), 0},
        {"png_profile_of_a_gigabyte", folder.write("profile.png", withPngChunk(plain, "iCCP", gigabyte)), 0},
        {"jpeg_of_a_gigabyte", folder.file("endless.jpg"), 0},
        {"pdf_drawing_65535_square", folder.write("huge.pdf", pdfDrawingImage(65535, 65535)), 1},
        {"truncated_video",
         folder.write("cut.mp4", Bytes(clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(clip.size() / 2))),
         1},
        {"fifo", fifo, 0},
        {"dev_zero_by_a_link", folder.file("zero.jpg"), 0},
    };
    ASSERT_TRUE(createThumnbnail(file("picture.png")).thumbnail);  // the helper running
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SystemLogCapture log;
        const std::size_t peakBefore = peakResidentKiB();
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(createThumnbnail(c.path), ThumbnailResult{});
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
        // The kernel updates the peak lazily, so it can read lower than
        // before; only a growth counts.
        EXPECT_LT(peakResidentKiB(), peakBefore + 16u * 1024);
        EXPECT_EQ(log.lines().size(), c.logLines);
        for (const auto& line : log.lines()) EXPECT_EQ(line.rfind(kThumbnailErrorPrefix, 0), 0u) << line;
    }
}

TEST_F(ThumbnailHelper, UnreadableFileGivesNothing) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempFolder folder;
    const auto locked = renamed("picture.png", "locked.png");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    EXPECT_EQ(createThumnbnail(locked), ThumbnailResult{});
}

// Each thread makes the thumbnails of all three kinds several times; every one
// equals the thumbnail made alone.
TEST_F(ThumbnailHelper, ThreadsMakeThumbnailsAtOnce) {
    const std::vector<std::filesystem::path> files{file("picture.png"), file("clip.mp4"), file("page.pdf")};
    std::vector<ThumbnailResult> alone;
    for (const auto& path : files) {
        alone.push_back(createThumnbnail(path));
        ASSERT_TRUE(alone.back().thumbnail);
    }
    constexpr int kThreads = 8;
    constexpr int kRounds = 2;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                for (std::size_t i = 0; i < files.size(); ++i) {
                    const std::size_t pick = (i + static_cast<std::size_t>(t)) % files.size();
                    if (!(createThumnbnail(files[pick]) == alone[pick])) ++mismatches[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

}  // namespace
}  // namespace ostrelcomm
