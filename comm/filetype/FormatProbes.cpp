#include "filetype/FormatProbes.h"

#include <algorithm>
#include <exception>
#include <limits>

#include <nlohmann/json.hpp>

#include "encoding/Encoding.h"

namespace ostrelcomm {

namespace {

constexpr std::array<std::uint8_t, 4> kZipLocalHeader{0x50, 0x4B, 0x03, 0x04};

constexpr AsfGuid kAsfStreamPropertiesObject{0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

// Every ASF object starts with its 16-byte identifier and 8-byte size.
constexpr std::uint64_t kAsfObjectHeaderSize = 24;

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
std::optional<std::string> decodeUtf8(ByteView bytes) {
    std::string text = toText(bytes);
    if (!isValidUtf8(text)) return std::nullopt;
    return text;
}

std::size_t countCodePoints(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<std::uint8_t>(c) & 0xC0) != 0x80;
    }));
}

// Reads an integer written in base 8, optionally signed; the whole text must
// be the number.
std::optional<std::int64_t> parseOctal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '7') return std::nullopt;
        value = value * 8 + (c - '0');  // at most six digits here: no overflow
    }
    return negative ? -value : value;
}

std::uint32_t readUInt16LE(ByteView data, std::size_t offset) {
    return static_cast<std::uint32_t>(data[offset]) |
           static_cast<std::uint32_t>(data[offset + 1]) << 8;
}

std::uint32_t readUInt32BE(ByteView data, std::size_t offset) {
    return static_cast<std::uint32_t>(data[offset]) << 24 |
           static_cast<std::uint32_t>(data[offset + 1]) << 16 |
           static_cast<std::uint32_t>(data[offset + 2]) << 8 |
           static_cast<std::uint32_t>(data[offset + 3]);
}

// Notes only what the verdict needs (is the top value an object, does it have
// a "files" key) without building the document, so a large or deeply nested
// header costs no more than one pass.
class AsarHeaderScan : public nlohmann::json_sax<nlohmann::json> {
public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override {
        if (depth_ == 0) topIsObject_ = true;
        ++depth_;
        return true;
    }
    bool key(string_t& name) override {
        if (depth_ == 1 && topIsObject_ && name == "files") hasFiles_ = true;
        return true;
    }
    bool end_object() override {
        --depth_;
        return true;
    }
    bool start_array(std::size_t) override {
        ++depth_;
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

    bool verdict() const { return topIsObject_ && hasFiles_; }

private:
    std::size_t depth_ = 0;
    bool topIsObject_ = false;
    bool hasFiles_ = false;
};

}  // namespace

std::optional<std::int64_t> getInt32LE(ByteView data, std::size_t offset) {
    if (offset > data.size() || data.size() - offset < 4) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(data[offset + i]) << (8 * i);
    return static_cast<std::int64_t>(value);
}

std::optional<std::int64_t> getInt64LE(ByteView data, std::size_t offset) {
    if (offset > data.size() || data.size() - offset < 8) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) value |= static_cast<std::uint64_t>(data[offset + i]) << (8 * i);
    return static_cast<std::int64_t>(value);
}

bool matchZipHeader(ByteView data, const ZipHeaderPredicate& predicate) {
    const std::uint64_t size = data.size();
    std::uint64_t p = 0;
    while (p + 30 < size) {
        const auto compressedSize = static_cast<std::uint64_t>(*getInt32LE(data, p + 18));
        const auto uncompressedSize = static_cast<std::uint64_t>(*getInt32LE(data, p + 22));
        const std::uint64_t nameLength = readUInt16LE(data, p + 26);
        const std::uint64_t extraLength = readUInt16LE(data, p + 28);

        if (p + 30 + nameLength > size) return false;
        auto name = decodeUtf8(data.subspan(p + 30, nameLength));
        if (!name) return false;

        const std::uint64_t start = p + 30 + nameLength + extraLength;
        ZipHeader header{std::move(*name), std::nullopt};
        if (header.fileName == "mimetype" && compressedSize == uncompressedSize &&
            start + compressedSize <= size) {
            header.mimeType = decodeUtf8(data.subspan(start, compressedSize));
        }
        if (predicate(header)) return true;

        if (compressedSize != 0) {
            p = start + compressedSize;
            continue;
        }
        // The size follows the entry's data: look for the next header.
        std::uint64_t q = start;
        bool found = false;
        while (q + 30 < size) {
            if (std::equal(kZipLocalHeader.begin(), kZipLocalHeader.end(), data.begin() + q)) {
                found = true;
                break;
            }
            ++q;
        }
        if (!found) return false;
        p = q;
    }
    return false;
}

