#pragma once

// Media files for the thumbnail tests, made by the ffmpeg command line or
// written byte by byte here, and an independent reading of the JPEGs that the
// library makes (djpeg from libjpeg-turbo's tools).

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Bytes.h"
#include "platform/SystemLog.h"

namespace testsupport {

using ostrelcomm::Bytes;

// A private temporary folder, removed with all it holds on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }
    std::filesystem::path write(const std::string& name, const Bytes& contents) const;

private:
    std::filesystem::path path_;
};

// Named media files made on first use, so that each test program (one
// process per test) makes only the files its test reads. Not for use from
// several threads at once.
class FixtureShelf {
public:
    using Maker = std::function<void(const std::filesystem::path& output)>;
    explicit FixtureShelf(std::map<std::string, Maker> makers) : makers_(std::move(makers)) {}

    // The named file, made now if it is not there yet.
    std::filesystem::path get(const std::string& name);
    const TempFolder& folder() const { return folder_; }

private:
    TempFolder folder_;
    std::map<std::string, Maker> makers_;
};

// Runs a program found on PATH with its standard error discarded; gives its
// exit status (-1 when it could not run) and what it wrote on standard output.
std::pair<int, Bytes> runProgram(const std::vector<std::string>& argv);

// Runs ffmpeg quietly with the given arguments (inputs, filters, output);
// throws when it fails, so that a broken fixture cannot pass for a result.
void ffmpeg(const std::vector<std::string>& arguments);

// A picture whose left half is red and right half blue, in the format that the
// file name's extension names.
void twoColourPicture(const std::filesystem::path& output, int width, int height);
// A clip of two such frames; the codec arguments default to H.264.
void twoColourClip(const std::filesystem::path& output, int width, int height,
                   const std::vector<std::string>& codec = {"-c:v", "libx264", "-pix_fmt", "yuv420p"});

inline constexpr std::array<int, 3> kRed{255, 0, 0};
inline constexpr std::array<int, 3> kBlue{0, 0, 255};
inline constexpr std::array<int, 3> kWhite{255, 255, 255};

// A picture with 8-bit RGB pixels, as a binary PPM holds it.
struct RgbPicture {
    int width = 0;
    int height = 0;
    Bytes rgb;

    std::array<int, 3> pixel(int x, int y) const;
};

std::optional<RgbPicture> parsePpm(const Bytes& ppm);
// The JPEG decoded by djpeg; nothing when djpeg refuses it.
std::optional<RgbPicture> decodeJpeg(const Bytes& jpeg);
// The first frame of a media file as the ffmpeg command line shows it
// (turned upright by its display matrix).
RgbPicture firstFrameByFfmpeg(const std::filesystem::path& media);

// Both colours are within tolerance of each other in every channel.
bool closeColour(std::array<int, 3> a, std::array<int, 3> b, int tolerance = 48);

// A PDF document whose pages have the given media boxes (in points), each
// with a blue square at (50, 50) of 200 points, a word of black text below it
// and the given /Rotate.
struct PdfPage {
    double width = 595.276;
    double height = 841.89;
    int rotate = 0;
    // A /CropBox (x1, y1, x2, y2) inside the media box, when given.
    std::optional<std::array<double, 4>> cropBox;
};
Bytes pdfDocument(const std::vector<PdfPage>& pages);
// A one-page document whose page draws an image that claims the given size
// and holds almost no data.
Bytes pdfDrawingImage(std::uint32_t width, std::uint32_t height);

// A PNG signature and header claiming the given size, with a little image data
// that cannot fill it.
Bytes pngClaimingSize(std::uint32_t width, std::uint32_t height);
// A GIF whose logical screen has the given size, holding one 1 × 1 image.
Bytes gifWithScreen(std::uint16_t width, std::uint16_t height);

// The PNG with one more chunk right after its header.
Bytes withPngChunk(const Bytes& png, const std::string& type, const Bytes& data);
// The data of a zTXt or iCCP chunk (a name, the method byte, a zlib stream)
// whose stream unpacks to `unpacked` zero bytes: a gigabyte takes about a
// megabyte.
Bytes compressedChunkData(std::uint64_t unpacked);
// A JPEG whose bytes stop before its end marker, followed by a hole up to
// `size` bytes: a sparse file that takes almost no disk.
void sparseJpeg(const std::filesystem::path& output, const Bytes& jpeg, std::uint64_t size);

// The thumbnail ImageMagick makes of a file (convert with the given options
// before -thumbnail 320x320), as RGB.
RgbPicture magickThumbnail(const std::filesystem::path& file, const std::vector<std::string>& options = {});
// The mean difference of two pictures of one size, over every channel of
// every pixel (0 to 255); 255 when their sizes differ.
double meanDifference(const RgbPicture& a, const RgbPicture& b);
// The mean of every channel of every pixel.
double meanLevel(const RgbPicture& picture);

// This process: its peak resident memory (VmHWM) in KiB, its open
// descriptors, and the children it has not reaped.
std::size_t peakResidentKiB();
std::size_t openDescriptors();
std::vector<int> zombieChildren(int parent);
// The processes whose parent is `parent`.
std::vector<int> childrenOf(int parent);

Bytes readFile(const std::filesystem::path& path);

// The lines written to the system log while it lives.
class SystemLogCapture {
public:
    SystemLogCapture();
    ~SystemLogCapture();
    SystemLogCapture(const SystemLogCapture&) = delete;
    SystemLogCapture& operator=(const SystemLogCapture&) = delete;

    std::vector<std::string> lines() const;

private:
    struct Shared {
        std::mutex mutex;
        std::vector<std::string> lines;
    };
    std::shared_ptr<Shared> shared_;
    ostrelcomm::SystemLogSink previous_;
};

}  // namespace testsupport
