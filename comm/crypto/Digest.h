#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/Bytes.h"

namespace ostrelcomm {

enum class DigestAlgorithm { md2, md4, md5, sha1, sha224, sha256, sha384, sha512 };

// One digest computation. Feed bytes with update() as they arrive, then take
// final() once; the object is consumed by final(). A copy carries the running
// state: the copy's final() reads the digest of what was fed so far while the
// original goes on taking bytes.
class Digest {
public:
    explicit Digest(DigestAlgorithm algorithm);
    ~Digest();
    Digest(Digest&&) noexcept;
    Digest& operator=(Digest&&) noexcept;
    // Throws CryptoError when the running state cannot be copied.
    Digest(const Digest& other);
    Digest& operator=(const Digest& other);

    DigestAlgorithm algorithm() const { return algorithm_; }
    Digest& update(ByteView bytes);
    Bytes final();

    // Hashes a local file block by block (4,096,000 bytes at a time), so memory
    // stays flat whatever the file's size. Absent when the path cannot be
    // opened or is not a regular file. Consumes the object, like final().
    std::optional<Bytes> getFileDigest(const std::filesystem::path& url);

    static constexpr std::size_t kFileBlockSize = 4'096'000;

    static Bytes compute(DigestAlgorithm algorithm, ByteView bytes);
    static std::size_t length(DigestAlgorithm algorithm);

private:
    struct State;
    DigestAlgorithm algorithm_;
    std::unique_ptr<State> state_;
};

inline Bytes sha256(ByteView bytes) { return Digest::compute(DigestAlgorithm::sha256, bytes); }

}  // namespace ostrelcomm
