#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "crypto/Digest.h"
#include "crypto/EncryptionKey.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Reads one block of an upload from the local file and encrypts it, in one
// buffer that then travels as the request's body: the clear bytes are read
// into it and encrypted in place. The block's three passes (clear digest,
// encryption, body digest) run side by side on pieces of the buffer, each a
// piece behind the one before.
//
// The file must still be the one the upload was added for: a regular file
// (it is opened without blocking, so a FIFO or device put in its place is
// refused rather than waited on) of the size recorded then. A block shorter
// than that size promises, or a byte beyond it, fails the read: a file that
// changed would otherwise be stored against metadata that no longer fits it.
class FileSendBlockReader {
public:
    struct Block {
        // AES-256-CBC/PKCS#7 of the clear bytes under the file key's key and
        // IV, alone: no state carries over from the block before.
        Bytes cipher;
        std::int32_t clearSize = 0;
        // SHA-256 of `cipher`: the request body's digest.
        Bytes bodyDigest;
    };

    // Thrown with the job's error message.
    class Failure : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    static constexpr const char* kUnreadable = "Unable to read file or the file doesn't exist!";
    static constexpr const char* kChanged = "Local file changed during upload!";

    // Block `blockNum` of the file, or none when the file has no such block
    // (its end, checked unchanged). The clear bytes go to `clearHash` only
    // when the block is the next one it has not taken (`hashedBlocks`, which
    // then counts it), so a block read again for another send leaves the
    // digest as it was. The block is made in `buffer` (its storage reused
    // when large enough). Throws Failure.
    static std::optional<Block> read(const std::filesystem::path& localURL, std::int64_t fileSize,
                                     std::int32_t blockSize, std::uint64_t blockNum, const EncryptionKey& fileKey,
                                     Digest& clearHash, std::uint64_t& hashedBlocks, Bytes buffer = {});

    // The file's running clear digest as blocks read side by side hand it on:
    // a block's clear bytes can be fed only once the block before has fed
    // its own. The reader reads the block's clear bytes on while the digest
    // is not its turn yet, and lets the next block have it as soon as its own
    // clear bytes are fed, before its encryption has ended.
    class ClearDigestTurn {
    public:
        virtual ~ClearDigestTurn() = default;
        // Whether take() would return without waiting.
        virtual bool ready() = 0;
        // Waits for the digest; the one to feed this block's clear bytes to,
        // or null when this block is not fed to it.
        virtual Digest* take() = 0;
        // Once after take(): `fed` when every clear byte of the block went
        // to the digest take() returned, false when the read failed before.
        virtual void done(bool fed) = 0;
    };

    // As read() above, with the clear digest taken in its turn. Throws Failure.
    static std::optional<Block> read(const std::filesystem::path& localURL, std::int64_t fileSize,
                                     std::int32_t blockSize, std::uint64_t blockNum, const EncryptionKey& fileKey,
                                     ClearDigestTurn& turn, Bytes buffer = {});

    // Fails as read() would when the file is no longer the regular file of
    // `fileSize` bytes it was: for a block read ahead of its turn.
    static void checkUnchanged(const std::filesystem::path& localURL, std::int64_t fileSize);
};

}  // namespace ostrelcomm
