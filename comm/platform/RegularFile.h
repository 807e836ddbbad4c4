#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/Bytes.h"

namespace ostrelcomm {

// A local file opened for reading only when it is a regular file. Anything
// else (a FIFO, a device, a folder) is refused before it is opened: opening a
// FIFO for reading waits for a writer, and reading a device may never end.
class RegularFile {
  public:
    static std::optional<RegularFile> open(const std::filesystem::path& path);
    // Takes over a descriptor opened elsewhere (a child process's inherited
    // one): kept when it reads a regular file, closed otherwise.
    static std::optional<RegularFile> adopt(int fd);

    ~RegularFile();
    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    int descriptor() const { return fd_; }
    // Up to maxLength bytes from the current position; nothing on a read error.
    std::optional<Bytes> read(std::size_t maxLength);
    // Back to the first byte; false when the descriptor cannot seek.
    bool rewind();
    // The current size, or -1 when it cannot be had.
    std::int64_t size() const;

  private:
    explicit RegularFile(int fd) : fd_(fd) {}

    int fd_ = -1;
};

}  // namespace ostrelcomm
