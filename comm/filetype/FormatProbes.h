#pragma once

// Structural tests for the container formats whose leading bytes alone do not
// tell the kind: ZIP-based documents, ASF media, tar, animated PNG, ASAR
// archives and MPEG audio frames. Every probe is a pure yes/no function that
// never reads outside the data it is given.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Bytes.h"

namespace ostrelcomm {

// One local file header of a ZIP container, as handed to a walk predicate.
struct ZipHeader {
    std::string fileName;
    // The stored text of an entry named "mimetype"; present only when the
    // entry is stored uncompressed, lies whole inside the data and is UTF-8.
    std::optional<std::string> mimeType;
};

using ZipHeaderPredicate = std::function<bool(const ZipHeader&)>;

// Walks the local file headers from the start of the data; yes as soon as the
// predicate accepts one.
bool matchZipHeader(ByteView data, const ZipHeaderPredicate& predicate);

// Office Open XML entry-name test: an entry under `type` (the first folder)
// ending in ".rels" or ".xml", or any entry beginning with `startsWith`.
bool matchMSOffice(const ZipHeader& header, std::string_view type,
                   std::optional<std::string_view> startsWith);

using AsfGuid = std::array<std::uint8_t, 16>;

// Walks the objects after an ASF header object; yes when the first stream
// properties object declares the given stream type.
bool matchAsfHeader(ByteView data, const AsfGuid& streamType);

// Checks the checksum field of a 512-byte tar header against both the
// unsigned and the signed byte sum.
bool tarHeaderChecksumMatches(ByteView data);

// Walks PNG chunks; yes when an "acTL" chunk comes before the first "IDAT".
bool findAPNG(ByteView data);

// Yes when the data carries an ASAR header: a length at 12 and a JSON object
// with a "files" key right after it.
bool matchAsarHeader(ByteView data);

// Looks for an MPEG audio frame sync at byte 0, else byte 1, and compares the
// masked second byte of the frame with `match`.
bool matchMPEGHeader(ByteView data, std::uint8_t match, std::uint8_t mask);

// Little-endian readers; nothing when the bytes lie outside the data.
std::optional<std::int64_t> getInt32LE(ByteView data, std::size_t offset);
std::optional<std::int64_t> getInt64LE(ByteView data, std::size_t offset);

}  // namespace ostrelcomm
