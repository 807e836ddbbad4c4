#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace ostrelcomm {

std::optional<RegularFile> RegularFile::open(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    // Non-blocking and checked again once open: the path may have been swapped
    // for a FIFO since stat looked at it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    RegularFile file(fd);
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return file;
}

std::optional<RegularFile> RegularFile::adopt(int fd) {
    if (fd < 0) return std::nullopt;
    RegularFile file(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return file;
}

RegularFile::~RegularFile() {
    if (fd_ >= 0) ::close(fd_);
}

RegularFile::RegularFile(RegularFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

std::optional<Bytes> RegularFile::read(std::size_t maxLength) {
    Bytes data(maxLength);
    std::size_t filled = 0;
    while (filled < data.size()) {
        const ssize_t got = ::read(fd_, data.data() + filled, data.size() - filled);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            return std::nullopt;
        }
    }
    data.resize(filled);
    return data;
}

std::int64_t RegularFile::size() const {
    struct stat status {};
    if (::fstat(fd_, &status) != 0) return -1;
    return static_cast<std::int64_t>(status.st_size);
}

bool RegularFile::rewind() { return ::lseek(fd_, 0, SEEK_SET) == 0; }

}  // namespace ostrelcomm
