#include "tree/RemoteItemMetadata.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include <nlohmann/json.hpp>

#include "TreeTestSupport.h"

using namespace ostrelcomm;
using treetest::cliOpen;
using treetest::cliSeal;
using treetest::date;
using treetest::itemKey;

namespace {

const Bytes kKey = testsupport::oracleRandom(32);

RemoteItemMetadata fullRecord(std::string name) {
    RemoteItemMetadata m(std::move(name), date(2021, 3, 4, 5, 6, 7), date(2022, 1, 2, 3, 4, 5));
    m.fileSize = 123456789012;
    m.mime = "image/jpeg";
    m.isPackage = false;
    m.thumbnailmime = "image/png";
    m.thumbnail = Bytes{0, 1, 2, 0xff};
    m.treehash = std::string(64, 'a');
    m.clearFileHash = std::string(64, 'b');
    return m;
}

std::set<std::string> keysOf(const nlohmann::json& object) {
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.insert(key);
    return keys;
}

}  // namespace

// A form that another client wrote: every field, the thumbnail pair inside,
// keys in another order, a null optional and a key this record does not know.
TEST(RemoteItemMetadata, DecryptsWhatTheCommandLineSealed) {
    const std::string clear =
        R"({"treehash-SHA256":"0f1e","creationDate":"2021-03-04T05:06:07Z","name":"Ferien \u00e9t\u00e9",)"
        R"("modificationDate":"2022-01-02T03:04:05Z","fileSize":123456789012,"mime":"image/jpeg",)"
        R"("isPackage":true,"thumbnailmime":"image/jpeg","thumbnail":"AAEC/w==","filehash-SHA256":"a1b2",)"
        R"("colour":{"later":[1,2]}})";
    const auto m = RemoteItemMetadata::decrypt(cliSeal(kKey, clear), itemKey(kKey));
    EXPECT_EQ(m.name, "Ferien \xc3\xa9t\xc3\xa9");
    EXPECT_EQ(m.creationDate, date(2021, 3, 4, 5, 6, 7));
    EXPECT_EQ(m.modificationDate, date(2022, 1, 2, 3, 4, 5));
    EXPECT_EQ(m.fileSize, 123456789012);
    EXPECT_EQ(m.mime, "image/jpeg");
    EXPECT_EQ(m.isPackage, true);
    EXPECT_EQ(m.thumbnailmime, "image/jpeg");
    EXPECT_EQ(m.thumbnail, (Bytes{0, 1, 2, 0xff}));
    EXPECT_EQ(m.treehash, "0f1e");
    EXPECT_EQ(m.clearFileHash, "a1b2");

    const std::string sparse =
        R"({"name":"","creationDate":"2021-03-04T05:06:07Z","modificationDate":"2021-03-04T06:06:07+01:00",)"
        R"("fileSize":null,"mime":null,"isPackage":null,"thumbnail":null,"treehash-SHA256":null})";
    const auto s = RemoteItemMetadata::decrypt(cliSeal(kKey, sparse), itemKey(kKey));
    EXPECT_EQ(s, RemoteItemMetadata("", date(2021, 3, 4, 5, 6, 7), date(2021, 3, 4, 5, 6, 7)));
}

// What encrypt writes, as the command line reads it: the present keys only,
// never the thumbnail pair or a null, whole-second "Z" dates, and a length of
// the IV plus the JSON rounded up to whole blocks (a full block of padding
// when the JSON already fills its last block).
TEST(RemoteItemMetadata, EncryptsWhatTheCommandLineReads) {
    const std::regex wholeSecondUtc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    const std::set<std::string> fullKeys = {"name",     "creationDate", "modificationDate", "fileSize",
                                            "mime",     "isPackage",    "treehash-SHA256",  "filehash-SHA256"};
    bool sawWholeBlocks = false;
    for (std::size_t length = 1; length <= 16; ++length) {
        const auto record = fullRecord(std::string(length, 'n'));
        const auto key = itemKey(kKey);
        const Bytes sealed = RemoteItemMetadata::encrypt(record, key);
        // The IV is fresh, not the key object's own.
        EXPECT_NE(Bytes(sealed.begin(), sealed.begin() + 16), key.key.iv.copyOut());
        const auto clear = cliOpen(kKey, sealed);
        ASSERT_TRUE(clear) << length;
        EXPECT_EQ(sealed.size(), 16 + (clear->size() / 16 + 1) * 16) << *clear;
        sawWholeBlocks |= clear->size() % 16 == 0;

        const auto json = nlohmann::json::parse(*clear);
        EXPECT_EQ(keysOf(json), fullKeys) << *clear;
        EXPECT_EQ(json["name"], std::string(length, 'n'));
        EXPECT_EQ(json["creationDate"], "2021-03-04T05:06:07Z");
        EXPECT_TRUE(std::regex_match(json["modificationDate"].get<std::string>(), wholeSecondUtc));
        EXPECT_EQ(json["fileSize"], 123456789012);
        EXPECT_EQ(json["isPackage"], false);
        EXPECT_EQ(json["treehash-SHA256"], std::string(64, 'a'));
        EXPECT_EQ(json["filehash-SHA256"], std::string(64, 'b'));
    }
    EXPECT_TRUE(sawWholeBlocks);

    const RemoteItemMetadata bare("x", date(2021, 3, 4), date(2021, 3, 4));
    const auto clear = cliOpen(kKey, RemoteItemMetadata::encrypt(bare, itemKey(kKey)));
    ASSERT_TRUE(clear);
    EXPECT_EQ(*clear,
              R"({"name":"x","creationDate":"2021-03-04T00:00:00Z","modificationDate":"2021-03-04T00:00:00Z"})");
}

TEST(RemoteItemMetadata, RoundTripsWithoutTheThumbnail) {
    const auto key = itemKey(kKey);
    for (const auto& [created, modified] : {std::pair{date(1, 1, 1), date(9999, 12, 31, 23, 59, 59)},
                                            std::pair{date(2021, 3, 4, 5, 6, 7), date(1970, 1, 1)}}) {
        auto record = fullRecord("r\xc3\xa9sum\xc3\xa9.pdf");
        record.creationDate = created;
        record.modificationDate = modified;
        const Bytes first = RemoteItemMetadata::encrypt(record, key);
        const Bytes second = RemoteItemMetadata::encrypt(record, key);
        EXPECT_NE(first, second);

        auto expected = record;
        expected.thumbnail.reset();
        expected.thumbnailmime.reset();
        EXPECT_EQ(RemoteItemMetadata::decrypt(first, key), expected);
        // The key length argument changes nothing.
        EXPECT_EQ(RemoteItemMetadata::decrypt(second, key, CipherAlgorithm::aes256, 16), expected);
        // The caller's record keeps its thumbnail.
        EXPECT_TRUE(record.thumbnail && record.thumbnailmime);
    }
}

TEST(RemoteItemMetadata, PlaceholderNamesTheFaultAndTheTimeOfReading) {
    const auto before = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const auto placeholder = RemoteItemMetadata::invalidPlaceholder();
    const auto after = std::chrono::system_clock::now();
    EXPECT_EQ(placeholder.name, "*** Invalid metadata found ***");
    EXPECT_GE(placeholder.creationDate, before);
    EXPECT_LE(placeholder.creationDate, after);
    EXPECT_EQ(placeholder.modificationDate, placeholder.creationDate);
    EXPECT_EQ(placeholder, RemoteItemMetadata(placeholder.name, placeholder.creationDate, placeholder.creationDate));
}
