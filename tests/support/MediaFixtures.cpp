#include "support/MediaFixtures.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace testsupport {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-media-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempFolder::write(const std::string& name, const Bytes& contents) const {
    const auto target = file(name);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("cannot write " + target.string());
    return target;
}

std::filesystem::path FixtureShelf::get(const std::string& name) {
    const auto path = folder_.file(name);
    if (!std::filesystem::exists(path)) makers_.at(name)(path);
    return path;
}

std::pair<int, Bytes> runProgram(const std::vector<std::string>& argv) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return {-1, {}};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    Bytes output;
    if (spawned == 0) {
        std::uint8_t buffer[65536];
        for (;;) {
            const ssize_t got = ::read(out[0], buffer, sizeof buffer);
            if (got > 0) {
                output.insert(output.end(), buffer, buffer + got);
            } else if (got == 0 || errno != EINTR) {
                break;
            }
        }
    }
    ::close(out[0]);
    if (spawned != 0) return {-1, {}};
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::move(output)};
}

void ffmpeg(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    if (runProgram(argv).first != 0) {
        std::string line;
        for (const auto& a : argv) line += a + " ";
        throw std::runtime_error("ffmpeg failed: " + line);
    }
}

namespace {

std::string twoColourSource(int width, int height, const char* duration) {
    // Drawn small and scaled: the colour source clamps some large sizes.
    return std::string("color=c=red:s=64x64") + duration +
           ",drawbox=x=32:y=0:w=32:h=64:color=blue:t=fill,scale=" + std::to_string(width) + ":" +
           std::to_string(height) + ":flags=neighbor";
}

}  // namespace

void twoColourPicture(const std::filesystem::path& output, int width, int height) {
    ffmpeg({"-f", "lavfi", "-i", twoColourSource(width, height, ""), "-frames:v", "1", output.string()});
}

void twoColourClip(const std::filesystem::path& output, int width, int height,
                   const std::vector<std::string>& codec) {
    std::vector<std::string> arguments{"-f", "lavfi", "-i", twoColourSource(width, height, ":d=1"), "-frames:v",
                                       "2"};
    arguments.insert(arguments.end(), codec.begin(), codec.end());
    arguments.push_back(output.string());
    ffmpeg(arguments);
}

std::array<int, 3> RgbPicture::pixel(int x, int y) const {
    const auto at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
    return {rgb.at(at), rgb.at(at + 1), rgb.at(at + 2)};
}

