#include "tree/RemoteDirInfo.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "TreeTestSupport.h"
#include "crypto/CryptoError.h"
#include "json/StrictJson.h"

using namespace ostrelcomm;
using treetest::date;
using treetest::ListingOracle;
using treetest::metadataText;

namespace {

using Item = ListingOracle::Item;

std::shared_ptr<RemoteDirInfo> read(const ListingOracle& oracle, const nlohmann::json& body) {
    return RemoteDirInfo::create(asBytes(body.dump()), oracle.passwordKey);
}

Item folder() {
    Item i;
    i.uuid = "F0";
    i.type = "DIRECTORY";
    i.parentuuid = "ROOTUUID";
    i.orig_size = 0;
    i.attrib = {"shared"};
    i.metadata = metadataText("Holidays");
    i.thumbnailsize = 0;
    return i;
}

Item file(std::string uuid, std::string name) {
    Item i;
    i.uuid = std::move(uuid);
    i.parentuuid = "F0";
    i.orig_size = 4096;
    i.metadata = metadataText(std::move(name));
    return i;
}

}  // namespace

TEST(RemoteDirInfo, ReadsWhatTheOracleWrote) {
    ListingOracle oracle;
    Item photo = file("A", "");
    photo.orig_size = 18446744073709551615u;
    photo.attrib = {"ro", "x y"};
    photo.thumbnailsize = 2048;
    photo.metadata =
        R"({"name":"Beach.jpg","creationDate":"2021-03-04T05:06:07Z","modificationDate":"2022-01-02T03:04:05Z",)"
        R"("fileSize":1234,"mime":"image/jpeg","isPackage":false,"treehash-SHA256":"ab","filehash-SHA256":"cd"})";
    Item sub = file("B", "Sub");
    sub.type = "DIRECTORY";
    sub.parentuuid.reset();
    Item top = file("C", "Top");
    top.type = "ROOT";
    const std::vector<Item> items = {photo, sub, top};

    const auto info = read(oracle, oracle.body(folder(), items));
    EXPECT_EQ(info->umk().key.key.copyOut(), oracle.umkKeyBytes());
    EXPECT_EQ(info->umk().key.iv.copyOut(), Bytes(oracle.umk.begin(), oracle.umk.begin() + 16));

    ASSERT_TRUE(info->informations);
    const auto& self = *info->informations;
    EXPECT_EQ(self.uuid, "F0");
    EXPECT_EQ(self.type, RemoteItemType::DIRECTORY);
    EXPECT_EQ(self.parentuuid, "ROOTUUID");
    EXPECT_EQ(self.attrib, std::vector<std::string>{"shared"});
    EXPECT_EQ(self.metadata, RemoteItemMetadata("Holidays", date(2021, 3, 4, 5, 6, 7), date(2022, 1, 2, 3, 4, 5)));

    ASSERT_EQ(info->content.size(), 3u);
    const auto& a = info->content[0];
    EXPECT_EQ(a.uuid, "A");
    EXPECT_EQ(a.type, RemoteItemType::FILE);
    EXPECT_EQ(a.parentuuid, "F0");
    EXPECT_EQ(a.orig_size, 18446744073709551615u);
    EXPECT_EQ(a.attrib, (std::vector<std::string>{"ro", "x y"}));
    EXPECT_EQ(a.thumbnailsize, 2048u);
    EXPECT_EQ(a.metadata.name, "Beach.jpg");
    EXPECT_EQ(a.metadata.fileSize, 1234);
    EXPECT_EQ(a.metadata.mime, "image/jpeg");
    EXPECT_EQ(a.metadata.isPackage, false);
    EXPECT_EQ(a.metadata.treehash, "ab");
    EXPECT_EQ(a.metadata.clearFileHash, "cd");
    EXPECT_EQ(info->content[1].type, RemoteItemType::DIRECTORY);
    EXPECT_EQ(info->content[1].parentuuid, std::nullopt);
    EXPECT_EQ(info->content[2].type, RemoteItemType::ROOT);
    for (std::size_t n = 0; n < items.size(); ++n) {
        EXPECT_EQ(info->content[n].uuid, items[n].uuid);
        const Bytes& oracleKey = items[n].itemKey;
        EXPECT_EQ(info->content[n].filekey.key.iv.copyOut(), Bytes(oracleKey.begin(), oracleKey.begin() + 16));
        EXPECT_EQ(info->content[n].filekey.key.key.copyOut(), ListingOracle::keyBytes(items[n]));
    }
}

