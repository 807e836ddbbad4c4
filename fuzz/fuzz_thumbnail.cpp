// A thumbnail is made of every local file the user uploads, whatever it holds,
// so detection and the decoders behind it have to survive arbitrary contents.
// The makers run here in process, as the thumbnail program runs them, so that
// the sanitizers see them. Each input is written to a file in a private
// folder, removed at exit.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/RegularFile.h"
#include "platform/SystemLog.h"
#include "thumbnail/ThumbnailMakers.h"
#include "xfer/ThumbnailHelper.h"

namespace {

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "fuzz-thumbnail-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) __builtin_trap();
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

ScratchFolder& scratch() {
    static ScratchFolder folder;
    return folder;
}

}  // namespace

// fontconfig, which poppler asks for the fonts of a PDF's text, keeps a little
// of its configuration unreachable once per process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The video path's log line for each undecodable input would drown the fuzzer's own output.
    ostrelcomm::setSystemLogSink([](const std::string&) {});
    scratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = scratch().path() / "input";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (auto file = ostrelcomm::RegularFile::open(input)) {
        if (const auto kind = ostrelcomm::thumbnailKindOf(*file)) {
            const auto result = ostrelcomm::makeThumbnail(*kind, std::move(*file));
            if (result.thumbnail.has_value() != result.thumbnailmime.has_value()) __builtin_trap();
            if (result.thumbnail && result.thumbnail->empty()) __builtin_trap();
        }
    }
    std::error_code ignored;
    std::filesystem::remove(input, ignored);
    return 0;
}
