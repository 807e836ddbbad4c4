#include "devserver/DataFolder.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace devserver {

namespace fs = std::filesystem;

namespace {

// Item identifiers become folder names: letters, digits and "-" only.
bool isPlainName(const std::string& name) {
    return !name.empty() && name.size() <= 128 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
    });
}

std::atomic<std::uint64_t> stagedCount{0};

}  // namespace

DataFolder::~DataFolder() { close(); }

void DataFolder::open(const std::optional<fs::path>& folder) {
    std::lock_guard lock(mutex_);
    std::error_code error;
    if (folder) {
        fs::create_directories(*folder, error);
        if (error || !fs::is_directory(*folder)) throw std::runtime_error("devserver: cannot use the data folder " +
                                                                          folder->string());
        path_ = fs::absolute(*folder);
        temporary_ = false;
        return;
    }
    std::string pattern = (fs::temp_directory_path() / "quorvel-devserver-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("devserver: cannot make a data folder");
    path_ = pattern;
    temporary_ = true;
}

void DataFolder::close() {
    std::lock_guard lock(mutex_);
    if (temporary_ && !path_.empty()) {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    path_.clear();
    temporary_ = false;
}

fs::path DataFolder::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

fs::path DataFolder::itemFolder(const std::string& item) const {
    if (!isPlainName(item)) throw std::runtime_error("devserver: an item identifier is no plain name");
    const fs::path root = path();
    if (root.empty()) throw std::runtime_error("devserver: the data folder is not open");
    return root / item;
}

fs::path DataFolder::blockPath(const std::string& item, std::uint64_t blocknum) const {
    return itemFolder(item) / std::to_string(blocknum);
}

fs::path DataFolder::stageBlock(const std::string& item, std::uint64_t blocknum, std::string_view body) {
    const fs::path folder = itemFolder(item);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) throw std::runtime_error("devserver: cannot make the folder of an item's blocks");
    const fs::path staged =
        folder / (std::to_string(blocknum) + ".staged-" + std::to_string(stagedCount.fetch_add(1)));
    std::ofstream out(staged, std::ios::binary | std::ios::trunc);
    out.write(body.data(), static_cast<std::streamsize>(body.size()));
    out.close();
    if (!out) {
        discard(staged);
        throw std::runtime_error("devserver: cannot write a block");
    }
    return staged;
}

void DataFolder::placeBlock(const fs::path& staged, const std::string& item, std::uint64_t blocknum) {
    std::error_code error;
    fs::rename(staged, blockPath(item, blocknum), error);
    if (error) {
        discard(staged);
        throw std::runtime_error("devserver: cannot put a block in place");
    }
}

void DataFolder::discard(const fs::path& staged) noexcept {
    std::error_code ignored;
    fs::remove(staged, ignored);
}

std::optional<std::string> DataFolder::readBlock(const std::string& item, std::uint64_t blocknum) const {
    std::ifstream in(blockPath(item, blocknum), std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    // One read of the whole block: character by character, a block of
    // megabytes costs more than sending it.
    const std::streamoff size = in.tellg();
    if (size < 0) return std::nullopt;
    std::string body(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(body.data(), size) || in.peek() != std::ifstream::traits_type::eof()) return std::nullopt;
    return body;
}

void DataFolder::removeItem(const std::string& item) noexcept {
    try {
        std::error_code ignored;
        fs::remove_all(itemFolder(item), ignored);
    } catch (const std::exception&) {
        // Nothing of such an item was ever written.
    }
}

}  // namespace devserver
