#include "filetype/FileType.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Fixtures.h"

namespace ostrelcomm {
namespace {

using namespace filetype_fixtures;

struct Expected {
    std::string ext;
    std::string mime;
};

struct DetectionCase {
    std::string label;
    Bytes data;
    std::optional<Expected> expected;  // nothing: no entry may claim the data
};

void PrintTo(const DetectionCase& c, std::ostream* os) { *os << c.label; }

std::vector<DetectionCase> zipCases() {
    const Bytes xml = text("<?xml version=\"1.0\"?><a/>");
    return {
        {"zip_epub", zipArchive({{"mimetype", text("application/epub+zip")}, {"OEBPS/content.opf", xml}}),
         Expected{"epub", "application/epub+zip"}},
        {"zip_odt", zipArchive({{"mimetype", text("application/vnd.oasis.opendocument.text")}, {"content.xml", xml}}),
         Expected{"odt", "application/vnd.oasis.opendocument.text"}},
        {"zip_ods",
         zipArchive({{"mimetype", text("application/vnd.oasis.opendocument.spreadsheet")}, {"content.xml", xml}}),
         Expected{"ods", "application/vnd.oasis.opendocument.spreadsheet"}},
        {"zip_odp",
         zipArchive({{"mimetype", text("application/vnd.oasis.opendocument.presentation")}, {"content.xml", xml}}),
         Expected{"odp", "application/vnd.oasis.opendocument.presentation"}},
        // A mimetype entry that is stored compressed carries no readable text.
        {"zip_mimetype_compressed",
         zipArchive({{"mimetype", text("application/epub+zip"), 20, 40}, {"OEBPS/content.opf", xml}}),
         Expected{"zip", "application/zip"}},
        {"zip_xpi", zipArchive({{"install.rdf", xml}, {"META-INF/mozilla.rsa", Bytes(40, 0x30)}}),
         Expected{"xpi", "application/x-xpinstall"}},
        {"zip_docx",
         zipArchive({{"[Content_Types].xml", xml}, {"_rels/.rels", xml}, {"word/document.xml", xml}}),
         Expected{"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"}},
        {"zip_pptx", zipArchive({{"[Content_Types].xml", xml}, {"ppt/_rels/presentation.xml.rels", xml}}),
         Expected{"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"}},
        {"zip_xlsx_by_prefix", zipArchive({{"[Content_Types].xml", xml}, {"xl/media/image1.png", Bytes(30, 1)}}),
         Expected{"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"}},
        {"zip_xlsx_workbook", zipArchive({{"xl/workbook.xml", xml}}),
         Expected{"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"}},
        // Outside the xl folder only .xml and .rels names count.
        {"zip_word_image_only", zipArchive({{"word/media/image1.png", Bytes(30, 1)}}),
         Expected{"zip", "application/zip"}},
        // A streamed first entry: the walk has to find the next header itself.
        {"zip_docx_after_streamed_entry",
         zipArchive({{"[Content_Types].xml", xml, 0, 0}, {"word/document.xml", xml}}),
         Expected{"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"}},
        // Both the extension signature and a word folder: the earlier entry wins.
        {"zip_xpi_before_docx", zipArchive({{"word/document.xml", xml}, {"META-INF/mozilla.rsa", xml}}),
         Expected{"xpi", "application/x-xpinstall"}},
        {"zip_plain", zipArchive({{"notes.txt", text("hello")}}), Expected{"zip", "application/zip"}},
        {"zip_empty_archive", cat({hex("50 4B 05 06"), Bytes(18, 0)}), Expected{"zip", "application/zip"}},
    };
}

std::vector<DetectionCase> oggCases() {
    return {
        {"ogg_opus", oggPage(cat({text("OpusHead"), hex("01 02 38 01 80 BB 00 00")})), Expected{"opus", "audio/opus"}},
        {"ogg_theora", oggPage(cat({hex("80"), text("theora"), hex("03 02 01")})), Expected{"ogv", "video/ogg"}},
        {"ogg_ogm_video", oggPage(cat({hex("01"), text("video"), hex("00 00 00")})), Expected{"ogm", "video/ogg"}},
        {"ogg_flac", oggPage(cat({hex("7F"), text("FLAC"), hex("01 00")})), Expected{"oga", "audio/ogg"}},
        {"ogg_speex", oggPage(cat({text("Speex   1.2")})), Expected{"spx", "audio/ogg"}},
        {"ogg_vorbis", oggPage(cat({hex("01"), text("vorbis"), hex("00 00 00 00")})), Expected{"ogg", "audio/ogg"}},
        {"ogg_other", oggPage(text("fishead\0")), Expected{"ogx", "application/ogg"}},
    };
}

std::vector<DetectionCase> isoMediaCases() {
    return {
        {"bmff_avif", ftyp("avif"), Expected{"avif", "image/avif"}},
        {"bmff_mif1", ftyp("mif1"), Expected{"heic", "image/heif"}},
        {"bmff_msf1", ftyp("msf1"), Expected{"heic", "image/heif-sequence"}},
        {"bmff_heic", ftyp("heic"), Expected{"heic", "image/heic"}},
        {"bmff_heix", ftyp("heix"), Expected{"heic", "image/heic"}},
        {"bmff_hevc", ftyp("hevc"), Expected{"heic", "image/heic-sequence"}},
        {"bmff_qt", ftyp("qt  "), Expected{"mov", "video/quicktime"}},
        {"bmff_m4v", ftyp("M4V "), Expected{"m4v", "video/x-m4v"}},
        {"bmff_m4vh", ftyp("M4VH"), Expected{"m4v", "video/x-m4v"}},
        {"bmff_m4p", ftyp("M4P "), Expected{"m4p", "video/mp4"}},
        {"bmff_m4b", ftyp("M4B "), Expected{"m4b", "audio/mp4"}},
        {"bmff_m4a", ftyp("M4A "), Expected{"m4a", "audio/x-m4a"}},
        {"bmff_f4v", ftyp("F4V "), Expected{"f4v", "video/mp4"}},
        {"bmff_f4p", ftyp("F4P "), Expected{"f4p", "video/mp4"}},
        {"bmff_f4a", ftyp("F4A "), Expected{"f4a", "audio/mp4"}},
        {"bmff_f4b", ftyp("F4B "), Expected{"f4b", "audio/mp4"}},
        {"bmff_cr3", ftyp("crx "), Expected{"cr3", "image/x-canon-cr3"}},
        {"bmff_3g2", ftyp("3g2a"), Expected{"3g2", "video/3gpp2"}},
        {"bmff_3gp", ftyp("3gp4"), Expected{"3gp", "video/3gpp"}},
        {"bmff_isom", ftyp("isom"), Expected{"mp4", "video/mp4"}},
        {"bmff_moov_first", cat({be(108, 4), text("moov"), Bytes(20, 0)}), Expected{"mov", "video/quicktime"}},
        {"bmff_mdat_first", cat({be(8, 4), text("mdat"), Bytes(20, 0)}), Expected{"mov", "video/quicktime"}},
    };
}

std::vector<DetectionCase> tiffCases() {
    const Bytes ii = hex("49 49 2A 00");
    return {
        {"tiff_little_endian", padTo(cat({ii, le(8, 4), le(12, 2)}), 64), Expected{"tif", "image/tiff"}},
        {"tiff_big_endian", padTo(cat({hex("4D 4D 00 2A"), be(8, 4)}), 64), Expected{"tif", "image/tiff"}},
        {"raw_cr2", padTo(cat({ii, le(16, 4), text("CR"), hex("02 00")}), 64), Expected{"cr2", "image/x-canon-cr2"}},
        // One byte short of the Canon marker's second byte.
        {"raw_cr2_truncated", cat({ii, le(16, 4), text("C")}), Expected{"tif", "image/tiff"}},
        {"raw_nef", padTo(cat({ii, le(8, 4), hex("1C 00 FE 00 04 00")}), 64), Expected{"nef", "image/x-nikon-nef"}},
        {"raw_nef_alt", padTo(cat({ii, le(8, 4), hex("1F 00 0B 00 04 00")}), 64), Expected{"nef", "image/x-nikon-nef"}},
        {"raw_dng", padTo(cat({ii, le(8, 4), hex("2D 00 FE 00 04 00")}), 64), Expected{"dng", "image/x-adobe-dng"}},
        {"raw_arw",
         padTo(cat({ii, le(8, 4), hex("12 00 FE 00 04 00 01 00 00 00 01 00 00 00 03 01")}), 64),
         Expected{"arw", "image/x-sony-arw"}},
        {"raw_arw_alt",
         padTo(cat({ii, hex("10 FB 86 01 13 00 FE 00 04 00 01 00 00 00 01 00 00 00 03 01")}), 64),
         Expected{"arw", "image/x-sony-arw"}},
        {"raw_orf", padTo(hex("49 49 52 4F 08 00 00 00 18 00"), 64), Expected{"orf", "image/x-olympus-orf"}},
        {"raw_rw2", padTo(hex("49 49 55 00 18 00 00 00 88 E7 74 D8 00"), 64), Expected{"rw2", "image/x-panasonic-rw2"}},
    };
}

std::vector<DetectionCase> riffCases() {
    auto riff = [](std::string_view form) { return padTo(cat({text("RIFF"), le(1000, 4), text(form)}), 44); };
    return {
        {"riff_avi", riff("AVI "), Expected{"avi", "video/vnd.avi"}},
        {"riff_wave", riff("WAVE"), Expected{"wav", "audio/vnd.wave"}},
        {"riff_qlcm", riff("QLCM"), Expected{"qcp", "audio/qcelp"}},
        {"riff_unknown_form", riff("WEBP"), std::nullopt},
    };
}

std::vector<DetectionCase> asfCases() {
    const Expected asf{"asf", "application/vnd.ms-asf"};
    const Bytes head = asfHeaderObject();
    return {
        {"asf_audio", asfFile(kAsfAudioMedia), Expected{"wma", "audio/x-ms-wma"}},
        {"asf_video", asfFile(kAsfVideoMedia), Expected{"wmv", "video/x-ms-asf"}},
        {"asf_command_stream", asfFile(kAsfCommandMedia), asf},
        // The stream entries need 1024 bytes.
        {"asf_audio_1023_bytes", asfFile(kAsfAudioMedia, 1023), asf},
        // Objects whose size cannot move the walk on, or moves it past any
        // possible data, end it; so does a stream type beyond the data.
        {"asf_object_size_zero",
         padTo(cat({head, asfObject(kAsfFilePropertiesGuid, Bytes(80, 0), 0), asfStreamProperties(kAsfAudioMedia)}), 1024),
         asf},
        {"asf_object_size_23",
         padTo(cat({head, asfObject(kAsfFilePropertiesGuid, Bytes(80, 0), 23), asfStreamProperties(kAsfAudioMedia)}), 1024),
         asf},
        {"asf_object_size_wraps",
         padTo(cat({head, asfObject(kAsfFilePropertiesGuid, Bytes(80, 0), ~std::uint64_t{0} - 5),
                    asfStreamProperties(kAsfAudioMedia)}),
               1024),
         asf},
        {"asf_object_size_past_any_data",
         padTo(cat({head, asfObject(kAsfFilePropertiesGuid, Bytes(80, 0), 0x7FFFFFFFFFFFFFF0),
                    asfStreamProperties(kAsfAudioMedia)}),
               1024),
         asf},
        // The stream properties object begins 34 bytes before the end: its
        // identifier and size are there, its stream type is not.
        {"asf_stream_type_past_end",
         cat({head, asfObject(kAsfFilePropertiesGuid, Bytes(960 - 24, 0)), kAsfStreamPropertiesGuid, le(78, 8),
              Bytes(10, 0x40)}),
         asf},
    };
}

std::vector<DetectionCase> tarCases() {
    auto first511 = [](const Bytes& data) { return Bytes(data.begin(), data.begin() + 511); };
    return {
        {"tar_unsigned_checksum", tarArchive("hello.txt", false), Expected{"tar", "application/x-tar"}},
        {"tar_signed_checksum", tarArchive("caf\xC3\xA9.txt", true), Expected{"tar", "application/x-tar"}},
        {"tar_unsigned_sum_with_high_bytes", tarArchive("caf\xC3\xA9.txt", false), Expected{"tar", "application/x-tar"}},
        {"tar_bad_checksum", tarArchive("hello.txt", false, 1), std::nullopt},
        {"tar_header_only_511_bytes", first511(tarArchive("hello.txt", false)), std::nullopt},
    };
}

std::vector<DetectionCase> pngCases() {
    return {
        {"png_animated", cat({kPngSignature, pngIhdr(), pngActl(), pngIdat(), pngIend()}), Expected{"apng", "image/apng"}},
        {"png_idat_before_actl", cat({kPngSignature, pngIhdr(), pngIdat(), pngActl(), pngIend()}),
         Expected{"png", "image/png"}},
        {"png_chunk_runs_past_data", cat({kPngSignature, pngChunk("IHDR", Bytes(13, 0), 5000), pngActl()}),
         Expected{"png", "image/png"}},
        {"png_still", cat({kPngSignature, pngIhdr(), pngIdat(), pngIend()}), Expected{"png", "image/png"}},
    };
}

std::vector<DetectionCase> asarCases() {
    return {
        {"asar_files", asarArchive(R"({"files":{"main.js":{"size":5,"offset":"0"}}})"),
         Expected{"asar", "application/x-asar"}},
        {"asar_no_files_key", asarArchive(R"({"folders":{}})"), std::nullopt},
        {"asar_json_list", asarArchive(R"([{"files":{}}])"), std::nullopt},
        {"asar_length_past_data", asarArchive(R"({"files":{}})", 4096), std::nullopt},
        {"asar_not_json", asarArchive(R"({"files":})"), std::nullopt},
    };
}

std::vector<DetectionCase> mpegCases() {
    const Expected mp3{"mp3", "audio/mpeg"};
    const Expected mpg{"mpg", "video/mpeg"};
    return {
        {"mpeg_sync_at_0_layer3", padTo(hex("FF FB 90 64"), 18), mp3},
        {"mpeg_sync_at_1_layer3", padTo(hex("00 FF F3 90"), 18), mp3},
        // FF FF counts as a frame at byte 0; its layer bits say layer I.
        {"mpeg_sync_ff_ff_fb", padTo(hex("FF FF FB"), 18), Expected{"mp1", "audio/mpeg"}},
        {"mpeg_adts", padTo(hex("FF F1 50 80"), 18), Expected{"aac", "audio/aac"}},
        {"mpeg_layer2", padTo(hex("FF FD 90 64"), 18), Expected{"mp2", "audio/mpeg"}},
        {"mpeg_sync_at_2", padTo(hex("00 00 FF FB"), 18), std::nullopt},
        {"mpeg_17_bytes", padTo(hex("FF FB 90 64"), 17), std::nullopt},
        {"mpeg_id3", cat({text("ID3"), hex("04 00 00 00 00 00 00")}), mp3},
        {"mpeg_pack_mpeg2", padTo(hex("00 00 01 BA 44 00 04 00"), 16), mpg},
        {"mpeg_pack_mpeg1", padTo(hex("00 00 01 BA 21 00 01 00"), 16), mpg},
        {"mpeg_pack_other", padTo(hex("00 00 01 BA 00"), 16), mpg},
        {"mpeg_sequence_header", padTo(hex("00 00 01 B3 16 00 F0"), 16), mpg},
    };
}

std::vector<DetectionCase> otherCases() {
    Bytes illustrator = padTo(text("%PDF-1.5\n"), 1200, ' ');
    illustrator = cat({illustrator, text("<xmp:CreatorTool>Adobe Illustrator 27.0</xmp:CreatorTool>")});
    Bytes lateMark = padTo(text("%PDF-1.5\n"), 1340, ' ');
    lateMark = cat({lateMark, text("Adobe Illustrator")});
    return {
        {"empty", {}, std::nullopt},
        {"jpeg", padTo(hex("FF D8 FF E0 00 10 4A 46 49 46 00"), 32), Expected{"jpg", "image/jpeg"}},
        {"pdf", cat({text("%PDF-1.7\n%"), hex("E2 E3 CF D3")}), Expected{"pdf", "application/pdf"}},
        {"pdf_illustrator", illustrator, Expected{"ai", "application/postscript"}},
        // The mark straddles byte 1350: only its start lies inside the window.
        {"pdf_mark_past_window", lateMark, Expected{"pdf", "application/pdf"}},
        {"eps_header", text("%!PS-Adobe-3.0 EPSF-3.0\n"), Expected{"eps", "application/eps"}},
        {"postscript", text("%!PS-Adobe-3.0\n%%Title: x\n"), Expected{"ps", "application/postscript"}},
        {"sqlite", text("SQLite format 3\0"), Expected{"sqlite", "application/x-sqlite3"}},
        {"sevenz", padTo(hex("37 7A BC AF 27 1C 00 04"), 32), Expected{"7z", "application/x-7z-compressed"}},
        {"blender", text("BLENDER-v293RENDH"), Expected{"blend", "application/x-blender"}},
        {"arrow", padTo(hex("41 52 52 4F 57 31 00 00"), 16), Expected{"arrow", "application/x-apache-arrow"}},
        {"alias", padTo(hex("62 6F 6F 6B 00 00 00 00 6D 61 72 6B 00 00 00 00"), 32),
         Expected{"alias", "application/x.apple.alias"}},
        {"deb", text("!<arch>\ndebian-binary   1342943816  0     0     100644  4         `\n2.0\n"),
         Expected{"deb", "application/x-deb"}},
        {"ar", text("!<arch>\nlibfoo.o/       0           0     0     644     4         `\n"),
         Expected{"ar", "application/x-unix-archive"}},
    };
}

std::vector<DetectionCase> allCases() {
    std::vector<DetectionCase> cases;
    for (auto family : {zipCases, oggCases, isoMediaCases, tiffCases, riffCases, asfCases, tarCases, pngCases,
                        asarCases, mpegCases, otherCases}) {
        for (auto& c : family()) {
            // Exact-size copies, so a read one past the end hits the allocator's red zone.
            c.data.shrink_to_fit();
            cases.push_back(std::move(c));
        }
    }
    return cases;
}

class DetectionTest : public ::testing::TestWithParam<DetectionCase> {};

TEST_P(DetectionTest, NamesExtensionAndMimeType) {
    const auto& c = GetParam();
    const auto found = FileType::getFor(ByteView(c.data));
    if (!c.expected) {
        EXPECT_FALSE(found) << "claimed as " << found->ext << " / " << found->mime;
        return;
    }
    ASSERT_TRUE(found) << "no type detected";
    EXPECT_EQ(found->ext, c.expected->ext);
    EXPECT_EQ(found->mime, c.expected->mime);
}

INSTANTIATE_TEST_SUITE_P(Families, DetectionTest, ::testing::ValuesIn(allCases()),
                         [](const auto& info) { return info.param.label; });

TEST(FileTypeRecord, TypeCarriesTheExtensionCaseOfTheRow) {
    const auto heif = FileType::getFor(ByteView(hex("00 00 00 18 66 74 79 70 6D 69 66 31")));
    ASSERT_TRUE(heif);
    EXPECT_EQ(heif->type, FileTypeExtension::heic);

    const auto sqlite = FileType::getFor(asBytes("SQLite format 3"));
    ASSERT_TRUE(sqlite);
    EXPECT_EQ(sqlite->type, FileTypeExtension::sql);

    const auto program = FileType::getFor(ByteView(hex("00 00 01 BA 44 00 04 00")));
    ASSERT_TRUE(program);
    EXPECT_EQ(*program, (FileType{FileTypeExtension::mpg, "mpg", "video/mpeg"}));
}

// ---- reading from files ------------------------------------------------------

class FileTypeFromFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "filetype-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path write(const std::string& name, const Bytes& data) {
        const auto path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return path;
    }
    std::filesystem::path dir_;
};

