#include "xfer/FileSendBlockReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string>
#include <utility>

#include "crypto/CryptoError.h"
#include "crypto/StreamCryptor.h"

namespace ostrelcomm {

namespace {

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

// Reads up to `count` bytes at `offset`; fewer only at the end of the file.
// -1 on a read error.
ssize_t readAt(int fd, std::uint8_t* into, std::size_t count, std::uint64_t offset) {
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, into + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

}  // namespace

void FileSendBlockReader::checkUnchanged(const std::filesystem::path& localURL, std::int64_t fileSize) {
    FileDescriptor file(::open(localURL.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) throw Failure(kUnreadable);
    if (status.st_size != fileSize) throw Failure(kChanged);
}

std::optional<FileSendBlockReader::Block> FileSendBlockReader::read(const std::filesystem::path& localURL,
                                                                    std::int64_t fileSize, std::int32_t blockSize,
                                                                    std::uint64_t blockNum,
                                                                    const EncryptionKey& fileKey, Digest& clearHash,
                                                                    std::uint64_t& hashedBlocks, Bytes buffer) {
    FileDescriptor file(::open(localURL.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) throw Failure(kUnreadable);
    if (status.st_size != fileSize || fileSize < 0 || blockSize <= 0) throw Failure(kChanged);

    const auto size = static_cast<std::uint64_t>(fileSize);
    const std::uint64_t begin = blockNum * static_cast<std::uint64_t>(blockSize);
    if (begin >= size) {
        // Every block is stored; nothing may follow the last one.
        std::uint8_t beyond = 0;
        const ssize_t n = readAt(file.get(), &beyond, 1, size);
        if (n < 0) throw Failure(kUnreadable);
        if (n > 0) throw Failure(kChanged);
        return std::nullopt;
    }

    const auto expected = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, size - begin));
    // One AES block more than the clear bytes: the padding.
    Block block;
    block.cipher = std::move(buffer);
    block.cipher.resize(expected + 16);
    const ssize_t got = readAt(file.get(), block.cipher.data(), expected, begin);
    if (got < 0) throw Failure(kUnreadable);
    if (static_cast<std::size_t>(got) != expected) throw Failure(kChanged);
    block.clearSize = static_cast<std::int32_t>(expected);

    const ByteView clear(block.cipher.data(), expected);
    if (hashedBlocks == blockNum) {
        clearHash.update(clear);
        ++hashedBlocks;
    }

    std::optional<StreamCryptor> cryptor;
    try {
        ERR_clear_error();
        cryptor.emplace(StreamCryptor::Operation::encrypt, CipherAlgorithm::aes256, fileKey.key.key.view(),
                        fileKey.key.iv.view());
    } catch (const std::exception& error) {
        throw Failure("Cryptor error " + std::to_string(ERR_peek_last_error()) + ": " + error.what());
    }
    try {
        // In place: every output byte lands where its input byte was read.
        std::size_t written = cryptor->update(clear, block.cipher.data());
        written += cryptor->final(block.cipher.data() + written);
        block.cipher.resize(written);
    } catch (const std::exception& error) {
        throw Failure(std::string("Non cryptor error: ") + error.what());
    }
    return block;
}

}  // namespace ostrelcomm
