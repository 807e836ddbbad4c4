#include "filetype/FileTypeMatch.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "filetype/FormatProbes.h"

namespace ostrelcomm {

std::string_view name(FileTypeMatchType type) {
    static constexpr std::array<std::string_view, kFileTypeMatchTypeCount> names{
#define OSTRELCOMM_FT_NAME_CASE(name) #name,
        OSTRELCOMM_FILE_TYPE_MATCH_TYPES(OSTRELCOMM_FT_NAME_CASE)
#undef OSTRELCOMM_FT_NAME_CASE
    };
    return names.at(static_cast<std::size_t>(type));
}

bool matchPatterns(ByteView data, const std::vector<MatchPatternList>& match, std::int64_t offset,
                   const std::optional<Bytes>& mask) {
    if (offset < 0) return false;
    const auto start = static_cast<std::uint64_t>(offset);
    for (const auto& pattern : match) {
        bool matched = true;
        for (std::size_t i = 0; i < pattern.size() && matched; ++i) {
            if (pattern[i].isAny()) continue;
            const std::uint64_t at = start + i;
            if (at >= data.size()) {
                matched = false;
                break;
            }
            const std::uint8_t value = data[at];
            const std::uint8_t masked =
                mask && i < mask->size() ? static_cast<std::uint8_t>((*mask)[i] & value) : value;
            matched = value == pattern[i].value() || masked == pattern[i].value();
        }
        if (matched) return true;
    }
    return false;
}

bool FileTypeMatch::matches(ByteView data) const {
    if (bytesCount && static_cast<std::int64_t>(data.size()) < *bytesCount) return false;
    const auto beginsWith = [&](ByteView prefix) {
        return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
    };
    bool prefixTested = false;
    if (matchString) {
        if (std::none_of(matchString->begin(), matchString->end(),
                         [&](const std::string& text) { return beginsWith(asBytes(text)); })) {
            return false;
        }
        prefixTested = true;
    }
    if (matchBytes) {
        if (std::none_of(matchBytes->begin(), matchBytes->end(),
                         [&](const Bytes& bytes) { return beginsWith(bytes); })) {
            return false;
        }
        prefixTested = true;
    }
    if (match) return (*match)(data);
    return prefixTested;
}

namespace {

using K = FileTypeMatchType;
using Predicate = FileTypeMatch::Predicate;

std::uint8_t hexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    std::abort();  // the table below is fixed text: a bad digit is a typo in it
}

// "25 21 ?? 50" → byte(25), byte(21), any, byte(50)
MatchPatternList pattern(std::string_view text) {
    MatchPatternList positions;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        if (text.substr(i, 2) == "??") {
            positions.push_back(MatchPattern::any());
        } else {
            positions.push_back(MatchPattern::byte(
                static_cast<std::uint8_t>(hexDigit(text[i]) << 4 | hexDigit(text[i + 1]))));
        }
    }
    return positions;
}

Bytes hex(std::string_view text) {
    Bytes bytes;
    for (const auto& position : pattern(text)) bytes.push_back(position.value());
    return bytes;
}

std::optional<std::vector<Bytes>> bytes(std::initializer_list<std::string_view> alternatives) {
    std::vector<Bytes> lists;
    for (auto text : alternatives) lists.push_back(hex(text));
    return lists;
}

std::optional<std::vector<std::string>> text(std::initializer_list<std::string> alternatives) {
    return std::vector<std::string>(alternatives);
}

std::vector<MatchPatternList> patterns(std::initializer_list<std::string_view> alternatives) {
    std::vector<MatchPatternList> set;
    for (auto text : alternatives) set.push_back(pattern(text));
    return set;
}

Predicate at(std::int64_t offset, std::initializer_list<std::string_view> alternatives) {
    return [offset, set = patterns(alternatives)](ByteView data) {
        return matchPatterns(data, set, offset);
    };
}

Predicate atMasked(std::int64_t offset, std::string_view mask,
                   std::initializer_list<std::string_view> alternatives) {
    return [offset, set = patterns(alternatives), mask = hex(mask)](ByteView data) {
        return matchPatterns(data, set, offset, mask);
    };
}

Predicate zipEntry(std::function<bool(const ZipHeader&)> accept) {
    return [accept = std::move(accept)](ByteView data) { return matchZipHeader(data, accept); };
}

