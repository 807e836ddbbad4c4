#include "xfer/DownloadFileSystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>
#include <utility>

#include "xfer/FileManagerExtensions.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace ostrelcomm {

namespace {

struct ReaderSlot {
    std::mutex mutex;
    DownloadFileSystem::CapacityReader reader;
};

ReaderSlot& readerSlot() {
    static ReaderSlot slot;
    return slot;
}

int closeChecked(int fd) {
    // Linux releases the descriptor even when close reports an error; it is
    // never retried, but the error still fails the write.
    return ::close(fd) == 0 || errno == EINTR ? 0 : -1;
}

// A name taken by another process between the choice and the move is met
// again with the next number; this many in a row means something keeps
// making names, and the job ends rather than count for ever.
constexpr int kMoveAttempts = 1000;

}  // namespace

DownloadFileSystem::Capacity DownloadFileSystem::statvfsCapacity(const std::filesystem::path& folder) {
    struct statvfs status {};
    if (::statvfs(folder.c_str(), &status) != 0) return Capacity{std::nullopt, std::string(std::strerror(errno))};
    const auto blocks = static_cast<unsigned __int128>(status.f_bavail);
    const auto size = static_cast<unsigned __int128>(status.f_frsize);
    const unsigned __int128 bytes = blocks * size;
    if (size == 0 || bytes > static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max()))
        return Capacity{};
    return Capacity{static_cast<std::int64_t>(bytes), std::nullopt};
}

DownloadFileSystem::Capacity DownloadFileSystem::volumeAvailableCapacity(const std::filesystem::path& folder) {
    CapacityReader reader;
    {
        std::lock_guard lock(readerSlot().mutex);
        reader = readerSlot().reader;
    }
    return reader ? reader(folder) : statvfsCapacity(folder);
}

DownloadFileSystem::CapacityReader DownloadFileSystem::replaceCapacityReader(CapacityReader reader) {
    std::lock_guard lock(readerSlot().mutex);
    return std::exchange(readerSlot().reader, std::move(reader));
}

std::optional<std::string> DownloadFileSystem::createFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return error.message();
    // create_directories accepts an existing path only when it is a folder,
    // but a symbolic link to a folder is the user's choice and stays one.
    if (!std::filesystem::is_directory(folder, error)) return std::strerror(ENOTDIR);
    return std::nullopt;
}

bool DownloadFileSystem::createTemporaryFile(const std::filesystem::path& file) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd >= 0) return closeChecked(fd) == 0;
        if (errno != EEXIST) return false;
        // unlink removes a symbolic link itself, never its target, and
        // refuses a folder.
        if (::unlink(file.c_str()) != 0 && errno != ENOENT) return false;
    }
    return false;
}

bool DownloadFileSystem::writeAt(const std::filesystem::path& file, ByteView bytes, std::uint64_t offset) {
    const int fd = openForWriting(file);
    return fd >= 0 && writeAtAndClose(fd, bytes, offset);
}

int DownloadFileSystem::openForWriting(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        closeChecked(fd);
        return -1;
    }
    return fd;
}

bool DownloadFileSystem::writeAtAndClose(int fd, ByteView bytes, std::uint64_t offset) {
    bool written = offset <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) &&
                   bytes.size() <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) - offset;
    std::size_t done = 0;
    while (written && done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            written = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    const bool closed = closeChecked(fd) == 0;
    return written && closed;
}

int DownloadFileSystem::moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int error = errno;
    // File systems without the flag: a hard link fails on a taken name just
    // as the flag does.
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP) return error;
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    if (::unlink(from.c_str()) != 0) {
        const int unlinkError = errno;
        ::unlink(to.c_str());
        return unlinkError;
    }
    return 0;
}

std::variant<std::filesystem::path, std::string> DownloadFileSystem::moveToFreeName(
    const std::filesystem::path& from, const std::filesystem::path& wanted) {
    int error = EEXIST;
    for (int attempt = 0; attempt < kMoveAttempts && error == EEXIST; ++attempt) {
        const std::filesystem::path target = getProgressiveURL(wanted);
        error = moveWithoutReplacing(from, target);
        if (error == 0) return target;
    }
    return std::string(std::strerror(error));
}

}  // namespace ostrelcomm
