#include "filetype/FileTypeMatch.h"

#include <gtest/gtest.h>

#include <vector>

#include "Fixtures.h"

namespace ostrelcomm {
namespace {

using namespace filetype_fixtures;

const MatchPattern any = MatchPattern::any();
MatchPattern b(std::uint8_t value) { return MatchPattern::byte(value); }

TEST(MatchPatterns, OffsetsWildcardsAndMasks) {
    const Bytes data = hex("10 20 30 47 50");
    EXPECT_TRUE(matchPatterns(data, {{b(0x20), any, b(0x47)}}, 1));
    EXPECT_FALSE(matchPatterns(data, {{b(0x20), any, b(0x48)}}, 1));
    // The first pattern fails, the second matches.
    EXPECT_TRUE(matchPatterns(data, {{b(0x11)}, {b(0x10), b(0x20)}}, 0));
    EXPECT_FALSE(matchPatterns(data, {}, 0));
    EXPECT_TRUE(matchPatterns(data, {{}}, 0));
    // Masked: 0x47 AND 0xF0 = 0x40; the pattern byte itself is not masked.
    EXPECT_TRUE(matchPatterns(data, {{b(0x40)}}, 3, Bytes{0xF0}));
    EXPECT_FALSE(matchPatterns(data, {{b(0x4F)}}, 3, Bytes{0xF0}));
    // Outside the data nothing matches, and nothing is read.
    EXPECT_FALSE(matchPatterns(data, {{b(0x50), b(0x00)}}, 4));
    EXPECT_FALSE(matchPatterns(data, {{b(0x10)}}, -1));
    EXPECT_FALSE(matchPatterns(data, {{b(0x00)}}, 1000));
}

TEST(FileTypeMatchEntry, RuleForOneEntry) {
    const FileTypeMatch strings{FileTypeMatchType::mpc, std::nullopt, std::vector<std::string>{"MP+", "MPCK"},
                                std::nullopt, std::nullopt};
    EXPECT_TRUE(strings.matches(asBytes("MPCK....")));
    EXPECT_FALSE(strings.matches(asBytes("MP")));

    const FileTypeMatch emptyList{FileTypeMatchType::zip, std::nullopt, std::nullopt, std::vector<Bytes>{},
                                  [](ByteView) { return true; }};
    EXPECT_FALSE(emptyList.matches(asBytes("PK")));

    const FileTypeMatch noTests{FileTypeMatchType::zip, 0, std::nullopt, std::nullopt, std::nullopt};
    EXPECT_FALSE(noTests.matches(asBytes("anything")));

    const FileTypeMatch needsFour{FileTypeMatchType::mp4, 4, std::nullopt, std::nullopt,
                                  [](ByteView) { return true; }};
    EXPECT_FALSE(needsFour.matches(asBytes("abc")));
    EXPECT_TRUE(needsFour.matches(asBytes("abcd")));

    const FileTypeMatch prefixThenTest{FileTypeMatchType::ai, std::nullopt, std::vector<std::string>{"%PDF"},
                                       std::nullopt, [](ByteView data) { return data.size() > 10; }};
    EXPECT_FALSE(prefixThenTest.matches(asBytes("%PDF-1.4")));
    EXPECT_TRUE(prefixThenTest.matches(asBytes("%PDF-1.4\n%abc")));
    EXPECT_FALSE(prefixThenTest.matches(asBytes("xPDF-1.4\n%abc")));
}

// Where formats share a prefix, the more specific entry must come first.
TEST(FileTypeMatchTable, SpecificKindsBeforeGeneralOnes) {
    auto firstKind = [](const Bytes& data) -> std::optional<FileTypeMatchType> {
        for (const auto& entry : FileTypeMatch::all()) {
            if (entry.matches(data)) return entry.type;
        }
        return std::nullopt;
    };
    EXPECT_EQ(firstKind(ftyp("mif1")), FileTypeMatchType::heif);
    EXPECT_EQ(firstKind(ftyp("msf1")), FileTypeMatchType::heifSequence);
    EXPECT_EQ(firstKind(ftyp("hevx")), FileTypeMatchType::heicSequence);
    EXPECT_EQ(firstKind(padTo(hex("00 00 01 BA 44"), 8)), FileTypeMatchType::mpg);
    EXPECT_EQ(firstKind(padTo(hex("00 00 01 BA 21"), 8)), FileTypeMatchType::mpg);
    EXPECT_EQ(firstKind(asfFile(kAsfAudioMedia)), FileTypeMatchType::wma);
    EXPECT_EQ(firstKind(Bytes{}), std::nullopt);
    EXPECT_EQ(FileTypeMatch::all().size(), 138u);
}

}  // namespace
}  // namespace ostrelcomm
