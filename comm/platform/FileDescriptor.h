#pragma once

#include <unistd.h>

namespace ostrelcomm {

// A file descriptor closed with its owner; a negative one (a failed open)
// is kept as it is, for the caller to read errno.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace ostrelcomm
