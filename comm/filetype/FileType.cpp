#include "filetype/FileType.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace ostrelcomm {

std::string_view name(FileTypeExtension type) {
    static constexpr std::array<std::string_view, kFileTypeExtensionCount> names{
#define OSTRELCOMM_FT_NAME_CASE(name) #name,
        OSTRELCOMM_FILE_TYPE_EXTENSIONS(OSTRELCOMM_FT_NAME_CASE)
#undef OSTRELCOMM_FT_NAME_CASE
    };
    return names.at(static_cast<std::size_t>(type));
}

const std::array<FileTypeExtension, kFileTypeExtensionCount>& allFileTypeExtensions() {
    static constexpr std::array<FileTypeExtension, kFileTypeExtensionCount> cases{
#define OSTRELCOMM_FT_LIST_CASE(name) FileTypeExtension::name,
        OSTRELCOMM_FILE_TYPE_EXTENSIONS(OSTRELCOMM_FT_LIST_CASE)
#undef OSTRELCOMM_FT_LIST_CASE
    };
    return cases;
}

namespace {

using K = FileTypeMatchType;
using E = FileTypeExtension;

struct Row {
    FileTypeMatchType key;
    FileType value;
};

// One row per detectable kind. Several kinds share an extension (the HEIF
// family, the MPEG pack-header variants) but keep their own MIME type.
const std::vector<Row>& rows() {
    static const std::vector<Row> table{
        {K::asar, {E::asar, "asar", "application/x-asar"}},
        {K::bmp, {E::bmp, "bmp", "image/bmp"}},
        {K::ac3, {E::ac3, "ac3", "audio/vnd.dolby.dd-raw"}},
        {K::dmg, {E::dmg, "dmg", "application/x-apple-diskimage"}},
        {K::exe, {E::exe, "exe", "application/x-msdownload"}},
        {K::ps, {E::ps, "ps", "application/postscript"}},
        {K::Z, {E::Z, "Z", "application/x-compress"}},
        {K::jpg, {E::jpg, "jpg", "image/jpeg"}},
        {K::jxr, {E::jxr, "jxr", "image/vnd.ms-photo"}},
        {K::gz, {E::gz, "gz", "application/gzip"}},
        {K::bz2, {E::bz2, "bz2", "application/x-bzip2"}},
        {K::mpc, {E::mpc, "mpc", "audio/x-musepack"}},
        {K::gif, {E::gif, "gif", "image/gif"}},
        {K::flif, {E::flif, "flif", "image/flif"}},
        {K::psd, {E::psd, "psd", "image/vnd.adobe.photoshop"}},
        {K::aif, {E::aif, "aif", "audio/aiff"}},
        {K::swf, {E::swf, "swf", "application/x-shockwave-flash"}},
        {K::xpi, {E::xpi, "xpi", "application/x-xpinstall"}},
        {K::docx, {E::docx, "docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"}},
        {K::pptx, {E::pptx, "pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"}},
        {K::xlsx, {E::xlsx, "xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"}},
        {K::epub, {E::epub, "epub", "application/epub+zip"}},
        {K::odt, {E::odt, "odt", "application/vnd.oasis.opendocument.text"}},
        {K::ods, {E::ods, "ods", "application/vnd.oasis.opendocument.spreadsheet"}},
        {K::odp, {E::odp, "odp", "application/vnd.oasis.opendocument.presentation"}},
        {K::zip, {E::zip, "zip", "application/zip"}},
        {K::opus, {E::opus, "opus", "audio/opus"}},
        {K::ogv, {E::ogv, "ogv", "video/ogg"}},
        {K::ogm, {E::ogm, "ogm", "video/ogg"}},
        {K::oga, {E::oga, "oga", "audio/ogg"}},
        {K::spx, {E::spx, "spx", "audio/ogg"}},
        {K::ogg, {E::ogg, "ogg", "audio/ogg"}},
        {K::ogx, {E::ogx, "ogx", "application/ogg"}},
        {K::heif, {E::heic, "heic", "image/heif"}},
        {K::heifSequence, {E::heic, "heic", "image/heif-sequence"}},
        {K::heic, {E::heic, "heic", "image/heic"}},
        {K::heicSequence, {E::heic, "heic", "image/heic-sequence"}},
        {K::mov, {E::mov, "mov", "video/quicktime"}},
        {K::m4v, {E::m4v, "m4v", "video/x-m4v"}},
        {K::m4p, {E::m4p, "m4p", "video/mp4"}},
        {K::m4b, {E::m4b, "m4b", "audio/mp4"}},
        {K::m4a, {E::m4a, "m4a", "audio/x-m4a"}},
        {K::f4v, {E::f4v, "f4v", "video/mp4"}},
        {K::f4p, {E::f4p, "f4p", "video/mp4"}},
        {K::f4a, {E::f4a, "f4a", "audio/mp4"}},
        {K::f4b, {E::f4b, "f4b", "audio/mp4"}},
        {K::cr3, {E::cr3, "cr3", "image/x-canon-cr3"}},
        {K::threeg2, {E::threeg2, "3g2", "video/3gpp2"}},
        {K::threegp, {E::threegp, "3gp", "video/3gpp"}},
        {K::mp4, {E::mp4, "mp4", "video/mp4"}},
        {K::mid, {E::mid, "mid", "audio/midi"}},
        {K::woff, {E::woff, "woff", "font/woff"}},
        {K::woff2, {E::woff2, "woff2", "font/woff2"}},
        {K::dsf, {E::dsf, "dsf", "audio/x-dsf"}},
        {K::lz, {E::lz, "lz", "application/x-lzip"}},
        {K::flac, {E::flac, "flac", "audio/x-flac"}},
        {K::bpg, {E::bpg, "bpg", "image/bpg"}},
        {K::wv, {E::wv, "wv", "audio/wavpack"}},
        {K::ai, {E::ai, "ai", "application/postscript"}},
        {K::pdf, {E::pdf, "pdf", "application/pdf"}},
        {K::wasm, {E::wasm, "wasm", "application/wasm"}},
        {K::cr2, {E::cr2, "cr2", "image/x-canon-cr2"}},
        {K::nef, {E::nef, "nef", "image/x-nikon-nef"}},
        {K::dng, {E::dng, "dng", "image/x-adobe-dng"}},
        {K::arw, {E::arw, "arw", "image/x-sony-arw"}},
        {K::tif, {E::tif, "tif", "image/tiff"}},
        {K::ape, {E::ape, "ape", "audio/ape"}},
        {K::avi, {E::avi, "avi", "video/vnd.avi"}},
        {K::wav, {E::wav, "wav", "audio/vnd.wave"}},
        {K::qcp, {E::qcp, "qcp", "audio/qcelp"}},
        {K::sql, {E::sql, "sqlite", "application/x-sqlite3"}},
        {K::nes, {E::nes, "nes", "application/x-nintendo-nes-rom"}},
        {K::crx, {E::crx, "crx", "application/x-google-chrome-extension"}},
        {K::cab, {E::cab, "cab", "application/vnd.ms-cab-compressed"}},
        {K::rpm, {E::rpm, "rpm", "application/x-rpm"}},
        {K::otf, {E::otf, "otf", "font/otf"}},
        {K::amr, {E::amr, "amr", "audio/amr"}},
        {K::rtf, {E::rtf, "rtf", "application/rtf"}},
        {K::flv, {E::flv, "flv", "video/x-flv"}},
        {K::it, {E::it, "it", "audio/x-it"}},
        {K::mp1s, {E::mpg, "mpg", "video/MP1S"}},
        {K::mp2p, {E::mpg, "mpg", "video/MP2P"}},
        {K::xz, {E::xz, "xz", "application/x-xz"}},
        {K::xml, {E::xml, "xml", "application/xml"}},
        {K::ics, {E::ics, "ics", "text/calendar"}},
        {K::sevenz, {E::sevenz, "7z", "application/x-7z-compressed"}},
        {K::rar, {E::rar, "rar", "application/x-rar-compressed"}},
        {K::ble, {E::ble, "blend", "application/x-blender"}},
        {K::deb, {E::deb, "deb", "application/x-deb"}},
        {K::ar, {E::ar, "ar", "application/x-unix-archive"}},
        {K::apng, {E::apng, "apng", "image/apng"}},
        {K::png, {E::png, "png", "image/png"}},
        {K::arr, {E::arr, "arrow", "application/x-apache-arrow"}},
        {K::glb, {E::glb, "glb", "model/gltf-binary"}},
        {K::orf, {E::orf, "orf", "image/x-olympus-orf"}},
        {K::rw2, {E::rw2, "rw2", "image/x-panasonic-rw2"}},
        {K::wma, {E::wma, "wma", "audio/x-ms-wma"}},
        {K::wmv, {E::wmv, "wmv", "video/x-ms-asf"}},
        {K::asf, {E::asf, "asf", "application/vnd.ms-asf"}},
        {K::ktx, {E::ktx, "ktx", "image/ktx"}},
        {K::mie, {E::mie, "mie", "application/x-mie"}},
        {K::shp, {E::shp, "shp", "application/x-esri-shape"}},
        {K::jp2, {E::jp2, "jp2", "image/jp2"}},
        {K::jpx, {E::jpx, "jpx", "image/jpx"}},
        {K::jpm, {E::jpm, "jpm", "image/jpm"}},
        {K::mj2, {E::mj2, "mj2", "image/mj2"}},
        {K::mpg, {E::mpg, "mpg", "video/mpeg"}},
        {K::ttf, {E::ttf, "ttf", "font/ttf"}},
        {K::ico, {E::ico, "ico", "image/x-icon"}},
        {K::icns, {E::icns, "icns", "image/icns"}},
        {K::cur, {E::cur, "cur", "image/x-icon"}},
        {K::raf, {E::raf, "raf", "image/x-fujifilm-raf"}},
        {K::xm, {E::xm, "xm", "audio/x-xm"}},
        {K::voc, {E::voc, "voc", "audio/x-voc"}},
        {K::msi, {E::msi, "msi", "application/x-msi"}},
        {K::mxf, {E::mxf, "mxf", "application/mxf"}},
        {K::s3m, {E::s3m, "s3m", "audio/x-s3m"}},
        {K::mts, {E::mts, "mts", "video/mp2t"}},
        {K::mobi, {E::mobi, "mobi", "application/x-mobipocket-ebook"}},
        {K::dcm, {E::dcm, "dcm", "application/dicom"}},
        {K::lnk, {E::lnk, "lnk", "application/x.ms.shortcut"}},
        {K::ali, {E::ali, "alias", "application/x.apple.alias"}},
        {K::eot, {E::eot, "eot", "application/vnd.ms-fontobject"}},
        {K::tar, {E::tar, "tar", "application/x-tar"}},
        {K::aac, {E::aac, "aac", "audio/aac"}},
        {K::mp2, {E::mp2, "mp2", "audio/mpeg"}},
        {K::mp1, {E::mp1, "mp1", "audio/mpeg"}},
        {K::mp3, {E::mp3, "mp3", "audio/mpeg"}},
        {K::pgp, {E::pgp, "pgp", "application/pgp-encrypted"}},
        {K::lzh, {E::lzh, "lzh", "application/x-lzh-compressed"}},
        {K::skp, {E::skp, "skp", "application/vnd.sketchup.skp"}},
        {K::avif, {E::avif, "avif", "image/avif"}},
        {K::eps, {E::eps, "eps", "application/eps"}},
        {K::indd, {E::indd, "indd", "application/x-indesign"}},
    };
    return table;
}

// The rows indexed by kind, for constant-time lookup after detection.
const std::array<std::optional<FileType>, kFileTypeMatchTypeCount>& rowsByKind() {
    static const auto byKind = [] {
        std::array<std::optional<FileType>, kFileTypeMatchTypeCount> index;
        for (const auto& row : rows()) index.at(static_cast<std::size_t>(row.key)) = row.value;
        return index;
    }();
    return byKind;
}

// The extension a kind is reported under, when the kind has a row.
std::optional<FileTypeExtension> extensionOf(FileTypeMatchType kind) {
    const auto& row = rowsByKind().at(static_cast<std::size_t>(kind));
    if (!row) return std::nullopt;
    return row->type;
}

std::int64_t bytesConsulted(const FileTypeMatch& entry) {
    std::int64_t count = entry.bytesCount.value_or(0);
    if (entry.matchBytes) {
        for (const auto& bytes : *entry.matchBytes) count = std::max<std::int64_t>(count, bytes.size());
    }
    if (entry.matchString) {
        // The strings of the table are ASCII: characters and bytes agree.
        for (const auto& text : *entry.matchString) count = std::max<std::int64_t>(count, text.size());
    }
    return count;
}

template <typename Selects>
std::int64_t bytesCountWhere(Selects selects) {
    std::int64_t count = 0;
    for (const auto& entry : FileTypeMatch::all()) {
        const auto extension = extensionOf(entry.type);
        if (extension && selects(*extension)) count = std::max(count, bytesConsulted(entry));
    }
    return count;
}

}  // namespace

