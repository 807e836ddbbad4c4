#include "devserver/DataFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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
    {
        std::lock_guard records(digestMutex_);
        digests_.clear();
    }
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
    std::lock_guard records(digestMutex_);
    digests_.clear();
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

void DataFolder::placeBlock(const fs::path& staged, const std::string& item, std::uint64_t blocknum,
                            std::string bodySha256) {
    const fs::path target = blockPath(item, blocknum);
    struct stat status {};
    const bool known = !bodySha256.empty() && ::lstat(staged.c_str(), &status) == 0;
    std::lock_guard records(digestMutex_);
    std::error_code error;
    fs::rename(staged, target, error);
    if (error) {
        discard(staged);
        throw std::runtime_error("devserver: cannot put a block in place");
    }
    const auto key = std::make_pair(item, blocknum);
    if (known) {
        digests_[key] = Digest{status.st_dev, status.st_ino, static_cast<std::uint64_t>(status.st_size),
                               std::move(bodySha256)};
    } else {
        digests_.erase(key);
    }
}

void DataFolder::discard(const fs::path& staged) noexcept {
    std::error_code ignored;
    fs::remove(staged, ignored);
}

std::optional<std::string> DataFolder::readBlock(const std::string& item, std::uint64_t blocknum) const {
    auto block = openBlock(item, blocknum);
    if (!block) return std::nullopt;
    return block->readAll();
}

std::shared_ptr<const DataFolder::OpenBlock> DataFolder::openBlock(const std::string& item,
                                                                   std::uint64_t blocknum) const {
    const fs::path path = blockPath(item, blocknum);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    std::string sha256;
    {
        // While this file is open its inode cannot be taken by another: a
        // record that names it was made for it.
        std::lock_guard records(digestMutex_);
        auto it = digests_.find(std::make_pair(item, blocknum));
        if (it != digests_.end() && it->second.device == status.st_dev && it->second.inode == status.st_ino &&
            it->second.size == size)
            sha256 = it->second.sha256;
    }
    return std::make_shared<const OpenBlock>(fd, size, std::move(sha256));
}

DataFolder::OpenBlock::~OpenBlock() { ::close(fd_); }

std::size_t DataFolder::OpenBlock::readAt(std::uint64_t offset, char* out, std::size_t length) const {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::optional<std::string> DataFolder::OpenBlock::readAll() const {
    std::string body(static_cast<std::size_t>(size_), '\0');
    if (readAt(0, body.data(), body.size()) != body.size()) return std::nullopt;
    // A file grown meanwhile is not the block that was opened either.
    char extra = 0;
    if (readAt(size_, &extra, 1) != 0) return std::nullopt;
    return body;
}

void DataFolder::removeItem(const std::string& item) noexcept {
    try {
        {
            std::lock_guard records(digestMutex_);
            auto it = digests_.lower_bound(std::make_pair(item, std::uint64_t{0}));
            while (it != digests_.end() && it->first.first == item) it = digests_.erase(it);
        }
        std::error_code ignored;
        fs::remove_all(itemFolder(item), ignored);
    } catch (const std::exception&) {
        // Nothing of such an item was ever written.
    }
}

}  // namespace devserver