std::optional<RgbPicture> parsePpm(const Bytes& ppm) {
    std::size_t at = 0;
    auto token = [&]() -> std::string {
        while (at < ppm.size() && std::isspace(ppm[at])) ++at;
        std::string word;
        while (at < ppm.size() && !std::isspace(ppm[at])) word += static_cast<char>(ppm[at++]);
        return word;
    };
    if (token() != "P6") return std::nullopt;
    RgbPicture picture;
    try {
        picture.width = std::stoi(token());
        picture.height = std::stoi(token());
        if (std::stoi(token()) != 255) return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    ++at;  // the one whitespace byte before the pixels
    const auto length = static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3;
    if (picture.width <= 0 || picture.height <= 0 || ppm.size() < at + length) return std::nullopt;
    picture.rgb.assign(ppm.begin() + static_cast<std::ptrdiff_t>(at),
                       ppm.begin() + static_cast<std::ptrdiff_t>(at + length));
    return picture;
}

std::optional<RgbPicture> decodeJpeg(const Bytes& jpeg) {
    TempFolder folder;
    const auto file = folder.write("thumbnail.jpg", jpeg);
    auto [status, output] = runProgram({"djpeg", "-pnm", file.string()});
    if (status != 0) return std::nullopt;
    return parsePpm(output);
}

RgbPicture firstFrameByFfmpeg(const std::filesystem::path& media) {
    auto [status, output] = runProgram({"ffmpeg", "-hide_banner", "-nostdin", "-v", "error", "-i", media.string(),
                                        "-frames:v", "1", "-pix_fmt", "rgb24", "-f", "image2pipe", "-c:v", "ppm",
                                        "-"});
    auto picture = parsePpm(output);
    if (status != 0 || !picture) throw std::runtime_error("ffmpeg cannot show " + media.string());
    return *picture;
}

bool closeColour(std::array<int, 3> a, std::array<int, 3> b, int tolerance) {
    for (int c = 0; c < 3; ++c) {
        if (std::abs(a[c] - b[c]) > tolerance) return false;
    }
    return true;
}

Bytes pdfDocument(const std::vector<PdfPage>& pages) {
    std::string out = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    auto object = [&](const std::string& body) {
        offsets.push_back(out.size());
        out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    std::string kids;
    for (std::size_t i = 0; i < pages.size(); ++i) kids += std::to_string(3 + 2 * i) + " 0 R ";
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    for (std::size_t i = 0; i < pages.size(); ++i) {
        char box[96];
        std::snprintf(box, sizeof box, "[0 0 %.3f %.3f]", pages[i].width, pages[i].height);
        std::string crop;
        if (const auto& c = pages[i].cropBox) {
            char text[128];
            std::snprintf(text, sizeof text, " /CropBox [%.3f %.3f %.3f %.3f]", (*c)[0], (*c)[1], (*c)[2], (*c)[3]);
            crop = text;
        }
        object("<< /Type /Page /Parent 2 0 R /MediaBox " + std::string(box) + crop + " /Rotate " +
               std::to_string(pages[i].rotate) +
               " /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>"
               " /Contents " + std::to_string(4 + 2 * i) + " 0 R >>");
        // Text too, as most documents have: its font comes from the system's.
        const std::string content = "0 0 1 rg 50 50 200 200 re f 0 g BT /F1 10 Tf 50 20 Td (Quorvel) Tj ET\n";
        object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (auto offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        out += entry;
    }
    out += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return ostrelcomm::toBytes(out);
}

Bytes pdfDrawingImage(std::uint32_t width, std::uint32_t height) {
    std::string out = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    auto object = [&](const std::string& body) {
        offsets.push_back(out.size());
        out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    const std::string content = "q 300 0 0 300 0 0 cm /Im1 Do Q\n";
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Resources << /XObject << /Im1 5 0 R >> >>"
           " /Contents 4 0 R >>");
    object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
    object("<< /Type /XObject /Subtype /Image /Width " + std::to_string(width) + " /Height " +
           std::to_string(height) + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Length 4 >>\nstream\nabcd\nendstream");
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (auto offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        out += entry;
    }
    out += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return ostrelcomm::toBytes(out);
}

namespace {

std::uint32_t crc32(const Bytes& data) {
    std::uint32_t crc = 0xffffffffu;
    for (auto byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xffffffffu;
}

void putBigEndian(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void pngChunk(Bytes& out, const char* type, const Bytes& data) {
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    putBigEndian(out, crc32(typed));
}

}  // namespace

Bytes pngClaimingSize(std::uint32_t width, std::uint32_t height) {
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes header;
    putBigEndian(header, width);
    putBigEndian(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    pngChunk(out, "IHDR", header);
    // A zlib stream of four zero bytes: far too little for the claimed size.
    pngChunk(out, "IDAT", {0x78, 0x9c, 0x63, 0x60, 0x60, 0x60, 0x00, 0x00, 0x00, 0x04, 0x00, 0x01});
    pngChunk(out, "IEND", {});
    return out;
}

Bytes gifWithScreen(std::uint16_t width, std::uint16_t height) {
    Bytes out{'G', 'I', 'F', '8', '9', 'a'};
    out.insert(out.end(), {static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(width >> 8),
                           static_cast<std::uint8_t>(height), static_cast<std::uint8_t>(height >> 8)});
    out.insert(out.end(), {0x80, 0x00, 0x00});              // a global table of two colours
    out.insert(out.end(), {0xff, 0xff, 0xff, 0x00, 0x00, 0x00});
    out.insert(out.end(), {0x2c, 0, 0, 0, 0, 1, 0, 1, 0, 0});  // one 1 × 1 image at (0, 0)
    out.insert(out.end(), {0x02, 0x02, 0x44, 0x01, 0x00});  // its LZW data
    out.push_back(0x3b);
    return out;
}

Bytes withPngChunk(const Bytes& png, const std::string& type, const Bytes& data) {
    // The signature (8 bytes) and the header chunk (25) come first.
    constexpr std::size_t kAfterHeader = 8 + 25;
    if (png.size() < kAfterHeader) throw std::runtime_error("not a PNG");
    Bytes out(png.begin(), png.begin() + kAfterHeader);
    pngChunk(out, type.c_str(), data);
    out.insert(out.end(), png.begin() + kAfterHeader, png.end());
    return out;
}

Bytes compressedChunkData(std::uint64_t unpacked) {
    Bytes out = ostrelcomm::toBytes(std::string("Bomb") + '\0' + '\0');
    z_stream stream{};
    if (deflateInit(&stream, Z_BEST_COMPRESSION) != Z_OK) throw std::runtime_error("deflateInit");
    const Bytes zeros(1 << 20, 0);
    Bytes buffer(1 << 16);
    std::uint64_t left = unpacked;
    int flush = Z_NO_FLUSH;
    do {
        const auto piece = static_cast<uInt>(std::min<std::uint64_t>(left, zeros.size()));
        left -= piece;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = const_cast<Bytef*>(zeros.data());
        stream.avail_in = piece;
        do {
            stream.next_out = buffer.data();
            stream.avail_out = static_cast<uInt>(buffer.size());
            deflate(&stream, flush);
            out.insert(out.end(), buffer.begin(), buffer.end() - stream.avail_out);
        } while (stream.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&stream);
    return out;
}

void sparseJpeg(const std::filesystem::path& output, const Bytes& jpeg, std::uint64_t size) {
    if (jpeg.size() < 4 || jpeg[jpeg.size() - 2] != 0xff || jpeg.back() != 0xd9) throw std::runtime_error("not a JPEG");
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size() - 2));
    out.close();
    std::filesystem::resize_file(output, size);
}

RgbPicture magickThumbnail(const std::filesystem::path& file, const std::vector<std::string>& options) {
    std::vector<std::string> argv{"convert", file.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"-thumbnail", "320x320", "-depth", "8", "ppm:-"});
    auto [status, output] = runProgram(argv);
    auto picture = parsePpm(output);
    if (status != 0 || !picture) throw std::runtime_error("convert cannot show " + file.string());
    return *picture;
}

double meanDifference(const RgbPicture& a, const RgbPicture& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 255;
    double sum = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(int{a.rgb[i]} - int{b.rgb[i]});
    return sum / static_cast<double>(a.rgb.size());
}

double meanLevel(const RgbPicture& picture) {
    if (picture.rgb.empty()) return 0;
    double sum = 0;
    for (const auto value : picture.rgb) sum += value;
    return sum / static_cast<double>(picture.rgb.size());
}

std::size_t peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6));
    }
    return 0;
}

std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

namespace {

// (pid, state) of every process whose parent is `parent`.
std::vector<std::pair<int, char>> childProcesses(int parent) {
    std::vector<std::pair<int, char>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0]))) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // "pid (command) state ppid ...": the command may hold anything.
        const auto close = text.rfind(')');
        if (close == std::string::npos || close + 4 >= text.size()) continue;
        const char state = text[close + 2];
        const int ppid = std::atoi(text.c_str() + close + 4);
        if (ppid == parent) found.emplace_back(std::stoi(name), state);
    }
    return found;
}

}  // namespace

std::vector<int> zombieChildren(int parent) {
    std::vector<int> zombies;
    for (const auto& [pid, state] : childProcesses(parent))
        if (state == 'Z') zombies.push_back(pid);
    return zombies;
}

std::vector<int> childrenOf(int parent) {
    std::vector<int> children;
    for (const auto& [pid, state] : childProcesses(parent)) children.push_back(pid);
    return children;
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

SystemLogCapture::SystemLogCapture() : shared_(std::make_shared<Shared>()) {
    previous_ = ostrelcomm::setSystemLogSink([shared = shared_](const std::string& line) {
        std::lock_guard lock(shared->mutex);
        shared->lines.push_back(line);
    });
}

SystemLogCapture::~SystemLogCapture() { ostrelcomm::setSystemLogSink(std::move(previous_)); }

std::vector<std::string> SystemLogCapture::lines() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->lines;
}

}  // namespace testsupport

// fontconfig, which poppler asks for the fonts of a PDF's text, keeps a little
// of its configuration unreachable once per process; the leak check would
// blame every test program that renders text.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
