// The thumbnail of a 12-megapixel JPEG made in this process beside the same
// thumbnail made the way the library makes it, by a child of the thumbnail
// helper (the helper started beforehand, as it stays for the client's whole
// run). Each benchmark makes 100 thumbnails; the child's share is the
// difference, which should stay within 10 ms a file. Prints both.
#include "BenchSupport.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/RegularFile.h"
#include "thumbnail/ThumbnailImage.h"
#include "thumbnail/ThumbnailMakers.h"
#include "xfer/ThumbnailHelper.h"

using namespace ostrelcomm;

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kFiles = 100;

// A photograph-like picture: smooth gradients under fine noise, so that the
// JPEG has the size of a camera's (some megabytes), not of a flat colour's.
class Photo {
  public:
    Photo() {
        std::string pattern = (std::filesystem::temp_directory_path() / "bench-thumbnail-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
        folder_ = pattern;
        Bytes rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
        std::uint32_t noise = 12345;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1664525u + 1013904223u;
                const auto grain = static_cast<int>(noise >> 28);
                std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * kWidth + x) * 3;
                p[0] = static_cast<std::uint8_t>((x * 255 / kWidth + grain) & 0xff);
                p[1] = static_cast<std::uint8_t>((y * 255 / kHeight + grain) & 0xff);
                p[2] = static_cast<std::uint8_t>(((x + y) * 127 / (kWidth + kHeight) + 64 + grain) & 0xff);
            }
        }
        const auto image = ThumbnailImage::make({kWidth, kHeight}, rgb);
        const auto jpeg = image ? image->jpegData(0.9f) : std::nullopt;
        if (!jpeg) throw std::runtime_error("cannot encode the picture");
        path_ = folder_ / "photo.jpg";
        std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(jpeg->data()),
                                                     static_cast<std::streamsize>(jpeg->size()));
        bytes_ = jpeg->size();
    }
    ~Photo() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }
    std::size_t bytes() const { return bytes_; }

  private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
    std::size_t bytes_ = 0;
};

const Photo& photo() {
    static const Photo made;
    return made;
}

void check(const ThumbnailResult& result, benchmark::State& state) {
    if (!result.thumbnail) state.SkipWithError("no thumbnail");
}

void BM_ThumbnailInProcess(benchmark::State& state) {
    for (auto _ : state) check(createImageThumbnail(photo().path()), state);
}

void BM_ThumbnailThroughChild(benchmark::State& state) {
    check(createThumnbnail(photo().path()), state);  // the helper started
    for (auto _ : state) check(createThumnbnail(photo().path()), state);
}

BENCHMARK(BM_ThumbnailInProcess)->Iterations(kFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThumbnailThroughChild)->Iterations(kFiles)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::printf("%d x %d JPEG of %zu bytes\n", kWidth, kHeight, photo().bytes());
    return benchsupport::run(
        argc, argv,
        [](const benchsupport::TimesReporter& t) {
            const double inProcess = t.seconds("BM_ThumbnailInProcess") * 1000;
            const double child = t.seconds("BM_ThumbnailThroughChild") * 1000;
            std::printf("Thumbnail per file: in process %.1f ms, through the child %.1f ms, child adds %.1f ms "
                        "(target <= 10)\n",
                        inProcess, child, child - inProcess);
        },
        3);
}
