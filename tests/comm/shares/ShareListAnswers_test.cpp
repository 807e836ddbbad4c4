// The answers of the shares around the user's items: the shares of an item,
// the sharing peers, and the items shared with the user, whose keys are
// opened here against keys made by libsodium and OpenSSL alone.

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/PrivateKey.h"
#include "encoding/Encoding.h"
#include "shares/Server_GetSharedItems.h"
#include "shares/Server_GetShares.h"
#include "shares/Server_GetSharingPeers.h"
#include "shares/SharesData.h"
#include "support/AnswerCases.h"
#include "support/FileOracle.h"
#include "support/ListingOracle.h"
#include "support/MediaFixtures.h"

namespace ostrelcomm {
namespace {

using testsupport::decodes;
using testsupport::decoder;
using Json = json::Json;

const std::string kKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

// One shared item as the server sends it, its key and metadata made here.
Json rawItem(const std::string& shareid) {
    return {{"ownerusername", "alice"}, {"ownerpubshkey", kKey}, {"owneruuid", "A-1"}, {"shareid", shareid},
            {"itemuuid", "I-" + shareid}, {"itemkey", "K"},  {"keyalgorythm", "aes256"}, {"itemtype", "FILE"},
            {"orig_size", 12},           {"treehash", "th"}, {"itemalgorythm", "aes256"}, {"itemencoderversion", "1.0"},
            {"metadata", "AAAA"}};
}

// The shared-items answer around a list of items.
Json sharedBody(Json items) { return {{"userprivatekey", "P"}, {"sharedItems", std::move(items)}}; }

TEST(ShareListAnswers, SharesOfAnItemAreABareArrayOfOptionalMembers) {
    const auto shares = Server_GetShares::fromBody(asBytes(
        R"([{"shareUUID":"S-1","peerUUID":"P-1","peerUsername":"bob"},{"shareUUID":"S-2"},{"peerUsername":null}])"));
    ASSERT_EQ(shares.shares.size(), 3u);
    EXPECT_EQ(shares.shares[0], (SharesData{"S-1", "P-1", "bob"}));
    EXPECT_EQ(shares.shares[1], (SharesData{"S-2", std::nullopt, std::nullopt}));
    EXPECT_EQ(shares.shares[2], SharesData{});
    EXPECT_TRUE(Server_GetShares::fromBody(asBytes("[]")).shares.empty());

    for (const char* body : {R"({"shares":[]})", R"([{"shareUUID":1}])", R"(["S-1"])", R"([{"peerUUID":[]}])", "",
                             "null"})
        EXPECT_FALSE(decodes(decoder<Server_GetShares>(), body)) << body;

    // Encoding leaves absent members out and keeps the order of declaration.
    EXPECT_EQ(toText(SharesData{"S-1", std::nullopt, "bob"}.encode()), R"({"shareUUID":"S-1","peerUsername":"bob"})");
    EXPECT_EQ(toText(SharesData{}.encode()), "{}");
}

TEST(ShareListAnswers, SharingPeersNeedBothKeys) {
    const auto peers =
        Server_GetSharingPeers::fromBody(asBytes(R"([{"peerUsername":"alice","peerUUID":"A-1","extra":1}])"));
    ASSERT_EQ(peers.peers.size(), 1u);
    EXPECT_EQ(peers.peers[0], (SharingPeer{"alice", "A-1"}));
    for (const char* body : {R"([{"peerUsername":"alice"}])", R"([{"peerUUID":"A-1"}])",
                             R"([{"peerUsername":"alice","peerUUID":null}])", R"([{"peerUsername":1,"peerUUID":"A"}])",
                             R"({"peerUsername":"alice","peerUUID":"A-1"})"})
        EXPECT_FALSE(decodes(decoder<Server_GetSharingPeers>(), body)) << body;
}

TEST(ShareListAnswers, OneBadSharedItemFailsTheWholeAnswer) {
    // Every one of the thirteen keys is required, wrong types refused.
    testsupport::expectStrictRecord({"RawRemoteItemInfo",
                                     [](ByteView body) {
                                         const Json item = Json::parse(body.begin(), body.end(), nullptr, false);
                                         if (item.is_discarded() || !item.is_object())
                                             throw json::DecodeError("not an item");
                                         (void)Server_GetSharedItems::fromBody(asBytes(sharedBody({item}).dump()));
                                     },
                                     rawItem("S-1"),
                                     {"ownerusername", "ownerpubshkey", "owneruuid", "shareid", "itemuuid", "itemkey",
                                      "keyalgorythm", "itemtype", "orig_size", "treehash", "itemalgorythm",
                                      "itemencoderversion", "metadata"},
                                     {},
                                     ""});

    struct Row {
        const char* name;
        const char* key;
        Json value;
        bool accepted;
    };
    const std::vector<Row> rows = {
        {"ROOT", "itemtype", "ROOT", true},
        {"DIRECTORY", "itemtype", "DIRECTORY", true},
        {"FOO", "itemtype", "FOO", false},
        {"lower case", "itemtype", "file", false},
        {"largest size", "orig_size", UINT64_MAX, true},
        {"negative size", "orig_size", -1, false},
        {"fractional size", "orig_size", 1.5, false},
        {"size as text", "orig_size", "12", false},
        {"any key algorithm", "keyalgorythm", "rot13", true},
        {"metadata not base64", "metadata", "AA=A", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Json bad = rawItem("S-2");
        bad[row.key] = row.value;
        // The good item beside it does not save the answer.
        EXPECT_EQ(decodes(decoder<Server_GetSharedItems>(), sharedBody({rawItem("S-1"), bad}).dump()), row.accepted);
    }

    for (const Json& body : {Json{{"sharedItems", Json::array()}}, Json{{"userprivatekey", "P"}},
                             Json{{"userprivatekey", "P"}, {"sharedItems", rawItem("S-1")}},
                             Json{{"userprivatekey", 1}, {"sharedItems", Json::array()}}, Json::array()})
        EXPECT_FALSE(decodes(decoder<Server_GetSharedItems>(), body.dump())) << body.dump();
    const auto empty = Server_GetSharedItems::fromBody(asBytes(sharedBody(Json::array()).dump()));
    EXPECT_EQ(empty.userprivatekey, "P");
    EXPECT_TRUE(empty.sharedItems.empty());
}

// The reader's keys and one owner's, made by libsodium; items wrapped and
// sealed by OpenSSL.
struct Keys {
    Bytes readerPrivate = testsupport::oracleRandom(32);
    Bytes ownerPrivate = testsupport::oracleRandom(32);
    Bytes passwordKey = testsupport::oraclePasswordKey("share list password");

    PrivateKey reader() const {
        Bytes carrier = testsupport::oracleRandom(16);
        carrier.insert(carrier.end(), readerPrivate.begin(), readerPrivate.end());
        return PrivateKey(testsupport::oracleWrap(carrier, passwordKey), passwordKey);
    }
    Bytes ownerPublic() const { return testsupport::oraclePublicKey(ownerPrivate); }
    Bytes sharedKey() const { return testsupport::oracleSharedKey(ownerPublic(), readerPrivate); }
};

struct Seeded {
    std::string name;
    Bytes itemKey = testsupport::oracleRandom(48);  // iv ‖ key
    Bytes keyBytes() const { return Bytes(itemKey.begin() + 16, itemKey.end()); }
};

// A raw item whose key is wrapped under `wrapKey` and whose metadata names it.
Server_GetSharedItems::RawRemoteItemInfo sealedItem(const Seeded& seeded, const Bytes& ownerPublic,
                                                    const Bytes& wrapKey, const std::string& shareid) {
    Server_GetSharedItems::RawRemoteItemInfo raw{};
    raw.ownerusername = "alice";
    raw.ownerpubshkey = ownerPublic;
    raw.owneruuid = "A-1";
    raw.shareid = shareid;
    raw.itemuuid = "I-" + shareid;
    raw.itemkey = testsupport::oracleWrap(seeded.itemKey, wrapKey);
    raw.keyalgorythm = "aes256";
    raw.itemtype = RemoteItemType::FILE;
    raw.orig_size = 4096;
    raw.treehash = "tree-" + shareid;
    raw.itemalgorythm = "aes256";
    raw.itemencoderversion = "1.0";
    raw.metadata = testsupport::oracleSeal(seeded.keyBytes(), toBytes(testsupport::metadataText(seeded.name)));
    return raw;
}

TEST(ShareListAnswers, DecryptKeysOpensEachItemAndLeavesOutOnlyTheOnesThatDoNotOpen) {
    const Keys keys;
    const Keys other;
    const Seeded f1{"F1"}, f2{"F2"}, bad{"bad"};
    const Bytes shared = keys.sharedKey();
    ASSERT_EQ(shared.size(), 32u);

    Server_GetSharedItems answer;
    answer.sharedItems.push_back(sealedItem(f1, keys.ownerPublic(), shared, "S-1"));

    struct Row {
        const char* name;
        Server_GetSharedItems::RawRemoteItemInfo raw;
        const char* line;
    };
    std::vector<Row> rows;
    {
        // Wrapped under the key of another owner than the one it names.
        rows.push_back({"another owner's key", sealedItem(bad, keys.ownerPublic(), other.sharedKey(), "S-x1"),
                        "Error decrypting item key"});
        auto shortKey = sealedItem(bad, keys.ownerPublic(), shared, "S-x2");
        shortKey.ownerpubshkey.pop_back();
        rows.push_back({"31-byte owner key", shortKey, "Error when computing a shared key"});
        auto damaged = sealedItem(bad, keys.ownerPublic(), shared, "S-x3");
        damaged.metadata[0] ^= 0x01;  // the IV: "{" opens as "z"
        rows.push_back({"damaged metadata", damaged, "Error decrypting item metadata"});
        auto cut = sealedItem(bad, keys.ownerPublic(), shared, "S-x4");
        cut.metadata.resize(15);
        rows.push_back({"metadata shorter than an IV", cut, "Error decrypting item metadata"});
        // Item keys of another shape than a 16-byte IV and a 32-byte key,
        // wrapped under the right key.
        for (std::size_t size : {32u, 40u, 64u}) {
            Seeded odd{"odd", testsupport::oracleRandom(size)};
            auto raw = sealedItem(bad, keys.ownerPublic(), shared, "S-odd" + std::to_string(size));
            raw.itemkey = testsupport::oracleWrap(odd.itemKey, shared);
            rows.push_back({"item key of another shape", raw, "Error decrypting item key"});
        }
        auto notText = sealedItem(bad, keys.ownerPublic(), shared, "S-x5");
        notText.itemkey = "not a wrapped key";
        rows.push_back({"item key no wrapped-key text", notText, "Error decrypting item key"});
    }
    std::vector<std::string> expectedLines;
    for (const Row& row : rows) {
        answer.sharedItems.push_back(row.raw);
        expectedLines.push_back(row.line);
    }
    answer.sharedItems.push_back(sealedItem(f2, keys.ownerPublic(), shared, "S-2"));
    answer.sharedItems.back().itemtype = RemoteItemType::DIRECTORY;

    testsupport::SystemLogCapture log;
    const std::vector<SharedItem> items = answer.decryptKeys(keys.reader());
    EXPECT_EQ(log.lines(), expectedLines);

    ASSERT_EQ(items.size(), 2u);
    const std::vector<const Seeded*> seeded = {&f1, &f2};
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string id = "S-" + std::to_string(i + 1);
        EXPECT_EQ(items[i].shareid, id);
        EXPECT_EQ(items[i].itemuuid, "I-" + id);
        EXPECT_EQ(items[i].ownerusername, "alice");
        EXPECT_EQ(items[i].owneruuid, "A-1");
        EXPECT_EQ(items[i].orig_size, 4096u);
        EXPECT_EQ(items[i].treehash, "tree-" + id);
        EXPECT_EQ(items[i].itemalgorythm, "aes256");
        EXPECT_EQ(items[i].itemencoderversion, "1.0");
        EXPECT_EQ(items[i].metadata.name, seeded[i]->name);
        EXPECT_EQ(items[i].itemkey.key.iv.copyOut(), Bytes(seeded[i]->itemKey.begin(), seeded[i]->itemKey.begin() + 16));
        EXPECT_EQ(items[i].itemkey.key.key.copyOut(), seeded[i]->keyBytes());
    }
    EXPECT_EQ(items[0].itemtype, RemoteItemType::FILE);
    EXPECT_EQ(items[1].itemtype, RemoteItemType::DIRECTORY);

    // A private key that did not unwrap opens nothing and breaks nothing.
    const PrivateKey unreadable("{}", keys.passwordKey);
    ASSERT_FALSE(unreadable.KeyValue());
    EXPECT_TRUE(answer.decryptKeys(unreadable).empty());
}

TEST(ShareListAnswers, AnOwnerKeyOfLowOrderStillOpensItsStoredShare) {
    // u = 0 agrees on HSalsa20 of zeros with every private key; the share
    // exists, so its reader gets it.
    const Keys keys;
    const Seeded item{"low"};
    Bytes zeroPointKey(32);
    const std::uint8_t zero[32] = {};
    ASSERT_EQ(crypto_core_hsalsa20(zeroPointKey.data(), zero, zero, nullptr), 0);
    Server_GetSharedItems answer;
    answer.sharedItems.push_back(sealedItem(item, Bytes(32, 0), zeroPointKey, "S-1"));
    const auto items = answer.decryptKeys(keys.reader());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].metadata.name, "low");
}

}  // namespace
}  // namespace ostrelcomm
