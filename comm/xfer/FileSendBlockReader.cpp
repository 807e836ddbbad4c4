#include "xfer/FileSendBlockReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <cerrno>
#include <exception>
#include <string>
#include <utility>

#include "crypto/CryptoError.h"
#include "crypto/StreamCryptor.h"
#include "platform/FileDescriptor.h"
#include "platform/ReusedThreads.h"

namespace ostrelcomm {

namespace {

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

// A piece of the buffer, a multiple of the AES block: encrypting a whole
// piece in place writes exactly over it, never into the next one.
constexpr std::size_t kPiece = std::size_t{128} * 1024;

// The stages' progress through the buffer, in bytes: how far the clear
// bytes are read (and hashed, when the block feeds the clear digest), and how
// far the encryption has written.
struct Progress {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t ready = 0;
    std::size_t encrypted = 0;
    bool stopped = false;  // a stage failed: the others give up

    void advance(std::size_t Progress::*mark, std::size_t to) {
        {
            std::lock_guard lock(mutex);
            this->*mark = to;
        }
        changed.notify_all();
    }
    void stop() {
        {
            std::lock_guard lock(mutex);
            stopped = true;
        }
        changed.notify_all();
    }
    // How far `mark` has come once it passed `from` (or the run stopped: 0).
    std::size_t waitPast(std::size_t Progress::*mark, std::size_t from) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stopped || this->*mark > from; });
        return stopped ? 0 : this->*mark;
    }
};

// Reads the `count` clear bytes of a piece at `offset` of the file into
// `into`, all of them: fewer means the file is no longer the one measured.
void readPiece(int fd, std::uint8_t* into, std::size_t count, std::uint64_t offset) {
    const ssize_t got = readAt(fd, into, count, offset);
    if (got < 0) throw FileSendBlockReader::Failure(FileSendBlockReader::kUnreadable);
    if (static_cast<std::size_t>(got) != count) throw FileSendBlockReader::Failure(FileSendBlockReader::kChanged);
}

// Reads the block's `clearSize` bytes at `begin` of the file into `data`,
// encrypts them in place (the buffer holds 16 bytes more, for the padding)
// and returns the cipher's length. Piece by piece, on three threads: one reads
// each piece and feeds the clear digest (when the turn gives one) before the
// piece is encrypted, this one encrypts, and the body digest follows the
// encryption, so the block costs about its slowest pass instead of the sum of
// all four. Every stage has ended before this returns, whatever happens.
std::size_t readEncryptAndHash(int fd, std::uint64_t begin, std::uint8_t* data, std::size_t clearSize,
                               StreamCryptor& cryptor, FileSendBlockReader::ClearDigestTurn& turn,
                               Digest& bodyHash) {
    const std::size_t cipherSize = (clearSize / 16 + 1) * 16;
    Progress progress;
    std::exception_ptr clearFailure;
    std::exception_ptr bodyFailure;
    const auto readAndHashClear = [&] {
        bool taken = false;
        try {
            Digest* clearHash = nullptr;
            std::size_t hashed = 0;
            for (std::size_t at = 0; at < clearSize;) {
                const std::size_t n = std::min(kPiece, clearSize - at);
                readPiece(fd, data + at, n, begin + at);
                at += n;
                // While the block before still feeds the digest, this one's
                // clear bytes are read on; the last piece waits for it.
                if (!taken) {
                    if (at < clearSize && !turn.ready()) continue;
                    clearHash = turn.take();
                    taken = true;
                }
                // Handed to the encryption piece by piece, as each is fed.
                while (hashed < at) {
                    const std::size_t m = std::min(kPiece, at - hashed);
                    if (clearHash != nullptr) clearHash->update(ByteView(data + hashed, m));
                    hashed += m;
                    progress.advance(&Progress::ready, hashed);
                }
            }
            if (taken) turn.done(true);
        } catch (...) {
            if (taken) turn.done(false);
            clearFailure = std::current_exception();
            progress.stop();
        }
    };
    const auto hashBody = [&] {
        try {
            for (std::size_t done = 0; done < cipherSize;) {
                const std::size_t upTo = progress.waitPast(&Progress::encrypted, done);
                if (upTo == 0) return;
                bodyHash.update(ByteView(data + done, upTo - done));
                done = upTo;
            }
        } catch (...) {
            bodyFailure = std::current_exception();
        }
    };
    // Waited for on every path out of here, at the latest as they go. A
    // stage that gets no thread runs here instead, in its place in the order:
    // the clear bytes all before the encryption, the body digest after it.
    ReusedThreads::Task clearStage;
    ReusedThreads::Task bodyStage;
    if (!clearStage.start(readAndHashClear)) readAndHashClear();
    const bool bodyBeside = bodyStage.start(hashBody);

    std::size_t written = 0;
    std::exception_ptr failure;
    try {
        bool whole = true;
        for (std::size_t at = 0; at < clearSize;) {
            const std::size_t n = std::min(kPiece, clearSize - at);
            if (progress.waitPast(&Progress::ready, at) == 0) {  // the clear stage failed
                whole = false;
                break;
            }
            written += cryptor.update(ByteView(data + at, n), data + written);
            at += n;
            progress.advance(&Progress::encrypted, written);
        }
        if (whole) {
            written += cryptor.final(data + written);
            if (written != cipherSize) throw CryptoError("unexpected cipher length");
            progress.advance(&Progress::encrypted, written);
        }
    } catch (...) {
        failure = std::current_exception();
        progress.stop();
    }
    clearStage.wait();
    if (!bodyBeside) hashBody();  // never waits: encrypted whole, or stopped
    bodyStage.wait();
    // A failed read says what happened to the file, before what it did to
    // the encryption.
    if (clearFailure) std::rethrow_exception(clearFailure);
    if (failure) std::rethrow_exception(failure);
    if (bodyFailure) std::rethrow_exception(bodyFailure);
    return written;
}

}  // namespace

