#include "xfer/FileManagerExtensions.h"

#include <cstdint>
#include <string>
#include <system_error>

namespace ostrelcomm {

namespace {

// Not following a final symbolic link; an error leaves the status unknown,
// which counts as free so that the search always ends.
bool taken(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

}  // namespace

std::filesystem::path getProgressiveURL(const std::filesystem::path& path) {
    if (!taken(path)) return path;

    const std::filesystem::path folder = path.parent_path();
    const std::string name = path.filename().string();
    const std::size_t dot = name.rfind('.');
    const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);

    for (std::uint64_t n = 1;; ++n) {
        std::filesystem::path candidate = folder / (base + " (" + std::to_string(n) + ")." + extension);
        if (!taken(candidate)) return candidate;
    }
}

}  // namespace ostrelcomm