Predicate zipEntryNamed(std::string fileName) {
    return zipEntry([fileName = std::move(fileName)](const ZipHeader& header) {
        return header.fileName == fileName;
    });
}

Predicate zipMimeType(std::string mimeType) {
    return zipEntry([mimeType = std::move(mimeType)](const ZipHeader& header) {
        return header.mimeType == mimeType;
    });
}

Predicate zipOfficeEntry(std::string folder, std::optional<std::string> prefix) {
    return zipEntry([folder = std::move(folder), prefix = std::move(prefix)](const ZipHeader& header) {
        return matchMSOffice(header, folder, prefix ? std::optional<std::string_view>(*prefix)
                                                    : std::nullopt);
    });
}

Predicate asfStream(std::string_view streamType) {
    AsfGuid guid{};
    const Bytes parsed = hex(streamType);
    std::copy_n(parsed.begin(), guid.size(), guid.begin());
    return [guid](ByteView data) { return matchAsfHeader(data, guid); };
}

Predicate mpegFrame(std::uint8_t mask, std::uint8_t value) {
    return [mask, value](ByteView data) { return matchMPEGHeader(data, value, mask); };
}

bool containsIllustratorMark(ByteView data) {
    static constexpr std::string_view mark = "Adobe Illustrator";
    const ByteView head = data.first(std::min<std::size_t>(data.size(), 1350));
    const ByteView needle = asBytes(mark);
    return std::search(head.begin(), head.end(), needle.begin(), needle.end()) != head.end();
}

const std::string_view kJpeg2000Signature = "00 00 00 0C 6A 50 20 20 0D 0A 87 0A ?? ?? ?? ?? ?? ?? ?? ?? ";
const std::string_view kAsfHeaderObject = "30 26 B2 75 8E 66 CF 11 A6 D9";
const std::string_view kPngSignature = "89 50 4E 47 0D 0A 1A 0A";
const std::string_view kZipLocalHeader = "50 4B 03 04";