TEST(RemoteDirInfo, UnreadableMetadataGetsThePlaceholderInItsPlace) {
    ListingOracle oracle;
    Item bad = file("B", "never shown");
    bad.metadataKey = testsupport::oracleRandom(32);
    bad.orig_size = 77;
    Item garbled = file("G", "");
    garbled.metadata = R"({"name":"no dates"})";
    const auto before = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const auto info = read(oracle, oracle.body(std::nullopt, {file("A", "first"), bad, garbled, file("C", "last")}));
    const auto after = std::chrono::system_clock::now();

    ASSERT_EQ(info->content.size(), 4u);
    EXPECT_EQ(info->content[0].metadata.name, "first");
    EXPECT_EQ(info->content[3].metadata.name, "last");
    for (std::size_t n : {1u, 2u}) {
        const auto& item = info->content[n];
        EXPECT_EQ(item.metadata.name, "*** Invalid metadata found ***");
        EXPECT_GE(item.metadata.creationDate, before);
        EXPECT_LE(item.metadata.creationDate, after);
        EXPECT_GE(item.metadata.modificationDate, before);
        EXPECT_LE(item.metadata.modificationDate, after);
        EXPECT_FALSE(item.metadata.fileSize);
    }
    // Everything but the metadata comes from the listing as usual.
    EXPECT_EQ(info->content[1].uuid, "B");
    EXPECT_EQ(info->content[1].orig_size, 77u);
    EXPECT_EQ(info->content[1].filekey.key.key.copyOut(), ListingOracle::keyBytes(bad));
    EXPECT_FALSE(info->informations);
}

// One key that does not unwrap fails the whole listing; there is no partial one.
TEST(RemoteDirInfo, AKeyThatDoesNotUnwrapFailsTheListing) {
    ListingOracle oracle;
    const auto body = oracle.body(folder(), {file("A", "a"), file("B", "b"), file("C", "c")});
    const std::string otherKey = testsupport::oracleWrap(testsupport::oracleRandom(48), testsupport::oracleRandom(32));
    const struct {
        const char* what;
        std::function<void(nlohmann::json&)> change;
    } rows[] = {
        {"item key not wrapped-key text", [](auto& b) { b["content"][1]["itemkey"] = "not a wrapped key"; }},
        {"item key JSON without iv", [](auto& b) { b["content"][1]["itemkey"] = R"({"key":"AAAA"})"; }},
        {"item key under another key", [&](auto& b) { b["content"][2]["itemkey"] = otherKey; }},
        {"folder's item key under another key", [&](auto& b) { b["informations"]["itemkey"] = otherKey; }},
        {"user master key under another key", [&](auto& b) { b["umk"] = otherKey; }},
        // A clear text that is not a 48-byte key object, though it decrypts.
        {"item key of 32 clear bytes",
         [&](auto& b) { b["content"][0]["itemkey"] = testsupport::oracleWrap(Bytes(32, 1), oracle.umkKeyBytes()); }},
        {"master key of 64 clear bytes",
         [&](auto& b) { b["umk"] = testsupport::oracleWrap(Bytes(64, 1), oracle.passwordKey); }},
    };
    ASSERT_EQ(read(oracle, body)->content.size(), 3u);
    for (const auto& row : rows) {
        auto changed = body;
        row.change(changed);
        EXPECT_THROW(read(oracle, changed), std::exception) << row.what;
        try {
            read(oracle, changed);
        } catch (const KeyDecodeError&) {
        } catch (const CryptoError&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << row.what << ": " << e.what();
        }
    }
    // A wrong password key.
    EXPECT_THROW(RemoteDirInfo::create(asBytes(body.dump()), testsupport::oraclePasswordKey("wrong")), CryptoError);
}

