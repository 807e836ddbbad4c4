#include "filetype/FormatProbes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Fixtures.h"

namespace ostrelcomm {
namespace {

using namespace filetype_fixtures;

// Runs the ZIP walk and records every header it hands to the predicate.
std::vector<ZipHeader> walk(const Bytes& data) {
    std::vector<ZipHeader> seen;
    matchZipHeader(data, [&seen](const ZipHeader& header) {
        seen.push_back(header);
        return false;
    });
    return seen;
}

TEST(ZipWalk, MimetypeTextOnlyWhenStoredWholeInsideTheData) {
    const Bytes stored = zipArchive({{"mimetype", text("application/epub+zip")}});
    auto seen = walk(stored);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].mimeType, "application/epub+zip");

    seen = walk(zipArchive({{"mimetype", text("application/epub+zip"), 20, 26}}));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].mimeType);

    // The same stored entry cut off inside its text.
    const Bytes cut(stored.begin(), stored.begin() + 30 + 8 + 10);
    seen = walk(cut);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].fileName, "mimetype");
    EXPECT_FALSE(seen[0].mimeType);

    // Only an entry named exactly "mimetype" carries the text.
    seen = walk(zipArchive({{"mimetype.txt", text("application/epub+zip")}}));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].mimeType);
}

TEST(ZipWalk, StreamedEntrySearchesForTheNextHeader) {
    const Bytes data = zipArchive({{"a.bin", Bytes(50, 7), 0, 0}, {"b.txt", text("hello")}});
    const auto seen = walk(data);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].fileName, "b.txt");

    // The next header starts 29 bytes before the end: too late to be read.
    const Bytes lateHeader = cat({zipLocalEntry({"a.bin", Bytes(50, 7), 0, 0}), hex("50 4B 03 04"), Bytes(25, 0)});
    EXPECT_EQ(walk(lateHeader).size(), 1u);
}

TEST(ZipWalk, InvalidNameEndsTheWalk) {
    const Bytes data = cat({zipLocalEntry({"bad\xC0\xAF.txt", text("x")}), zipLocalEntry({"mimetype", text("m")})});
    bool sawMimetype = false;
    EXPECT_FALSE(matchZipHeader(data, [&](const ZipHeader& header) {
        sawMimetype = sawMimetype || header.fileName == "mimetype";
        return header.fileName == "mimetype";
    }));
    EXPECT_FALSE(sawMimetype);

    // A name running past the end of the data ends it too.
    Bytes truncated = zipLocalEntry({"word/document.xml", text("<w/>")});
    truncated.resize(30 + 10 + 1);
    EXPECT_TRUE(walk(truncated).empty());
}

TEST(ZipWalk, PredicateYesEndsTheWalk) {
    const Bytes data = zipArchive({{"one", {}}, {"two", text("2")}, {"three", text("3")}});
    int calls = 0;
    EXPECT_TRUE(matchZipHeader(data, [&](const ZipHeader& header) {
        ++calls;
        return header.fileName == "two";
    }));
    EXPECT_EQ(calls, 2);
}

TEST(OfficeNameTest, FolderSuffixAndPrefixRules) {
    struct Case {
        std::string name;
        std::string folder;
        std::optional<std::string> prefix;
        bool expected;
    };
    const std::vector<Case> cases{
        {"word/document.xml", "word", std::nullopt, true},
        {"word/_rels/document.xml.rels", "word", std::nullopt, true},
        {"/word//styles.xml", "word", std::nullopt, true},
        {"word/media/image1.png", "word", std::nullopt, false},
        {"docProps/word.xml", "word", std::nullopt, false},
        {"xl/a", "xl", "xl/", false},  // four characters: too short even with the prefix
        {"xl/media/image1.png", "xl", "xl/", true},
        {"xl/workbook.xml", "xl", "xl/", true},
        {"ppt/slides/slide1.xml", "ppt", std::nullopt, true},
        {"ppt/slides/slide1.xml", "word", std::nullopt, false},
        {"x.xml", "x.xml", std::nullopt, true},
    };
    for (const auto& c : cases) {
        const auto prefix = c.prefix ? std::optional<std::string_view>(*c.prefix) : std::nullopt;
        EXPECT_EQ(matchMSOffice({c.name, std::nullopt}, c.folder, prefix), c.expected) << c.name;
    }
}

// The walk must end, and read nothing outside the data, whatever the object
// sizes say.
TEST(AsfWalk, FindsStreamTypeAndEndsOnBadSizes) {
    const AsfGuid audio = [] {
        AsfGuid g{};
        std::copy(kAsfAudioMedia.begin(), kAsfAudioMedia.end(), g.begin());
        return g;
    }();
    const Bytes head = asfHeaderObject();
    auto withFirstObjectSize = [&](std::uint64_t size) {
        Bytes d = cat({head, asfObject(kAsfFilePropertiesGuid, Bytes(80, 0), size),
                       asfStreamProperties(kAsfAudioMedia)});
        d.shrink_to_fit();
        return d;
    };

    EXPECT_TRUE(matchAsfHeader(withFirstObjectSize(104), audio));
    EXPECT_FALSE(matchAsfHeader(asfFile(kAsfVideoMedia), audio));

    for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{23}, ~std::uint64_t{0},
                               std::uint64_t{1} << 63, ~std::uint64_t{0} - 29, std::uint64_t{0x7FFFFFFFFFFFFFFF}}) {
        EXPECT_FALSE(matchAsfHeader(withFirstObjectSize(size), audio)) << size;
    }

    // The stream type would lie one to sixteen bytes past the end.
    const Bytes whole = cat({head, asfStreamProperties(kAsfAudioMedia)});
    for (std::size_t cut = 30 + 25; cut < 30 + 40; ++cut) {
        Bytes d(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_FALSE(matchAsfHeader(d, audio)) << cut;
    }
    EXPECT_TRUE(matchAsfHeader(Bytes(whole.begin(), whole.begin() + 30 + 40), audio));

    // Too short to hold even one object after the header.
    EXPECT_FALSE(matchAsfHeader(head, audio));
    EXPECT_FALSE(matchAsfHeader(Bytes(head.begin(), head.begin() + 10), audio));
}