std::optional<FileType> FileType::getFor(ByteView data) {
    for (const auto& entry : FileTypeMatch::all()) {
        if (entry.matches(data)) return rowsByKind().at(static_cast<std::size_t>(entry.type));
    }
    return std::nullopt;
}

std::optional<FileType> FileType::getFor(const std::filesystem::path& url) {
    // Non-blocking, so that a FIFO or terminal named by mistake cannot stall
    // the caller; a regular file reads the same either way.
    const int fd = ::open(url.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;

    Bytes head(kFileHeadLength);
    std::size_t filled = 0;
    bool failed = false;
    while (filled < head.size()) {
        const ssize_t got = ::read(fd, head.data() + filled, head.size() - filled);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else if (errno != EINTR) {
            failed = true;
            break;
        }
    }
    ::close(fd);
    if (failed) return std::nullopt;
    head.resize(filled);
    return getFor(ByteView(head));
}

std::vector<FileType> FileType::getFor(FileTypeExtension type) {
    std::vector<FileType> found;
    for (const auto& row : rows()) {
        if (row.value.type == type) found.push_back(row.value);
    }
    return found;
}

std::int64_t FileType::getBytesCountFor(FileTypeExtension type) {
    return bytesCountWhere([type](FileTypeExtension extension) { return extension == type; });
}

std::int64_t FileType::getBytesCountFor(const std::vector<FileTypeExtension>& types) {
    return bytesCountWhere([&types](FileTypeExtension extension) {
        return std::find(types.begin(), types.end(), extension) != types.end();
    });
}

}  // namespace ostrelcomm
