#pragma once

// Builders for small, well-formed file heads of the formats that detection
// knows. They follow the formats' own layouts, written independently of the
// library's tables.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"

namespace filetype_fixtures {

using ostrelcomm::Bytes;

// "FF D8 FF" → {0xFF, 0xD8, 0xFF}
inline Bytes hex(std::string_view text) {
    Bytes out;
    auto digit = [](char c) -> std::uint8_t {
        return static_cast<std::uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    };
    for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
        out.push_back(static_cast<std::uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
    }
    return out;
}

inline Bytes text(std::string_view s) { return ostrelcomm::toBytes(s); }

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes padTo(Bytes data, std::size_t size, std::uint8_t fill = 0) {
    if (data.size() < size) data.resize(size, fill);
    return data;
}

inline Bytes le(std::uint64_t value, std::size_t width) {
    Bytes out;
    for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return out;
}

inline Bytes be(std::uint64_t value, std::size_t width) {
    Bytes out;
    for (std::size_t i = width; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return out;
}

// ---- ZIP ---------------------------------------------------------------

struct ZipEntry {
    std::string name;
    Bytes data;
    // Sizes written in the local header; by default both are the data's size.
    // Zero with data present is how streamed entries look (sizes follow).
    std::optional<std::uint32_t> compressedSize = std::nullopt;
    std::optional<std::uint32_t> uncompressedSize = std::nullopt;
    Bytes extra = {};
};

inline Bytes zipLocalEntry(const ZipEntry& entry) {
    const auto size = static_cast<std::uint32_t>(entry.data.size());
    const std::uint32_t compressed = entry.compressedSize.value_or(size);
    const std::uint32_t uncompressed = entry.uncompressedSize.value_or(size);
    const bool streamed = compressed == 0 && !entry.data.empty();
    Bytes out = cat({hex("50 4B 03 04"), le(20, 2), le(streamed ? 0x08 : 0, 2), le(0, 2), le(0, 2), le(0, 2),
                     le(0, 4), le(compressed, 4), le(uncompressed, 4), le(entry.name.size(), 2),
                     le(entry.extra.size(), 2), text(entry.name), entry.extra, entry.data});
    if (streamed) out = cat({out, hex("50 4B 07 08"), le(0, 4), le(size, 4), le(size, 4)});
    return out;
}

// Local entries followed by an (empty) end-of-central-directory record.
inline Bytes zipArchive(const std::vector<ZipEntry>& entries) {
    Bytes out;
    for (const auto& entry : entries) out = cat({out, zipLocalEntry(entry)});
    return cat({out, hex("50 4B 05 06"), Bytes(18, 0)});
}

// ---- Ogg ---------------------------------------------------------------

// One page holding one packet: the 27-byte page header, a one-byte segment
// table, then the packet (so the packet starts at byte 28).
inline Bytes oggPage(const Bytes& packet) {
    return padTo(cat({text("OggS"), hex("00 02"), le(0, 8), le(0x1234, 4), le(0, 4), le(0, 4), hex("01"),
                      le(packet.size(), 1), packet}),
                 64);
}

// ---- ISO base media ------------------------------------------------------

inline Bytes ftyp(std::string_view majorBrand) {
    return cat({be(24, 4), text("ftyp"), text(majorBrand), be(0, 4), text("isom"), text("mp42"),
                be(8, 4), text("free")});
}

// ---- ASF -------------------------------------------------------------------

inline const Bytes kAsfHeaderGuid = hex("30 26 B2 75 8E 66 CF 11 A6 D9 00 AA 00 62 CE 6C");
inline const Bytes kAsfFilePropertiesGuid = hex("A1 DC AB 8C 47 A9 CF 11 8E E4 00 C0 0C 20 53 65");
inline const Bytes kAsfStreamPropertiesGuid = hex("91 07 DC B7 B7 A9 CF 11 8E E6 00 C0 0C 20 53 65");
inline const Bytes kAsfAudioMedia = hex("40 9E 69 F8 4D 5B CF 11 A8 FD 00 80 5F 5C 44 2B");
inline const Bytes kAsfVideoMedia = hex("C0 EF 19 BC 4D 5B CF 11 A8 FD 00 80 5F 5C 44 2B");
inline const Bytes kAsfCommandMedia = hex("C0 CF DA 59 E6 59 D0 11 A3 AC 00 A0 C9 03 48 F6");

// The 30-byte header object (identifier, size, object count, two reserved bytes).
inline Bytes asfHeaderObject(std::uint64_t totalSize = 1024, std::uint32_t objects = 2) {
    return cat({kAsfHeaderGuid, le(totalSize, 8), le(objects, 4), hex("01 02")});
}

// An object whose size field is written as given (by default, its real size).
inline Bytes asfObject(const Bytes& guid, const Bytes& payload,
                       std::optional<std::uint64_t> declaredSize = std::nullopt) {
    return cat({guid, le(declaredSize.value_or(24 + payload.size()), 8), payload});
}

inline Bytes asfFileProperties() { return asfObject(kAsfFilePropertiesGuid, Bytes(80, 0x11)); }

inline Bytes asfStreamProperties(const Bytes& streamType) {
    // stream type, error correction type, then the fixed fields (all zero here)
    return asfObject(kAsfStreamPropertiesGuid, cat({streamType, Bytes(16, 0), Bytes(38, 0)}));
}

inline Bytes asfFile(const Bytes& streamType, std::size_t size = 1024) {
    return padTo(cat({asfHeaderObject(), asfFileProperties(), asfStreamProperties(streamType)}), size);
}

// ---- tar -------------------------------------------------------------------

// A ustar header for a 5-byte file, followed by its data block. The checksum
// is the byte sum with the checksum field read as spaces, taken over unsigned
// bytes or (as some writers do) over signed ones.
inline Bytes tarArchive(std::string_view name, bool signedChecksum, std::int64_t checksumDelta = 0) {
    Bytes header(512, 0);
    auto put = [&header](std::size_t at, std::string_view value) {
        std::copy(value.begin(), value.end(), header.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put(0, name);
    put(100, "0000644");
    put(108, "0001750");
    put(116, "0001750");
    put(124, "00000000005");
    put(136, "14712345670");
    put(148, "        ");
    put(156, "0");
    put(257, std::string_view("ustar\0" "00", 8));
    put(265, "user");
    put(297, "user");
    std::int64_t sum = 0;
    for (std::uint8_t byte : header) sum += signedChecksum ? static_cast<std::int8_t>(byte) : byte;
    sum += checksumDelta;
    char field[8];
    std::snprintf(field, sizeof field, "%06llo", static_cast<unsigned long long>(sum));
    put(148, std::string_view(field, 6));
    header[154] = 0;
    header[155] = ' ';
    return cat({header, padTo(text("hello"), 512)});
}

// ---- PNG -------------------------------------------------------------------

inline const Bytes kPngSignature = hex("89 50 4E 47 0D 0A 1A 0A");

inline Bytes pngChunk(std::string_view type, const Bytes& data, std::optional<std::uint32_t> length = {}) {
    return cat({be(length.value_or(static_cast<std::uint32_t>(data.size())), 4), text(type), data, be(0, 4)});
}

inline Bytes pngIhdr() { return pngChunk("IHDR", cat({be(16, 4), be(16, 4), hex("08 06 00 00 00")})); }
inline Bytes pngActl() { return pngChunk("acTL", cat({be(2, 4), be(0, 4)})); }
inline Bytes pngIdat() { return pngChunk("IDAT", hex("78 9C 63 00 00 00 01 00 01")); }
inline Bytes pngIend() { return pngChunk("IEND", {}); }

// ---- ASAR ------------------------------------------------------------------

// The pickled header: 4, the pickle's size, the string pickle's size, the
// JSON length, then the JSON text.
inline Bytes asarArchive(std::string_view json, std::optional<std::uint32_t> declaredLength = {}) {
    const auto length = declaredLength.value_or(static_cast<std::uint32_t>(json.size()));
    return cat({le(4, 4), le(json.size() + 8, 4), le(json.size() + 4, 4), le(length, 4), text(json),
                text("hello")});
}

}  // namespace filetype_fixtures
