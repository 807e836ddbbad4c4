#pragma once

// The ordered detection table: which kind of file a block of leading bytes
// belongs to. The first entry whose tests all pass names the kind, so the
// order of the table settles every overlap between formats.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"

namespace ostrelcomm {

#define OSTRELCOMM_FILE_TYPE_MATCH_TYPES(X)                                                        \
    X(aac) X(ac3) X(ai) X(aif) X(ali) X(amr) X(ape) X(apng) X(ar) X(arr) X(arw) X(asar) X(asf)     \
    X(avi) X(avif) X(ble) X(bmp) X(bpg) X(bz2) X(cab) X(cr2) X(cr3) X(crx) X(cur) X(dcm) X(deb)    \
    X(dmg) X(dng) X(docx) X(dsf) X(eot) X(eps) X(epub) X(exe) X(f4a) X(f4b) X(f4p) X(f4v) X(flac)  \
    X(flif) X(flv) X(gif) X(glb) X(gz) X(heif) X(heifSequence) X(heic) X(heicSequence) X(ico)      \
    X(ics) X(icns) X(indd) X(it) X(jp2) X(jpg) X(jpm) X(jpx) X(jxr) X(ktx) X(lnk) X(lz) X(lzh)      \
    X(m4a) X(m4b) X(m4p) X(m4v) X(mid) X(mie) X(mj2) X(mobi) X(mov) X(mp1) X(mp2) X(mp3) X(mp4)    \
    X(mpc) X(mpg) X(mp1s) X(mp2p) X(msi) X(mts) X(mxf) X(nef) X(nes) X(odp) X(ods) X(odt) X(oga)   \
    X(ogg) X(ogm) X(ogv) X(ogx) X(opus) X(orf) X(otf) X(pdf) X(pgp) X(png) X(pptx) X(ps) X(psd)    \
    X(qcp) X(raf) X(rar) X(rpm) X(rtf) X(rw2) X(s3m) X(sevenz) X(shp) X(skp) X(spx) X(sql) X(swf)  \
    X(tar) X(threeg2) X(threegp) X(tif) X(ttf) X(voc) X(wasm) X(wav) X(wma) X(wmv) X(woff)         \
    X(woff2) X(wv) X(xlsx) X(xm) X(xml) X(xpi) X(xz) X(Z) X(zip)

// Every kind that detection can yield.
enum class FileTypeMatchType {
#define OSTRELCOMM_FT_ENUM_CASE(name) name,
    OSTRELCOMM_FILE_TYPE_MATCH_TYPES(OSTRELCOMM_FT_ENUM_CASE)
#undef OSTRELCOMM_FT_ENUM_CASE
};

inline constexpr std::size_t kFileTypeMatchTypeCount = 0
#define OSTRELCOMM_FT_COUNT_CASE(name) +1
    OSTRELCOMM_FILE_TYPE_MATCH_TYPES(OSTRELCOMM_FT_COUNT_CASE)
#undef OSTRELCOMM_FT_COUNT_CASE
    ;

std::string_view name(FileTypeMatchType type);

// One position of a byte pattern: a fixed byte, or any byte at all.
class MatchPattern {
public:
    static constexpr MatchPattern byte(std::uint8_t value) { return MatchPattern(value); }
    static constexpr MatchPattern any() { return MatchPattern(std::nullopt); }

    constexpr bool isAny() const { return !value_; }
    constexpr std::uint8_t value() const { return value_.value_or(0); }

    friend constexpr bool operator==(const MatchPattern&, const MatchPattern&) = default;

private:
    constexpr explicit MatchPattern(std::optional<std::uint8_t> value) : value_(value) {}
    std::optional<std::uint8_t> value_;
};

using MatchPatternList = std::vector<MatchPattern>;

// Yes when one of the patterns matches the data from `offset` on. With a mask,
// a fixed byte b matches a data byte d when (mask[i] AND d) == b. A position
// outside the data never matches.
bool matchPatterns(ByteView data, const std::vector<MatchPatternList>& match, std::int64_t offset,
                   const std::optional<Bytes>& mask = std::nullopt);

// One detection entry. Absent tests are skipped; an entry with no test at all
// never succeeds.
struct FileTypeMatch {
    using Predicate = std::function<bool(ByteView)>;

    FileTypeMatchType type;
    std::optional<std::int64_t> bytesCount;
    std::optional<std::vector<std::string>> matchString;
    std::optional<std::vector<Bytes>> matchBytes;
    std::optional<Predicate> match;

    // Whether the data passes every test of this entry.
    bool matches(ByteView data) const;

    // The detection table, in the order in which entries are tried.
    static const std::vector<FileTypeMatch>& all();
};

}  // namespace ostrelcomm
