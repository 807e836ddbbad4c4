#include "thumbnail/PngChunkLimits.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "thumbnail/ThumbnailImage.h"

namespace ostrelcomm {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr std::size_t kBlock = 64 * 1024;
// A keyword and the flags around it come before the compressed stream.
constexpr std::size_t kMaxChunkPreamble = 80 + 2 + 80 + 1 + 80 + 1;

// Up to `length` bytes at `offset`; fewer only at the end of the file or on
// an error.
std::size_t readAt(int fd, std::uint8_t* into, std::size_t length, std::int64_t offset) {
    std::size_t filled = 0;
    while (filled < length) {
        const ssize_t got = ::pread(fd, into + filled, length - filled, static_cast<off_t>(offset) +
                                                                            static_cast<off_t>(filled));
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    return filled;
}

std::uint32_t bigEndian(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool isCompressedChunk(const std::uint8_t* type) {
    return std::memcmp(type, "zTXt", 4) == 0 || std::memcmp(type, "iTXt", 4) == 0 ||
           std::memcmp(type, "iCCP", 4) == 0;
}

// Where the compressed stream starts inside the chunk's data, or nothing when
// the chunk holds none (an iTXt whose text is not compressed, a damaged one).
std::optional<std::size_t> streamStart(const std::uint8_t* type, ByteView data) {
    const auto keywordEnd = std::find(data.begin(), data.end(), std::uint8_t{0});
    if (keywordEnd == data.end()) return std::nullopt;
    std::size_t at = static_cast<std::size_t>(keywordEnd - data.begin()) + 1;
    if (std::memcmp(type, "iTXt", 4) != 0) return at + 1;  // the method byte
    // iTXt: compression flag, method, language tag, translated keyword.
    if (data.size() < at + 2 || data[at] != 1) return std::nullopt;
    at += 2;
    for (int field = 0; field < 2; ++field) {
        const auto end = std::find(data.begin() + static_cast<std::ptrdiff_t>(at), data.end(), std::uint8_t{0});
        if (end == data.end()) return std::nullopt;
        at = static_cast<std::size_t>(end - data.begin()) + 1;
    }
    return at;
}

// The unpacked size of the zlib stream at [offset, offset + length), counted
// no further than `limit` + 1.
std::size_t unpackedSize(int fd, std::int64_t offset, std::size_t length, std::size_t limit) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return 0;
    std::vector<std::uint8_t> in(kBlock);
    std::vector<std::uint8_t> out(kBlock);
    std::size_t unpacked = 0;
    std::size_t consumed = 0;
    int status = Z_OK;
    while (status == Z_OK && unpacked <= limit) {
        if (stream.avail_in == 0) {
            if (consumed == length) break;
            const std::size_t want = std::min(kBlock, length - consumed);
            const std::size_t got = readAt(fd, in.data(), want, offset + static_cast<std::int64_t>(consumed));
            if (got == 0) break;
            consumed += got;
            stream.next_in = in.data();
            stream.avail_in = static_cast<uInt>(got);
        }
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        status = inflate(&stream, Z_NO_FLUSH);
        unpacked += out.size() - stream.avail_out;
        if (status == Z_BUF_ERROR && stream.avail_in == 0) status = Z_OK;  // wants more input
    }
    inflateEnd(&stream);
    return unpacked;
}

// Reads of a few bytes at a time through one block in memory: a file of tiny
// chunks would otherwise cost a system call for each.
class Window {
  public:
    explicit Window(int fd) : fd_(fd), block_(kBlock) {}

    // The bytes at [offset, offset + length), fewer at the end of the file.
    ByteView at(std::int64_t offset, std::size_t length) {
        if (offset < start_ || offset + static_cast<std::int64_t>(length) > start_ + static_cast<std::int64_t>(filled_)) {
            start_ = offset;
            filled_ = readAt(fd_, block_.data(), block_.size(), offset);
        }
        const auto skip = static_cast<std::size_t>(offset - start_);
        return ByteView(block_).subspan(skip, std::min(length, filled_ - skip));
    }

  private:
    int fd_;
    Bytes block_;
    std::int64_t start_ = 0;
    std::size_t filled_ = 0;
};

}  // namespace

bool isPng(ByteView head) {
    return head.size() >= kSignature.size() && std::equal(kSignature.begin(), kSignature.end(), head.begin());
}

bool pngChunksWithinLimits(const RegularFile& file) {
    const int fd = file.descriptor();
    Window window(fd);
    std::int64_t at = static_cast<std::int64_t>(kSignature.size());
    std::size_t total = 0;
    while (at < kMaxMediaInputBytes) {
        const ByteView header = window.at(at, 8);
        if (header.size() != 8) return true;
        const std::uint32_t length = bigEndian(header.data());
        std::uint8_t type[4];
        std::memcpy(type, header.data() + 4, sizeof type);
        if (length > 0x7fffffffu) return true;  // damaged: the decoder stops here
        const std::int64_t dataAt = at + 8;
        if (isCompressedChunk(type)) {
            const ByteView preamble = window.at(dataAt, std::min<std::size_t>(length, kMaxChunkPreamble));
            if (const auto start = streamStart(type, preamble); start && *start <= length) {
                const std::size_t remaining = std::min(kMaxPngChunkUnpackedBytes, kMaxPngChunksUnpackedBytes - total);
                const std::size_t size = unpackedSize(fd, dataAt + static_cast<std::int64_t>(*start),
                                                      length - *start, remaining);
                if (size > remaining) return false;
                total += size;
            }
        }
        if (std::memcmp(type, "IEND", 4) == 0) return true;
        at = dataAt + static_cast<std::int64_t>(length) + 4;  // and the checksum
    }
    return true;
}

}  // namespace ostrelcomm
