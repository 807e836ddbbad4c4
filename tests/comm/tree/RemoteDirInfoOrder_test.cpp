#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TreeTestSupport.h"
#include "tree/RemoteDirInfo.h"

using namespace ostrelcomm;
using treetest::date;
using Order = RemoteDirInfo::FileOrder;

namespace {

struct Entry {
    std::string uuid;
    std::string name;
    std::uint64_t size = 0;
    RemoteItemType type = RemoteItemType::FILE;
    int day = 1;
    std::optional<std::int64_t> fileSize;
};

// An empty listing read from an oracle body, then filled with the entries.
std::shared_ptr<RemoteDirInfo> listing(const std::vector<Entry>& entries) {
    treetest::ListingOracle oracle;
    auto info = RemoteDirInfo::create(asBytes(oracle.body(std::nullopt, {}).dump()), oracle.passwordKey);
    for (const auto& e : entries) {
        RemoteItemMetadata metadata(e.name, date(2021, 1, 1), date(2021, 1, e.day));
        metadata.fileSize = e.fileSize;
        info->content.push_back(RemoteItemInfo{e.uuid, e.type, std::nullopt, e.size, {},
                                               treetest::itemKey(Bytes(32, 1)), metadata, 0});
    }
    return info;
}

std::string uuids(const RemoteDirInfo& info) {
    std::string out;
    for (const auto& item : info.content) out += (out.empty() ? "" : " ") + item.uuid;
    return out;
}

// Names from the Unicode normalization test data (NormalizationTest.txt):
// within each line, c1, c2 and c4 are canonically equivalent.
//   212B;00C5;00C5;0041 030A;0041 030A;           ANGSTROM SIGN
//   1E0A 0323;1E0C 0307;0044 0323 0307;1E0C 0307;0044 0323 0307;
//   AC00;AC00;AC00;1100 1161;1100 1161;           HANGUL SYLLABLE GA
const std::string kAngstromSign = "\xe2\x84\xab";              // U+212B
const std::string kARingComposed = "\xc3\x85";                 // U+00C5
const std::string kARingDecomposed = "A\xcc\x8a";              // U+0041 U+030A
const std::string kDDotsFirst = "\xe1\xb8\x8a\xcc\xa3";        // U+1E0A U+0323
const std::string kDDotsComposed = "\xe1\xb8\x8c\xcc\x87";     // U+1E0C U+0307
const std::string kDDotsDecomposed = "D\xcc\xa3\xcc\x87";      // U+0044 U+0323 U+0307
const std::string kGaComposed = "\xea\xb0\x80";                // U+AC00
const std::string kGaDecomposed = "\xe1\x84\x80\xe1\x85\xa1";  // U+1100 U+1161

}  // namespace