void FileSendBlockReader::checkUnchanged(const std::filesystem::path& localURL, std::int64_t fileSize) {
    FileDescriptor file(::open(localURL.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) throw Failure(kUnreadable);
    if (status.st_size != fileSize) throw Failure(kChanged);
}

namespace {

// The job's own digest, fed in line: this block's turn when it is the next
// one the digest has not taken.
class OwnDigestTurn : public FileSendBlockReader::ClearDigestTurn {
public:
    OwnDigestTurn(Digest& clearHash, bool feeds) : clearHash_(clearHash), feeds_(feeds) {}
    bool ready() override { return true; }
    Digest* take() override { return feeds_ ? &clearHash_ : nullptr; }
    void done(bool) override {}

private:
    Digest& clearHash_;
    const bool feeds_;
};

}  // namespace

std::optional<FileSendBlockReader::Block> FileSendBlockReader::read(const std::filesystem::path& localURL,
                                                                    std::int64_t fileSize, std::int32_t blockSize,
                                                                    std::uint64_t blockNum,
                                                                    const EncryptionKey& fileKey, Digest& clearHash,
                                                                    std::uint64_t& hashedBlocks, Bytes buffer) {
    const bool hashClear = hashedBlocks == blockNum;
    OwnDigestTurn turn(clearHash, hashClear);
    auto block = read(localURL, fileSize, blockSize, blockNum, fileKey, turn, std::move(buffer));
    if (block && hashClear) ++hashedBlocks;
    return block;
}

std::optional<FileSendBlockReader::Block> FileSendBlockReader::read(const std::filesystem::path& localURL,
                                                                    std::int64_t fileSize, std::int32_t blockSize,
                                                                    std::uint64_t blockNum,
                                                                    const EncryptionKey& fileKey,
                                                                    ClearDigestTurn& turn, Bytes buffer) {
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
    block.clearSize = static_cast<std::int32_t>(expected);

    std::optional<StreamCryptor> cryptor;
    try {
        ERR_clear_error();
        cryptor.emplace(StreamCryptor::Operation::encrypt, CipherAlgorithm::aes256, fileKey.key.key.view(),
                        fileKey.key.iv.view());
    } catch (const std::exception& error) {
        throw Failure("Cryptor error " + std::to_string(ERR_peek_last_error()) + ": " + error.what());
    }
    Digest bodyHash(DigestAlgorithm::sha256);
    std::size_t written = 0;
    try {
        written = readEncryptAndHash(file.get(), begin, block.cipher.data(), expected, *cryptor,
                                     turn, bodyHash);
    } catch (const Failure&) {
        throw;
    } catch (const std::exception& error) {
        throw Failure(std::string("Non cryptor error: ") + error.what());
    }
    block.cipher.resize(written);
    block.bodyDigest = bodyHash.final();
    return block;
}

}  // namespace ostrelcomm