TEST(TarChecksum, UnsignedAndSignedSums) {
    const Bytes highBytes = tarArchive("caf\xC3\xA9.txt", true);
    EXPECT_TRUE(tarHeaderChecksumMatches(highBytes));
    EXPECT_TRUE(tarHeaderChecksumMatches(tarArchive("caf\xC3\xA9.txt", false)));
    EXPECT_TRUE(tarHeaderChecksumMatches(tarArchive("hello.txt", false)));
    EXPECT_FALSE(tarHeaderChecksumMatches(tarArchive("hello.txt", false, -1)));
    EXPECT_FALSE(tarHeaderChecksumMatches(Bytes(highBytes.begin(), highBytes.begin() + 511)));

    Bytes notOctal = tarArchive("hello.txt", false);
    notOctal[150] = '9';
    EXPECT_FALSE(tarHeaderChecksumMatches(notOctal));
}

TEST(ApngWalk, AnimationControlBeforeImageData) {
    EXPECT_TRUE(findAPNG(cat({kPngSignature, pngIhdr(), pngActl(), pngIdat()})));
    EXPECT_FALSE(findAPNG(cat({kPngSignature, pngIhdr(), pngIdat(), pngActl()})));
    EXPECT_FALSE(findAPNG(cat({kPngSignature, pngChunk("IHDR", Bytes(13, 0), 0xFFFFFFFF), pngActl()})));
    // The acTL chunk begins within the last 8 bytes: the walk stops before it.
    const Bytes late = cat({kPngSignature, pngIhdr(), text("acTL")});
    EXPECT_FALSE(findAPNG(late));
    EXPECT_FALSE(findAPNG(kPngSignature));
    EXPECT_FALSE(findAPNG({}));
}

TEST(AsarHeader, JsonObjectWithFiles) {
    EXPECT_TRUE(matchAsarHeader(asarArchive(R"({"files":{}})")));
    EXPECT_TRUE(matchAsarHeader(asarArchive(R"( {"x":[1,2,{"files":1}],"files":{"a":{"size":1}}} )")));
    EXPECT_FALSE(matchAsarHeader(asarArchive(R"({"x":{"files":{}}})")));  // only at the top level
    EXPECT_FALSE(matchAsarHeader(asarArchive(R"(["files"])")));
    EXPECT_FALSE(matchAsarHeader(asarArchive(R"("files")")));
    EXPECT_FALSE(matchAsarHeader(asarArchive(R"({"files":{}} x)")));
    EXPECT_FALSE(matchAsarHeader(asarArchive("")));
    const std::string json = R"({"files":{}})";
    EXPECT_FALSE(matchAsarHeader(asarArchive(json, static_cast<std::uint32_t>(json.size() + 6))));
    EXPECT_FALSE(matchAsarHeader(asarArchive(json, 0xFFFFFFFF)));
    EXPECT_FALSE(matchAsarHeader(Bytes(15, 4)));
}

TEST(MpegSync, FrameAtByteZeroOrOne) {
    struct Case {
        Bytes data;
        std::uint8_t mask;
        std::uint8_t value;
        bool expected;
    };
    const std::vector<Case> cases{
        {hex("FF FB 90"), 0x06, 0x02, true},
        {hex("00 FF F3"), 0x06, 0x02, true},
        {hex("FF FF FB"), 0x06, 0x02, false},
        {hex("FF FF FB"), 0x06, 0x06, true},
        {hex("00 00 FF FB"), 0x06, 0x02, false},
        {hex("FF DF FF FB"), 0x06, 0x02, false},
        {hex("FF F1 50"), 0x16, 0x10, true},
        {hex("FF"), 0x06, 0x06, false},
        {hex("00 FF"), 0x06, 0x06, false},
        {{}, 0x06, 0x06, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matchMPEGHeader(c.data, c.value, c.mask), c.expected)
            << testing::PrintToString(c.data) << " mask " << int(c.mask) << " value " << int(c.value);
    }
}

TEST(LittleEndianReaders, ReadWithinTheDataOnly) {
    const Bytes data = hex("01 02 03 04 05 06 07 88");
    EXPECT_EQ(getInt32LE(data, 0), 0x04030201);
    EXPECT_EQ(getInt32LE(data, 4), 0x88070605);
    EXPECT_EQ(getInt64LE(data, 0), static_cast<std::int64_t>(0x8807060504030201ULL));
    EXPECT_FALSE(getInt32LE(data, 5));
    EXPECT_FALSE(getInt64LE(data, 1));
    EXPECT_FALSE(getInt32LE(data, ~std::size_t{0}));
}

}  // namespace
}  // namespace ostrelcomm
