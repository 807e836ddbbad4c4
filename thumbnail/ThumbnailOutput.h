#pragma once

// What the thumbnail helper's child writes to its output pipe and the library
// reads back: records of a one-byte tag, a four-byte big-endian length and
// that many bytes. 'L' is a line for the system log, 'M' the thumbnail's MIME
// type, 'J' its JPEG bytes, and 'E' (empty) ends the output. A thumbnail is an
// 'M' of "image/jpeg" followed at once by its 'J'; at most one line comes
// before the end. The reader trusts none of it: a decoder that misbehaves in
// the child may write anything.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Bytes.h"
#include "thumbnail/ThumbnailResult.h"

namespace ostrelcomm {

struct ThumbnailOutput {
    // The most a thumbnail's JPEG can take: libjpeg-turbo's worst case for a
    // 320 × 320 picture with 4:2:0 chroma (tjBufSize), above anything quality
    // 75 gives.
    static constexpr std::size_t kMaxJpegBytes = 320 * 320 * 3 + 2048;
    static constexpr std::size_t kMaxLogLineBytes = 1024;
    static constexpr std::size_t kMaxMimeBytes = 64;
    static constexpr std::size_t kRecordHeaderBytes = 5;
    // The whole output, at its largest: four records.
    static constexpr std::size_t kMaxBytes =
        4 * kRecordHeaderBytes + kMaxLogLineBytes + kMaxMimeBytes + kMaxJpegBytes;

    ThumbnailResult result;
    std::optional<std::string> logLine;

    // The records of this output. A log line is cut to its limit and its
    // control characters become blanks, so that what is sent is always read.
    Bytes encode() const {
        Bytes out;
        if (logLine) {
            std::string line = logLine->substr(0, kMaxLogLineBytes);
            for (char& c : line) {
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
            }
            putRecord(out, 'L', asBytes(line));
        }
        if (result.thumbnail && result.thumbnailmime) {
            putRecord(out, 'M', asBytes(*result.thumbnailmime));
            putRecord(out, 'J', *result.thumbnail);
        }
        putRecord(out, 'E', {});
        return out;
    }

    // The output read back, or nothing when it breaks any rule above: a record
    // cut short or too long, an unknown tag, a second line, a MIME type other
    // than "image/jpeg", bytes that do not begin and end as a JPEG, or
    // anything after the end.
    static std::optional<ThumbnailOutput> decode(ByteView bytes) {
        ThumbnailOutput output;
        std::size_t at = 0;
        bool expectJpeg = false;
        while (at < bytes.size()) {
            if (bytes.size() - at < kRecordHeaderBytes) return std::nullopt;
            const char tag = static_cast<char>(bytes[at]);
            const std::size_t length = (std::size_t{bytes[at + 1]} << 24) | (std::size_t{bytes[at + 2]} << 16) |
                                       (std::size_t{bytes[at + 3]} << 8) | std::size_t{bytes[at + 4]};
            at += kRecordHeaderBytes;
            if (length > bytes.size() - at) return std::nullopt;
            const ByteView body = bytes.subspan(at, length);
            at += length;
            if (expectJpeg != (tag == 'J')) return std::nullopt;
            switch (tag) {
                case 'L':
                    if (output.logLine || !isLogLine(body)) return std::nullopt;
                    output.logLine = toText(body);
                    break;
                case 'M':
                    if (output.result.thumbnailmime || toText(body) != ThumbnailResult::kJpegMime) {
                        return std::nullopt;
                    }
                    output.result.thumbnailmime = toText(body);
                    expectJpeg = true;
                    break;
                case 'J':
                    if (!isJpeg(body)) return std::nullopt;
                    output.result.thumbnail = Bytes(body.begin(), body.end());
                    expectJpeg = false;
                    break;
                case 'E':
                    if (length != 0 || at != bytes.size()) return std::nullopt;
                    return output;
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;  // no end record
    }

  private:
    static void putRecord(Bytes& out, char tag, ByteView body) {
        const auto length = static_cast<std::uint32_t>(body.size());
        out.push_back(static_cast<std::uint8_t>(tag));
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(length >> shift));
        out.insert(out.end(), body.begin(), body.end());
    }

    static bool isLogLine(ByteView body) {
        const std::string_view prefix = kThumbnailErrorPrefix;
        if (body.size() > kMaxLogLineBytes || body.size() < prefix.size()) return false;
        if (toText(body.first(prefix.size())) != prefix) return false;
        for (const std::uint8_t byte : body) {
            if (byte < 0x20 || byte == 0x7f) return false;
        }
        return true;
    }

    static bool isJpeg(ByteView body) {
        return body.size() >= 4 && body.size() <= kMaxJpegBytes && body[0] == 0xff && body[1] == 0xd8 &&
               body[body.size() - 2] == 0xff && body[body.size() - 1] == 0xd9;
    }
};

}  // namespace ostrelcomm