TEST(RemoteDirInfoOrder, SortsStablyByEachKey) {
    using T = RemoteItemType;
    const struct {
        const char* what;
        std::vector<Entry> entries;
        Order order;
        bool ascending;
        const char* expected;
    } rows[] = {
        {"orig_size, not fileSize",
         {{"big", "x", 9000, T::FILE, 1, 1}, {"small", "y", 10, T::FILE, 1, 99999}}, Order::size, true, "small big"},
        {"orig_size descending",
         {{"small", "x", 10}, {"big", "y", 9000}, {"mid", "z", 500}}, Order::size, false, "big mid small"},
        {"upper case before lower", {{"a", "a"}, {"B", "B"}, {"Z", "Z"}}, Order::name, true, "B Z a"},
        {"upper case before lower, descending", {{"B", "B"}, {"a", "a"}}, Order::name, false, "a B"},
        // NFC, not NFD: "B" (U+0042) sorts before U+00C5, after U+0041.
        {"equivalent names are equal",
         {{"ring1", kAngstromSign}, {"B", "B"}, {"ring2", kARingComposed}, {"ring3", kARingDecomposed}, {"A", "A"}},
         Order::name, true, "A B ring1 ring2 ring3"},
        {"equivalent names are equal, descending",
         {{"ring1", kAngstromSign}, {"B", "B"}, {"ring2", kARingComposed}, {"ring3", kARingDecomposed}, {"A", "A"}},
         Order::name, false, "ring1 ring2 ring3 B A"},
        {"two combining marks in either order",
         {{"d2", kDDotsComposed}, {"E", "E"}, {"d3", kDDotsDecomposed}, {"d1", kDDotsFirst}}, Order::name, true,
         "E d2 d3 d1"},
        {"Hangul jamo and syllable", {{"ga2", kGaDecomposed}, {"ga1", kGaComposed}, {"z", "z"}}, Order::name, false,
         "ga2 ga1 z"},
        {"equal names keep listing order",
         {{"x1", "x"}, {"w", "w"}, {"x2", "x"}, {"x3", "x"}}, Order::name, true, "w x1 x2 x3"},
        {"equal names keep listing order, descending",
         {{"x1", "x"}, {"w", "w"}, {"x2", "x"}, {"x3", "x"}}, Order::name, false, "x1 x2 x3 w"},
        // Scalar values, not UTF-16 units: U+FFFD before U+1F600; a bad
        // sequence sorts as U+FFFD.
        {"scalar value order and bad UTF-8",
         {{"smile", "\xf0\x9f\x98\x80"}, {"bad", "\xff"}, {"fffd", "\xef\xbf\xbd"}, {"cut", "\xe2\x84"}, {"z", "z"}},
         Order::name, true, "z bad fffd cut smile"},
        {"dates, ties in listing order",
         {{"d3", "", 0, T::FILE, 3}, {"d1a", "", 0, T::FILE, 1}, {"d2", "", 0, T::FILE, 2}, {"d1b", "", 0, T::FILE, 1}},
         Order::modificationDate, true, "d1a d1b d2 d3"},
        {"dates descending, ties in listing order",
         {{"d3", "", 0, T::FILE, 3}, {"d1a", "", 0, T::FILE, 1}, {"d2", "", 0, T::FILE, 2}, {"d1b", "", 0, T::FILE, 1}},
         Order::modificationDate, false, "d3 d2 d1a d1b"},
        {"kinds in blocks",
         {{"f1", "", 0, T::FILE}, {"d1", "", 0, T::DIRECTORY}, {"f2", "", 0, T::FILE}, {"r", "", 0, T::ROOT},
          {"d2", "", 0, T::DIRECTORY}},
         Order::itemType, true, "r d1 d2 f1 f2"},
        {"kinds descending: the blocks reversed, not their insides",
         {{"f1", "", 0, T::FILE}, {"d1", "", 0, T::DIRECTORY}, {"f2", "", 0, T::FILE}, {"r", "", 0, T::ROOT},
          {"d2", "", 0, T::DIRECTORY}},
         Order::itemType, false, "f1 f2 d1 d2 r"},
        {"empty listing", {}, Order::name, true, ""},
    };
    for (const auto& row : rows) {
        auto info = listing(row.entries);
        info->contentsOrderedBy(row.order, row.ascending);
        EXPECT_EQ(uuids(*info), row.expected) << row.what;
    }
}

TEST(RemoteDirInfoOrder, SortingMovesWholeItems) {
    auto info = listing({{"b", "b", 2, RemoteItemType::DIRECTORY, 5, 7}, {"a", "a", 1}});
    info->content[0].filekey = treetest::itemKey(Bytes(32, 9));
    info->contentsOrderedBy(Order::name, true);
    ASSERT_EQ(uuids(*info), "a b");
    const auto& b = info->content[1];
    EXPECT_EQ(b.metadata.name, "b");
    EXPECT_EQ(b.orig_size, 2u);
    EXPECT_EQ(b.type, RemoteItemType::DIRECTORY);
    EXPECT_EQ(b.metadata.fileSize, 7);
    EXPECT_EQ(b.filekey.key.key, SecretBytes(Bytes(32, 9)));
}

TEST(RemoteDirInfoOrder, FileOrderFromRawIsExact) {
    EXPECT_EQ(RemoteDirInfo::fileOrderFromRaw("name"), Order::name);
    EXPECT_EQ(RemoteDirInfo::fileOrderFromRaw("modificationDate"), Order::modificationDate);
    EXPECT_EQ(RemoteDirInfo::fileOrderFromRaw("size"), Order::size);
    EXPECT_EQ(RemoteDirInfo::fileOrderFromRaw("itemType"), Order::itemType);
    for (const char* raw : {"Name", "modificationdate", "", "type", "size "})
        EXPECT_EQ(RemoteDirInfo::fileOrderFromRaw(raw), std::nullopt) << raw;
}