std::vector<FileTypeMatch> buildTable() {
    const std::nullopt_t none = std::nullopt;
    const auto jpeg2000 = [](std::string_view brand) {
        return at(0, {std::string(kJpeg2000Signature) + std::string(brand)});
    };
    return {
        {K::bmp, none, none, bytes({"42 4D"}), none},
        {K::ac3, none, none, bytes({"0B 77"}), none},
        {K::dmg, none, none, bytes({"78 01"}), none},
        {K::exe, none, none, bytes({"4D 5A"}), none},
        {K::eps, 20, none, none, at(0, {"25 21 50 53 2D 41 64 6F 62 65 2D ?? ?? ?? 20 45 50 53 46 2D"})},
        {K::ps, none, none, bytes({"25 21"}), none},
        {K::Z, none, none, bytes({"1F A0", "1F 9D"}), none},
        {K::jpg, none, none, bytes({"FF D8 FF"}), none},
        {K::jxr, none, none, bytes({"49 49 BC"}), none},
        {K::gz, none, none, bytes({"1F 8B 08"}), none},
        {K::bz2, none, none, bytes({"42 5A 68"}), none},
        {K::mpc, none, text({"MP+"}), none, none},
        {K::gif, none, none, bytes({"47 49 46"}), none},
        {K::flif, none, text({"FLIF"}), none, none},
        {K::psd, none, text({"8BPS"}), none, none},
        {K::mpc, none, text({"MPCK"}), none, none},
        {K::aif, none, text({"FORM"}), none, none},
        {K::swf, none, none, bytes({"43 57 53", "46 57 53"}), none},
        {K::icns, none, text({"icns"}), none, none},
        {K::eps, none, none, bytes({"C5 D0 D3 C6"}), none},
        {K::xpi, none, none, bytes({kZipLocalHeader}), zipEntryNamed("META-INF/mozilla.rsa")},
        {K::docx, none, none, bytes({kZipLocalHeader}), zipOfficeEntry("word", none)},
        {K::pptx, none, none, bytes({kZipLocalHeader}), zipOfficeEntry("ppt", none)},
        {K::xlsx, none, none, bytes({kZipLocalHeader}), zipOfficeEntry("xl", "xl/")},
        {K::epub, none, none, bytes({kZipLocalHeader}), zipMimeType("application/epub+zip")},
        {K::odt, none, none, bytes({kZipLocalHeader}), zipMimeType("application/vnd.oasis.opendocument.text")},
        {K::ods, none, none, bytes({kZipLocalHeader}), zipMimeType("application/vnd.oasis.opendocument.spreadsheet")},
        {K::odp, none, none, bytes({kZipLocalHeader}), zipMimeType("application/vnd.oasis.opendocument.presentation")},
        {K::zip, none, none,
         bytes({"50 4B 03 04", "50 4B 03 06", "50 4B 03 08", "50 4B 05 04", "50 4B 05 06", "50 4B 05 08",
                "50 4B 07 04", "50 4B 07 06", "50 4B 07 08"}),
         none},
        {K::opus, 36, text({"OggS"}), none, at(28, {"4F 70 75 73 48 65 61 64"})},
        {K::ogv, 35, text({"OggS"}), none, at(28, {"80 74 68 65 6F 72 61"})},
        {K::ogm, 35, text({"OggS"}), none, at(28, {"01 76 69 64 65 6F 00"})},
        {K::oga, 33, text({"OggS"}), none, at(28, {"7F 46 4C 41 43"})},
        {K::spx, 35, text({"OggS"}), none, at(28, {"53 70 65 65 78 20 20"})},
        {K::ogg, 35, text({"OggS"}), none, at(28, {"01 76 6F 72 62 69 73"})},
        {K::ogx, none, text({"OggS"}), none, none},
        {K::avif, 12, none, none, at(4, {"66 74 79 70 61 76 69 66"})},
        {K::heif, 12, none, none, at(4, {"66 74 79 70 6D 69 66 31"})},
        {K::heifSequence, 12, none, none, at(4, {"66 74 79 70 6D 73 66 31"})},
        {K::heic, 12, none, none, at(4, {"66 74 79 70 68 65 69 63", "66 74 79 70 68 65 69 78"})},
        {K::heicSequence, 12, none, none, at(4, {"66 74 79 70 68 65 76 63", "66 74 79 70 68 65 76 78"})},
        {K::mov, 10, none, none, at(4, {"66 74 79 70 71 74"})},
        {K::m4v, 12, none, none, at(4, {"66 74 79 70 4D 34 56", "66 74 79 70 4D 34 56 48", "66 74 79 70 4D 34 56 50"})},
        {K::m4p, 11, none, none, at(4, {"66 74 79 70 4D 34 50"})},
        {K::m4b, 11, none, none, at(4, {"66 74 79 70 4D 34 42"})},
        {K::m4a, 11, none, none, at(4, {"66 74 79 70 4D 34 41"})},
        {K::f4v, 11, none, none, at(4, {"66 74 79 70 46 34 56"})},
        {K::f4p, 11, none, none, at(4, {"66 74 79 70 46 34 50"})},
        {K::f4a, 11, none, none, at(4, {"66 74 79 70 46 34 41"})},
        {K::f4b, 11, none, none, at(4, {"66 74 79 70 46 34 42"})},
        {K::cr3, 11, none, none, at(4, {"66 74 79 70 63 72 78"})},
        {K::threeg2, 11, none, none, at(4, {"66 74 79 70 33 67 32"})},
        {K::threegp, 10, none, none, at(4, {"66 74 79 70 33 67"})},
        {K::mp4, 8, none, none, at(4, {"66 74 79 70"})},
        {K::mid, none, text({"MThd"}), none, none},
        {K::woff, 12, text({"wOFF"}), none, at(4, {"00 01 00 00", "4F 54 54 4F"})},
        {K::woff2, 12, text({"wOF2"}), none, at(4, {"00 01 00 00", "4F 54 54 4F"})},
        {K::dsf, none, text({"DSD "}), none, none},
        {K::lz, none, text({"LZIP"}), none, none},
        {K::flac, none, text({"fLaC"}), none, none},
        {K::bpg, none, none, bytes({"42 50 47 FB"}), none},
        {K::wv, none, text({"wvpk"}), none, none},
        {K::ai, none, text({"%PDF"}), none, Predicate(containsIllustratorMark)},
        {K::pdf, none, text({"%PDF"}), none, none},
        {K::wasm, none, none, bytes({"00 61 73 6D"}), none},
        {K::cr2, 10, none, bytes({"49 49 2A 00"}), at(8, {"43 52"})},
        {K::nef, 12, none, bytes({"49 49 2A 00"}), at(8, {"1C 00 FE 00", "1F 00 0B 00"})},
        {K::dng, 12, none, bytes({"49 49 2A 00"}), at(4, {"08 00 00 00 2D 00 FE 00", "08 00 00 00 27 00 FE 00"})},
        {K::arw, 24, none, bytes({"49 49 2A 00"}),
         at(4, {"10 FB 86 01 ?? 00 FE 00 04 00 01 00 00 00 01 00 00 00 03 01",
                "08 00 00 00 ?? 00 FE 00 04 00 01 00 00 00 01 00 00 00 03 01"})},
        {K::tif, none, none, bytes({"49 49 2A 00", "4D 4D 00 2A"}), none},
        {K::ape, none, text({"MAC "}), none, none},
        {K::avi, 11, none, bytes({"52 49 46 46"}), at(8, {"41 56 49"})},
        {K::wav, 12, none, bytes({"52 49 46 46"}), at(8, {"57 41 56 45"})},
        {K::qcp, 12, none, bytes({"52 49 46 46"}), at(8, {"51 4C 43 4D"})},
        {K::sql, none, text({"SQLi"}), none, none},
        {K::nes, none, none, bytes({"4E 45 53 1A"}), none},
        {K::crx, none, text({"Cr24"}), none, none},
        {K::cab, none, text({"MSCF", "ISc("}), none, none},
        {K::rpm, none, none, bytes({"ED AB EE DB"}), none},
        {K::otf, none, none, bytes({"4F 54 54 4F 00"}), none},
        {K::amr, none, text({"#!AMR"}), none, none},
        {K::rtf, none, text({"{\\rtf"}), none, none},
        {K::flv, none, none, bytes({"46 4C 56 01"}), none},
        {K::it, none, text({"IMPM"}), none, none},
        {K::lzh, 7, none, none,
         at(2, {"2D 6C 68 30 2D", "2D 6C 68 31 2D", "2D 6C 68 32 2D", "2D 6C 68 33 2D", "2D 6C 68 34 2D",
                "2D 6C 68 35 2D", "2D 6C 68 36 2D", "2D 6C 68 37 2D", "2D 6C 68 64 2D", "2D 6C 7A 73 2D",
                "2D 6C 7A 34 2D", "2D 6C 7A 35 2D"})},
        {K::mpg, 5, none, bytes({"00 00 01 BA"}), atMasked(4, "F1", {"21"})},
        {K::mpg, 5, none, bytes({"00 00 01 BA"}), atMasked(4, "C4", {"44"})},
        {K::xz, none, none, bytes({"FD 37 7A 58 5A 00"}), none},
        {K::xml, none, text({"<?xml "}), none, none},
        {K::ics, none, text({"BEGIN:"}), none, none},
        {K::sevenz, none, none, bytes({"37 7A BC AF 27 1C"}), none},
        {K::rar, none, none, bytes({"52 61 72 21 1A 07 00", "52 61 72 21 1A 07 01"}), none},
        {K::ble, none, text({"BLENDER"}), none, none},
        {K::deb, 21, text({"!<arch>"}), none, at(8, {"64 65 62 69 61 6E 2D 62 69 6E 61 72 79"})},
        {K::ar, none, text({"!<arch>"}), none, none},
        {K::apng, 32, none, bytes({kPngSignature}), Predicate(findAPNG)},
        {K::png, none, none, bytes({kPngSignature}), none},
        {K::arr, none, none, bytes({"41 52 52 4F 57 31 00 00"}), none},
        {K::glb, none, none, bytes({"67 6C 54 46 02 00 00 00"}), none},
        {K::mov, 8, none, none, at(4, {"66 72 65 65", "6D 64 61 74", "6D 6F 6F 76", "77 69 64 65"})},
        {K::orf, none, none, bytes({"49 49 52 4F 08 00 00 00 18"}), none},
        {K::rw2, none, none, bytes({"49 49 55 00 18 00 00 00 88 E7 74 D8"}), none},
        {K::wma, 1024, none, bytes({kAsfHeaderObject}), asfStream("40 9E 69 F8 4D 5B CF 11 A8 FD 00 80 5F 5C 44 2B")},
        {K::wmv, 1024, none, bytes({kAsfHeaderObject}), asfStream("C0 EF 19 BC 4D 5B CF 11 A8 FD 00 80 5F 5C 44 2B")},
        {K::asf, none, none, bytes({kAsfHeaderObject}), none},
        {K::ktx, none, none, bytes({"AB 4B 54 58 20 31 31 BB 0D 0A 1A 0A"}), none},
        {K::mie, 8, none, none, at(0, {"7E 10 04 ?? 30 4D 49 45", "7E 18 04 ?? 30 4D 49 45"})},
        {K::shp, 14, none, none, at(2, {"27 0A 00 00 00 00 00 00 00 00 00 00"})},
        {K::jp2, 24, none, none, jpeg2000("6A 70 32 20")},
        {K::jpx, 24, none, none, jpeg2000("6A 70 78 20")},
        {K::jpm, 24, none, none, jpeg2000("6A 70 6D 20")},
        {K::mj2, 24, none, none, jpeg2000("6D 6A 70 32")},
        {K::mpg, none, none, bytes({"00 00 01 BA", "00 00 01 B3"}), none},
        {K::ttf, none, none, bytes({"00 01 00 00 00"}), none},
        {K::ico, none, none, bytes({"00 00 01 00"}), none},
        {K::cur, none, none, bytes({"00 00 02 00"}), none},
        {K::asar, none, none, bytes({"04 00 00 00"}), Predicate(matchAsarHeader)},
        {K::raf, none, text({"FUJIFILMCCD-RAW"}), none, none},
        {K::xm, none, text({"Extended Module:"}), none, none},
        {K::pgp, none, text({"-----BEGIN PGP MESSAGE-----"}), none, none},
        {K::voc, none, text({"Creative Voice File"}), none, none},
        {K::indd, none, none, bytes({"06 06 ED F5 D8 1D 46 E5 BD 31 EF E7 FE 74 B7 1D"}), none},
        {K::msi, none, none,
         bytes({"D0 CF 11 E0 A1 B1 1A E1 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 3E"}), none},
        {K::mxf, none, none, bytes({"06 0E 2B 34 02 05 01 01 0D 01 02 01 01 02"}), none},
        {K::s3m, 48, none, none, at(44, {"53 43 52 4D"})},
        {K::mts, 197, none, none,
         Predicate([byte4 = at(4, {"47"}), sync = patterns({"47"})](ByteView data) {
             return byte4(data) && (matchPatterns(data, sync, 192) || matchPatterns(data, sync, 196));
         })},
        {K::mobi, 68, none, none, at(60, {"42 4F 4F 4B 4D 4F 42 49"})},
        {K::dcm, 132, none, none, at(128, {"44 49 43 4D"})},
        {K::lnk, none, none, bytes({"4C 00 00 00 01 14 02 00 00 00 00 00 C0 00 00 00 00 00 00 46"}), none},
        {K::ali, none, none, bytes({"62 6F 6F 6B 00 00 00 00 6D 61 72 6B 00 00 00 00"}), none},
        {K::eot, 36, none, none,
         Predicate([marker = at(34, {"4C 50"}), version = at(8, {"00 00 01", "01 00 02", "02 00 02"})](
                       ByteView data) { return marker(data) && version(data); })},
        {K::tar, 512, none, none,
         Predicate([digits = atMasked(148, "F8 F8 F8 F8 F8 F8", {"30 30 30 30 30 30"})](ByteView data) {
             return digits(data) && tarHeaderChecksumMatches(data);
         })},
        {K::skp, none, none,
         bytes({"FF FE FF 0E 53 00 6B 00 65 00 74 00 63 00 68 00 55 00 70 00 20 00 4D 00 6F 00 64 00 65 00 6C 00"}),
         none},
        {K::aac, 18, none, none, mpegFrame(0x16, 0x10)},
        {K::mp3, 18, none, none, mpegFrame(0x06, 0x02)},
        {K::mp2, 18, none, none, mpegFrame(0x06, 0x04)},
        {K::mp1, 18, none, none, mpegFrame(0x06, 0x06)},
        {K::mp3, none, text({"ID3"}), none, none},
    };
}

}  // namespace

const std::vector<FileTypeMatch>& FileTypeMatch::all() {
    static const std::vector<FileTypeMatch> table = buildTable();
    return table;
}

}  // namespace ostrelcomm
