#include "devserver/DataFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
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

// Spool files lie in the folder's root under names with a ".", which no item
// identifier has, so they never meet an item's folder; the process id keeps a
// reused folder's leftovers from a crashed run out of the way.
std::atomic<std::uint64_t> spoolCount{0};

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

DataFolder::Spool::~Spool() {
    close();
    if (taken_) return;
    std::error_code ignored;
    fs::remove(path_, ignored);
}

void DataFolder::Spool::write(const char* data, std::size_t length) noexcept {
    while (length > 0 && !failed_ && fd_ >= 0) {
        const ssize_t n = ::write(fd_, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            break;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
        written_ += static_cast<std::uint64_t>(n);
    }
}

void DataFolder::Spool::close() noexcept {
    if (fd_ < 0) return;
    // A close that fails may have lost bytes written before it.
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
}

std::unique_ptr<DataFolder::Spool> DataFolder::openSpool() {
    const fs::path root = path();
    if (root.empty()) return nullptr;
    const fs::path spooled = root / (".spool-" + std::to_string(::getpid()) + "-" +
                                     std::to_string(spoolCount.fetch_add(1)));
    const int fd = ::open(spooled.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return nullptr;
    return std::make_unique<Spool>(fd, spooled);
}

fs::path DataFolder::stageBlock(const std::string& item, std::uint64_t blocknum, std::string_view body,
                                Spool* spool) {
    const fs::path folder = itemFolder(item);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) throw std::runtime_error("devserver: cannot make the folder of an item's blocks");
    const fs::path staged =
        folder / (std::to_string(blocknum) + ".staged-" + std::to_string(stagedCount.fetch_add(1)));
    if (spool && !spool->taken_ && spool->holds(body.size())) {
        if (::rename(spool->path_.c_str(), staged.c_str()) == 0) {
            spool->taken_ = true;
            return staged;
        }
        // Not this folder's file system any more, or gone: written below.
    }
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
