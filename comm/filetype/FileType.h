#pragma once

// The type of a local file (extension and MIME type) as told by its first
// bytes. Used to label uploads and to pick a preview renderer.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filetype/FileTypeMatch.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

#define OSTRELCOMM_FILE_TYPE_EXTENSIONS(X)                                                         \
    X(aac) X(ac3) X(ai) X(aif) X(ali) X(amr) X(ape) X(apng) X(ar) X(arr) X(arw) X(asar) X(asf)     \
    X(avi) X(avif) X(ble) X(bmp) X(bpg) X(bz2) X(cab) X(cr2) X(cr3) X(crx) X(cur) X(dcm) X(deb)    \
    X(dmg) X(dng) X(docx) X(dsf) X(eot) X(eps) X(epub) X(exe) X(f4a) X(f4b) X(f4p) X(f4v) X(flac)  \
    X(flif) X(flv) X(gif) X(glb) X(gz) X(heic) X(ico) X(ics) X(icns) X(indd) X(it) X(jp2) X(jpg)   \
    X(jpm) X(jpx) X(jxr) X(ktx) X(lnk) X(lz) X(lzh) X(m4a) X(m4b) X(m4p) X(m4v) X(mid) X(mie)      \
    X(mj2) X(mobi) X(mov) X(mp1) X(mp2) X(mp3) X(mp4) X(mpc) X(mpg) X(msi) X(mts) X(mxf) X(nef)    \
    X(nes) X(odp) X(ods) X(odt) X(oga) X(ogg) X(ogm) X(ogv) X(ogx) X(opus) X(orf) X(otf) X(pdf)    \
    X(pgp) X(png) X(pptx) X(ps) X(psd) X(qcp) X(raf) X(rar) X(rpm) X(rtf) X(rw2) X(s3m) X(sevenz)  \
    X(shp) X(skp) X(spx) X(sql) X(swf) X(tar) X(threeg2) X(threegp) X(tif) X(ttf) X(voc) X(wasm)   \
    X(wav) X(wma) X(wmv) X(woff) X(woff2) X(wv) X(xlsx) X(xm) X(xml) X(xpi) X(xz) X(Z) X(zip)

// The extensions that detection can name.
enum class FileTypeExtension {
#define OSTRELCOMM_FT_ENUM_CASE(name) name,
    OSTRELCOMM_FILE_TYPE_EXTENSIONS(OSTRELCOMM_FT_ENUM_CASE)
#undef OSTRELCOMM_FT_ENUM_CASE
};

inline constexpr std::size_t kFileTypeExtensionCount = 0
#define OSTRELCOMM_FT_COUNT_CASE(name) +1
    OSTRELCOMM_FILE_TYPE_EXTENSIONS(OSTRELCOMM_FT_COUNT_CASE)
#undef OSTRELCOMM_FT_COUNT_CASE
    ;

std::string_view name(FileTypeExtension type);

// Every extension, in declaration order.
const std::array<FileTypeExtension, kFileTypeExtensionCount>& allFileTypeExtensions();

struct FileType {
    FileTypeExtension type;
    std::string ext;   // file-name extension without the dot
    std::string mime;

    friend bool operator==(const FileType&, const FileType&) = default;

    // The type named by the first detection entry that claims the data.
    static std::optional<FileType> getFor(ByteView data);
    // The same for the first 100 bytes of a file; nothing when the file
    // cannot be opened or read.
    static std::optional<FileType> getFor(const std::filesystem::path& url);
    // Every row naming this extension (in no particular order).
    static std::vector<FileType> getFor(FileTypeExtension type);

    // How many leading bytes detection of the extension(s) consults.
    static std::int64_t getBytesCountFor(FileTypeExtension type);
    static std::int64_t getBytesCountFor(const std::vector<FileTypeExtension>& types);

    // The number of bytes getFor(url) hands to detection.
    static constexpr std::size_t kFileHeadLength = 100;
};

}  // namespace ostrelcomm