bool matchMSOffice(const ZipHeader& header, std::string_view type,
                   std::optional<std::string_view> startsWith) {
    const std::string_view name = header.fileName;
    if (countCodePoints(name) < 5) return false;
    if (startsWith && name.starts_with(*startsWith)) return true;
    if (!name.ends_with(".rels") && !name.ends_with(".xml")) return false;

    std::size_t begin = 0;
    while (begin < name.size()) {
        const std::size_t end = std::min(name.find('/', begin), name.size());
        if (end > begin) return name.substr(begin, end - begin) == type;
        begin = end + 1;
    }
    return false;
}

bool matchAsfHeader(ByteView data, const AsfGuid& streamType) {
    const std::uint64_t size = data.size();
    std::uint64_t p = 30;
    while (p + kAsfObjectHeaderSize < size) {
        const auto objectSize = *getInt64LE(data, p + 16);
        if (std::equal(kAsfStreamPropertiesObject.begin(), kAsfStreamPropertiesObject.end(),
                       data.begin() + p)) {
            const std::uint64_t typeAt = p + kAsfObjectHeaderSize;
            if (size - typeAt < streamType.size()) return false;
            return std::equal(streamType.begin(), streamType.end(), data.begin() + typeAt);
        }
        // An object shorter than its own header would never move the walk on,
        // and one reaching past the data ends it anyway.
        if (objectSize < static_cast<std::int64_t>(kAsfObjectHeaderSize)) return false;
        if (static_cast<std::uint64_t>(objectSize) > size - p) return false;
        p += static_cast<std::uint64_t>(objectSize);
    }
    return false;
}

bool tarHeaderChecksumMatches(ByteView data) {
    if (data.size() < 512) return false;
    std::int64_t sum = 256;  // the checksum field itself counts as eight spaces
    std::int64_t highBits = 0;
    for (std::size_t i = 0; i < 512; ++i) {
        if (i >= 148 && i < 156) continue;
        sum += data[i];
        highBits += data[i] & 0x80;
    }
    const auto text = decodeUtf8(data.subspan(148, 6));
    if (!text) return false;
    const auto stored = parseOctal(*text);
    if (!stored) return false;
    // Some writers summed the header as signed bytes.
    return *stored == sum || *stored == sum - 2 * highBits;
}

bool findAPNG(ByteView data) {
    const std::uint64_t size = data.size();
    std::uint64_t p = 8;
    while (true) {
        if (p + 4 > size) return false;
        const std::uint64_t length = readUInt32BE(data, p);
        if (p + 8 <= size) {
            const auto type = decodeUtf8(data.subspan(p + 4, 4));
            if (type == "acTL") return true;
            if (type == "IDAT") return false;
        }
        p += length + 12;
        if (size < 8 || p >= size - 8) return false;
    }
}

bool matchAsarHeader(ByteView data) {
    if (data.size() < 16) return false;
    const auto headerLength = static_cast<std::uint64_t>(*getInt32LE(data, 12));
    if (data.size() - 16 < headerLength) return false;
    const ByteView header = data.subspan(16, headerLength);
    try {
        AsarHeaderScan scan;
        const bool parsed = nlohmann::json::sax_parse(header.begin(), header.end(), &scan);
        return parsed && scan.verdict();
    } catch (const std::exception&) {
        return false;
    }
}

bool matchMPEGHeader(ByteView data, std::uint8_t match, std::uint8_t mask) {
    for (std::size_t i = 0; i < 2; ++i) {
        if (i + 1 >= data.size()) return false;
        if (data[i] == 0xFF && data[i + 1] >= 0xE0) return (data[i + 1] & mask) == match;
    }
    return false;
}

}  // namespace ostrelcomm
