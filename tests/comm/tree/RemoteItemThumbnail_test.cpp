#include "tree/RemoteItemThumbnail.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TreeTestSupport.h"

using namespace ostrelcomm;
using treetest::cliOpen;
using treetest::cliSeal;
using treetest::itemKey;

namespace {

const Bytes kKey = testsupport::oracleRandom(32);

}  // namespace

TEST(RemoteItemThumbnail, DecryptsWhatTheCommandLineSealed) {
    const std::string clear = R"({"thumbnail":"/9j/4AAQ","other":1,"thumbnailmime":"image/jpeg"})";
    const auto t = RemoteItemThumbnail::decrypt(cliSeal(kKey, clear), itemKey(kKey));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->thumbnailmime, "image/jpeg");
    EXPECT_EQ(t->thumbnail, (Bytes{0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10}));
}

// Both keys and nothing else, the image as padded base64, and the IV plus
// the JSON rounded up to whole blocks, a full block of padding included.
TEST(RemoteItemThumbnail, EncryptsWhatTheCommandLineReads) {
    bool sawWholeBlocks = false;
    // The JSON grows by five characters a step (one of the type, four of the
    // base64 text), so sixteen steps meet every length modulo 16.
    for (std::size_t n = 0; n < 16; ++n) {
        const RemoteItemThumbnail thumbnail("image/" + std::string(n, 'x'), testsupport::oracleRandom(3 * n));
        const auto sealed = RemoteItemThumbnail::encrypt(thumbnail, itemKey(kKey));
        ASSERT_TRUE(sealed);
        const auto clear = cliOpen(kKey, *sealed);
        ASSERT_TRUE(clear) << n;
        EXPECT_EQ(sealed->size(), 16 + (clear->size() / 16 + 1) * 16) << *clear;
        sawWholeBlocks |= clear->size() % 16 == 0;
        const auto json = nlohmann::json::parse(*clear);
        EXPECT_EQ(json.size(), 2u) << *clear;
        EXPECT_EQ(json["thumbnailmime"], thumbnail.thumbnailmime);
        EXPECT_EQ(json["thumbnail"].get<std::string>().size(), 4 * n);
    }
    EXPECT_TRUE(sawWholeBlocks);
}

TEST(RemoteItemThumbnail, RoundTrips) {
    const auto key = itemKey(kKey);
    for (const auto& thumbnail : {RemoteItemThumbnail("image/jpeg", testsupport::oracleRandom(5000)),
                                  RemoteItemThumbnail("image/jpeg", {}), RemoteItemThumbnail("", {0})}) {
        const auto first = RemoteItemThumbnail::encrypt(thumbnail, key);
        const auto second = RemoteItemThumbnail::encrypt(thumbnail, key, CipherAlgorithm::aes256, 16);
        ASSERT_TRUE(first && second);
        EXPECT_NE(*first, *second);
        EXPECT_EQ(RemoteItemThumbnail::decrypt(first, key), thumbnail);
        EXPECT_EQ(RemoteItemThumbnail::decrypt(second, key), thumbnail);
    }
    // Absent in, absent out, no error.
    EXPECT_EQ(RemoteItemThumbnail::encrypt(std::nullopt, key), std::nullopt);
    EXPECT_EQ(RemoteItemThumbnail::decrypt(std::nullopt, key), std::nullopt);
}