TEST_F(FileTypeFromFile, UnreadableOrEmptyGivesNothing) {
    EXPECT_FALSE(FileType::getFor(dir_ / "missing.bin"));
    EXPECT_FALSE(FileType::getFor(write("empty.bin", {})));
    EXPECT_FALSE(FileType::getFor(dir_));
}

TEST_F(FileTypeFromFile, DetectsFromTheHeadOfTheFile) {
    const auto jpeg = FileType::getFor(write("photo", padTo(hex("FF D8 FF E1 00 10"), 5000)));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(*jpeg, (FileType{FileTypeExtension::jpg, "jpg", "image/jpeg"}));

    const auto epub = FileType::getFor(
        write("book", zipArchive({{"mimetype", text("application/epub+zip")}, {"META-INF/container.xml", Bytes(900, 1)}})));
    ASSERT_TRUE(epub);
    EXPECT_EQ(epub->ext, "epub");
}

// Each file below is told apart only by bytes after the first 100; detection
// from the file must answer as for its first 100 bytes alone.
TEST_F(FileTypeFromFile, NeverLooksPastTheFirstHundredBytes) {
    const Bytes docx = zipArchive({{"[Content_Types].xml", Bytes(120, ' ')}, {"word/document.xml", text("<w/>")}});
    ASSERT_EQ(FileType::getFor(ByteView(docx))->ext, "docx");
    const auto fromFile = FileType::getFor(write("report.docx", docx));
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(fromFile->ext, "zip");
    EXPECT_EQ(fromFile->mime, "application/zip");

    const Bytes tar = tarArchive("hello.txt", false);
    ASSERT_EQ(FileType::getFor(ByteView(tar))->ext, "tar");
    EXPECT_FALSE(FileType::getFor(write("archive.tar", tar)));

    const Bytes illustrator = cat({padTo(text("%PDF-1.4\n"), 100, ' '), text("Adobe Illustrator")});
    ASSERT_EQ(FileType::getFor(ByteView(illustrator))->ext, "ai");
    EXPECT_EQ(FileType::getFor(write("drawing.pdf", illustrator))->ext, "pdf");

    const Bytes wma = asfFile(kAsfAudioMedia);
    ASSERT_EQ(FileType::getFor(ByteView(wma))->ext, "wma");
    EXPECT_EQ(FileType::getFor(write("song.wma", wma))->ext, "asf");

}