TEST(RemoteDirInfo, BodiesThatDoNotDecode) {
    ListingOracle oracle;
    const auto body = oracle.body(folder(), {file("A", "a")});
    const struct {
        const char* what;
        std::function<void(nlohmann::json&)> change;
    } rows[] = {
        {"orig_size missing", [](auto& b) { b["content"][0].erase("orig_size"); }},
        {"orig_size -1", [](auto& b) { b["content"][0]["orig_size"] = -1; }},
        {"orig_size 1.5", [](auto& b) { b["content"][0]["orig_size"] = 1.5; }},
        {"orig_size 2^64",
         [](auto& b) { b["content"][0]["orig_size"] = nlohmann::json::parse("18446744073709551616"); }},
        {"orig_size text", [](auto& b) { b["content"][0]["orig_size"] = "12"; }},
        {"attrib missing", [](auto& b) { b["content"][0].erase("attrib"); }},
        {"attrib not texts", [](auto& b) { b["content"][0]["attrib"] = {1}; }},
        {"attrib a text", [](auto& b) { b["content"][0]["attrib"] = "ro"; }},
        {"thumbnailsize missing", [](auto& b) { b["content"][0].erase("thumbnailsize"); }},
        {"thumbnailsize negative", [](auto& b) { b["informations"]["thumbnailsize"] = -5; }},
        {"type root", [](auto& b) { b["content"][0]["type"] = "root"; }},
        {"type FOLDER", [](auto& b) { b["content"][0]["type"] = "FOLDER"; }},
        {"metadata Zg=", [](auto& b) { b["content"][0]["metadata"] = "Zg="; }},
        {"metadata missing", [](auto& b) { b["content"][0].erase("metadata"); }},
        {"uuid null", [](auto& b) { b["content"][0]["uuid"] = nullptr; }},
        {"itemkey missing", [](auto& b) { b["content"][0].erase("itemkey"); }},
        {"umk missing", [](auto& b) { b.erase("umk"); }},
        {"content an object", [](auto& b) { b["content"] = b["content"][0]; }},
        {"content item null", [](auto& b) { b["content"].push_back(nullptr); }},
        {"informations an array", [](auto& b) { b["informations"] = b["content"]; }},
        {"the body an array", [](auto& b) { b = nlohmann::json::array(); }},
    };
    for (const auto& row : rows) {
        auto changed = body;
        row.change(changed);
        EXPECT_THROW(read(oracle, changed), json::DecodeError) << row.what;
    }
    const std::string deep = body.dump().substr(0, body.dump().size() - 1) + R"(,"later":)" + std::string(600, '[') +
                             std::string(600, ']') + "}";
    EXPECT_THROW(RemoteDirInfo::create(asBytes(deep), oracle.passwordKey), json::DecodeError);
    for (const std::string text : {"", "null", "{", "[]", "\"umk\""})
        EXPECT_THROW(RemoteDirInfo::create(asBytes(text), oracle.passwordKey), json::DecodeError) << text;
}

TEST(RemoteDirInfo, BodiesThatDecodeWithAbsentParts) {
    ListingOracle oracle;
    const auto body = oracle.body(folder(), {file("A", "a")});
    const struct {
        const char* what;
        std::function<void(nlohmann::json&)> change;
        std::size_t items;
        bool informations;
    } rows[] = {
        {"content missing", [](auto& b) { b.erase("content"); }, 0, true},
        {"content null", [](auto& b) { b["content"] = nullptr; }, 0, true},
        {"content empty", [](auto& b) { b["content"] = nlohmann::json::array(); }, 0, true},
        {"informations missing", [](auto& b) { b.erase("informations"); }, 1, false},
        {"informations null", [](auto& b) { b["informations"] = nullptr; }, 1, false},
        {"parentuuid null", [](auto& b) { b["content"][0]["parentuuid"] = nullptr; }, 1, true},
        {"unknown keys", [](auto& b) { b["later"] = {{"x", 1}}; b["content"][0]["shared"] = true; }, 1, true},
    };
    for (const auto& row : rows) {
        auto changed = body;
        row.change(changed);
        const auto info = read(oracle, changed);
        EXPECT_EQ(info->content.size(), row.items) << row.what;
        EXPECT_EQ(info->informations.has_value(), row.informations) << row.what;
    }
    auto noParent = body;
    noParent["content"][0]["parentuuid"] = nullptr;
    EXPECT_EQ(read(oracle, noParent)->content[0].parentuuid, std::nullopt);
}