// ---- table queries -------------------------------------------------------------

TEST(FileTypeBytesCount, PerExtension) {
    const std::vector<std::pair<FileTypeExtension, std::int64_t>> cases{
        {FileTypeExtension::tar, 512}, {FileTypeExtension::wma, 1024}, {FileTypeExtension::mp3, 18},
        {FileTypeExtension::eps, 20},  {FileTypeExtension::mov, 10},   {FileTypeExtension::mpg, 5},
        {FileTypeExtension::heic, 12}, {FileTypeExtension::docx, 4},   {FileTypeExtension::pdf, 4},
        {FileTypeExtension::ai, 4},    {FileTypeExtension::mts, 197},  {FileTypeExtension::skp, 32},
        {FileTypeExtension::pgp, 27},  {FileTypeExtension::rtf, 5},    {FileTypeExtension::zip, 4},
    };
    for (const auto& [type, expected] : cases) {
        EXPECT_EQ(FileType::getBytesCountFor(type), expected) << name(type);
    }
}

TEST(FileTypeBytesCount, EveryExtensionHasAnEntry) {
    for (auto type : allFileTypeExtensions()) EXPECT_GT(FileType::getBytesCountFor(type), 0) << name(type);
}

TEST(FileTypeBytesCount, SeveralExtensionsTakeTheLargest) {
    EXPECT_EQ(FileType::getBytesCountFor(std::vector<FileTypeExtension>{}), 0);
    EXPECT_EQ(FileType::getBytesCountFor({FileTypeExtension::mp3, FileTypeExtension::pdf}), 18);
    EXPECT_EQ(FileType::getBytesCountFor({FileTypeExtension::jpg, FileTypeExtension::tar, FileTypeExtension::wma}),
              1024);
}

TEST(FileTypeRows, ByExtension) {
    auto mimes = [](FileTypeExtension type) {
        std::vector<std::string> found;
        for (const auto& row : FileType::getFor(type)) {
            EXPECT_EQ(row.type, type);
            found.push_back(row.mime);
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(mimes(FileTypeExtension::heic),
              (std::vector<std::string>{"image/heic", "image/heic-sequence", "image/heif", "image/heif-sequence"}));
    EXPECT_EQ(mimes(FileTypeExtension::mpg), (std::vector<std::string>{"video/MP1S", "video/MP2P", "video/mpeg"}));
    EXPECT_EQ(mimes(FileTypeExtension::threegp), (std::vector<std::string>{"video/3gpp"}));

    // One row per detectable kind: 134 in all, at least one per extension.
    std::size_t rows = 0;
    for (auto type : allFileTypeExtensions()) {
        const auto found = FileType::getFor(type);
        EXPECT_FALSE(found.empty()) << name(type);
        rows += found.size();
    }
    EXPECT_EQ(rows, 134u);
    EXPECT_EQ(allFileTypeExtensions().size(), 129u);
}

}  // namespace
}  // namespace ostrelcomm
