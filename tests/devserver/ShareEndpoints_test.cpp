// The stand-in's endpoints of sharing an item: what the preparation answers,
// the shares the execution stores and the requests both refuse (bodies and
// keys made here by the test).

#include "devserver/ShareEndpoints.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/Base64.h"
#include "devserver/Exchange.h"
#include "devserver/ItemStore.h"
#include "devserver/Users.h"
#include "support/CryptoOracle.h"

namespace {

using devserver::Item;
using devserver::ItemKind;
using devserver::User;
using testsupport::Bytes;
using Json = nlohmann::json;

User account(const std::string& name, const std::string& uuid) {
    User user;
    user.name = name;
    user.uuid = uuid;
    user.umk = "umk of " + name;
    user.privshkey = "privshkey of " + name;
    user.pubshkey = Bytes(32, static_cast<std::uint8_t>(name.size()));
    return user;
}

Item itemOf(const std::string& owner, ItemKind kind) {
    Item item;
    item.owner = owner;
    item.kind = kind;
    item.itemkey = "key of the item under " + owner + "'s master key";
    item.metadata = Bytes(32, 1);
    return item;
}

// A wrapped AES-256 key object as the client writes it.
std::string wrappedKey(std::size_t ivSize = 16, std::size_t keySize = 64) {
    return Json{{"iv", devserver::base64Encode(testsupport::oracleRandom(ivSize))},
                {"key", devserver::base64Encode(testsupport::oracleRandom(keySize))}}
        .dump();
}

Json shareBody(const std::string& peer, const std::string& uuid, const std::string& itemkey = wrappedKey()) {
    return Json{{"peerUsername", peer}, {"itemUUID", uuid}, {"itemkey", itemkey}, {"algorythm", "aes256"}};
}

struct Refusal {
    std::string code;
    std::string message;
    std::string extInfo;
};

// How `call` is refused; an empty code when it goes through.
Refusal refusal(const std::function<void()>& call) {
    try {
        call();
        return {};
    } catch (const devserver::ProtocolError& error) {
        return {error.code(), error.what(), error.extInfo()};
    }
}

struct Store {
    devserver::ItemStore items;
    devserver::UserStore users;
    User alice = account("alice", "A");
    User bob = account("bob", "B");
    User carol = account("carol", "C");
    Item file;
    Item folder;
    Item bobsFile;

    Store() {
        for (const auto& user : {alice, bob, carol}) users.put(user);
        file = *items.add(itemOf("A", ItemKind::file));
        folder = *items.add(itemOf("A", ItemKind::directory));
        bobsFile = *items.add(itemOf("B", ItemKind::file));
    }
};

}  // namespace

TEST(ShareEndpoints, ThePreparationGivesTheOwnersKeysThePeersPublicKeyAndTheFileKey) {
    Store s;
    const auto answer = devserver::prepareShare(s.items, s.users, s.alice, "bob", s.file.uuid);
    std::vector<std::string> keys;
    for (const auto& [key, value] : answer.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"umk", "privshkey", "pubshkey", "itemkey"}));
    EXPECT_EQ(answer["umk"], "umk of alice");
    EXPECT_EQ(answer["privshkey"], "privshkey of alice");
    EXPECT_EQ(answer["pubshkey"], devserver::base64Encode(s.bob.pubshkey));
    EXPECT_EQ(answer["itemkey"], s.file.itemkey);
}

TEST(ShareEndpoints, TheExecutionStoresTheShareOnceAsTheGrantOfTheFile) {
    Store s;
    const std::string key = wrappedKey();
    const std::string shareUUID = devserver::executeShare(s.items, s.users, s.alice, shareBody("bob", s.file.uuid, key).dump());
    EXPECT_FALSE(shareUUID.empty());
    // Bob reads the file through the grant, under the key text as it came.
    const auto shared = s.items.sharedWith("B", s.file.uuid);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->grant.itemkey, key);
    EXPECT_EQ(shared->grant.owner, "A");
    EXPECT_EQ(shared->grant.shareUUID, shareUUID);

    // Again, by either request: refused, naming the share; nothing changes.
    const Refusal expected{"ItemAlreadyShared", "Item already shared@" + shareUUID, ""};
    for (const auto& again : std::vector<std::function<void()>>{
             [&] { devserver::prepareShare(s.items, s.users, s.alice, "bob", s.file.uuid); },
             [&] { devserver::executeShare(s.items, s.users, s.alice, shareBody("bob", s.file.uuid).dump()); }}) {
        const Refusal r = refusal(again);
        EXPECT_EQ(r.code, expected.code);
        EXPECT_EQ(r.message, expected.message);
        EXPECT_EQ(r.extInfo, expected.extInfo);
    }
    EXPECT_EQ(s.items.sharedWith("B", s.file.uuid)->grant.itemkey, key);

    // Another peer is another share.
    const std::string forCarol = devserver::executeShare(s.items, s.users, s.alice, shareBody("carol", s.file.uuid).dump());
    EXPECT_NE(forCarol, shareUUID);
    EXPECT_EQ(s.items.grantsOf("A", s.file.uuid).size(), 2u);

    // A grant made otherwise is a share as well, and keeps its identifier when replaced.
    ASSERT_TRUE(s.items.grant("B", s.bobsFile.uuid, "C", "key for carol"));
    const std::string granted = s.items.sharedWith("C", s.bobsFile.uuid)->grant.shareUUID;
    ASSERT_TRUE(s.items.grant("B", s.bobsFile.uuid, "C", "new key for carol"));
    EXPECT_EQ(s.items.sharedWith("C", s.bobsFile.uuid)->grant.shareUUID, granted);
    EXPECT_EQ(refusal([&] { devserver::prepareShare(s.items, s.users, s.bob, "carol", s.bobsFile.uuid); }).message,
              "Item already shared@" + granted);

    // The file's deletion takes its shares: it can be neither read nor shared.
    ASSERT_EQ(s.items.remove("A", s.file.uuid, false), devserver::ItemStore::RemoveOutcome::removed);
    EXPECT_FALSE(s.items.sharedWith("B", s.file.uuid));
    EXPECT_EQ(refusal([&] { devserver::prepareShare(s.items, s.users, s.alice, "bob", s.file.uuid); }).code,
              "ItemNotFoundException");
}

TEST(ShareEndpoints, BothRequestsRefuseWhatIsNotTheUsersFileOrNoOtherUser) {
    Store s;
    ASSERT_TRUE(s.items.grant("B", s.bobsFile.uuid, "A", "key for alice"));
    struct Row {
        const char* name;
        std::string peer;
        std::string uuid;
        std::string code;
    };
    const std::vector<Row> rows = {
        {"a folder", "bob", s.folder.uuid, "ItemNotFoundException"},
        {"another user's file", "carol", s.bobsFile.uuid, "ItemNotFoundException"},
        {"an unknown item", "bob", "no-such-item", "ItemNotFoundException"},
        {"an unknown peer", "dave", s.file.uuid, "UserNotFoundException"},
        {"the user itself", "alice", s.file.uuid, "BadRequestException"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(refusal([&] { devserver::prepareShare(s.items, s.users, s.alice, row.peer, row.uuid); }).code,
                  row.code);
        EXPECT_EQ(refusal([&] { devserver::executeShare(s.items, s.users, s.alice, shareBody(row.peer, row.uuid).dump()); })
                      .code,
                  row.code);
    }
    EXPECT_TRUE(s.items.grantsOf("A", s.file.uuid).empty());
}

TEST(ShareEndpoints, TheExecutionTakesExactlyTheFourKeysAndAWrappedKey) {
    Store s;
    const auto with = [&](const std::function<void(Json&)>& change) {
        Json body = shareBody("bob", s.file.uuid);
        change(body);
        return body.dump();
    };
    const std::vector<std::pair<const char*, std::string>> bodies = {
        {"not JSON", "{"},
        {"an array", "[]"},
        {"another key", with([](Json& b) { b["extra"] = 1; })},
        {"no algorithm", with([](Json& b) { b.erase("algorythm"); })},
        {"another algorithm", with([](Json& b) { b["algorythm"] = "aes128"; })},
        {"no key", with([](Json& b) { b.erase("itemkey"); })},
        {"the key as an object", with([](Json& b) { b["itemkey"] = Json::parse(wrappedKey()); })},
        {"a key that is no JSON", with([](Json& b) { b["itemkey"] = "key"; })},
        {"a short IV", with([](Json& b) { b["itemkey"] = wrappedKey(8, 64); })},
        {"a key of another size", with([](Json& b) { b["itemkey"] = wrappedKey(16, 48); })},
        {"a peer name that is no text", with([](Json& b) { b["peerUsername"] = 7; })},
    };
    for (const auto& [name, body] : bodies) {
        EXPECT_EQ(refusal([&, &body = body] { devserver::executeShare(s.items, s.users, s.alice, body); }).code,
                  "BadRequestException")
            << name;
    }
    EXPECT_TRUE(s.items.grantsOf("A", s.file.uuid).empty());
}

namespace {

std::vector<std::string> keysOf(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.push_back(key);
    return keys;
}

// A member of every element of a listing, in order.
std::vector<std::string> column(const nlohmann::ordered_json& list, const char* key) {
    std::vector<std::string> out;
    for (const auto& element : list) out.push_back(element.at(key).get<std::string>());
    return out;
}

}  // namespace

TEST(ShareEndpoints, TheSharesOfAnItemAreListedInTheOrderTheyWereMadeAndGoWithTheirItem) {
    Store s;
    const std::string forCarol =
        devserver::executeShare(s.items, s.users, s.alice, shareBody("carol", s.file.uuid).dump());
    const std::string forBob = devserver::executeShare(s.items, s.users, s.alice, shareBody("bob", s.file.uuid).dump());
    // Replacing a grant keeps its place.
    ASSERT_TRUE(s.items.grant("A", s.file.uuid, "C", wrappedKey()));

    const auto list = devserver::listShares(s.items, s.users, s.alice, s.file.uuid);
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(keysOf(list[0]), (std::vector<std::string>{"shareUUID", "peerUUID", "peerUsername"}));
    EXPECT_EQ(column(list, "shareUUID"), (std::vector<std::string>{forCarol, forBob}));
    EXPECT_EQ(column(list, "peerUUID"), (std::vector<std::string>{"C", "B"}));
    EXPECT_EQ(column(list, "peerUsername"), (std::vector<std::string>{"carol", "bob"}));

    EXPECT_EQ(devserver::listShares(s.items, s.users, s.alice, s.folder.uuid), nlohmann::ordered_json::array());
    for (const std::string& uuid : {s.bobsFile.uuid, std::string("no-such-item")})
        EXPECT_EQ(refusal([&] { devserver::listShares(s.items, s.users, s.alice, uuid); }).code,
                  "ItemNotFoundException")
            << uuid;

    ASSERT_EQ(s.items.remove("A", s.file.uuid, false), devserver::ItemStore::RemoveOutcome::removed);
    EXPECT_EQ(devserver::sharedItems(s.items, s.users, s.bob, std::nullopt)["sharedItems"].size(), 0u);
    EXPECT_EQ(devserver::sharingPeers(s.items, s.users, s.carol), nlohmann::ordered_json::array());
}

TEST(ShareEndpoints, AShareIsRemovedByItsOwnerOrItsReaderAndNobodyElse) {
    Store s;
    const std::string forBob = devserver::executeShare(s.items, s.users, s.alice, shareBody("bob", s.file.uuid).dump());
    const std::string forCarol =
        devserver::executeShare(s.items, s.users, s.alice, shareBody("carol", s.file.uuid).dump());

    for (const auto& [who, share] : std::vector<std::pair<const User*, std::string>>{
             {&s.carol, forBob}, {&s.bob, forCarol}, {&s.alice, "no-such-share"}}) {
        EXPECT_EQ(refusal([&, share = share, who = who] { devserver::removeShare(s.items, *who, share); }).code,
                  "ItemNotFoundException")
            << who->name;
    }
    EXPECT_EQ(s.items.grantsOf("A", s.file.uuid).size(), 2u);

    EXPECT_EQ(devserver::removeShare(s.items, s.alice, forBob), forBob);
    EXPECT_EQ(devserver::removeShare(s.items, s.carol, forCarol), forCarol);
    EXPECT_TRUE(s.items.grantsOf("A", s.file.uuid).empty());
    EXPECT_TRUE(s.items.find("A", s.file.uuid));
    EXPECT_EQ(refusal([&] { devserver::removeShare(s.items, s.alice, forBob); }).code, "ItemNotFoundException");
}

TEST(ShareEndpoints, TheReaderSeesEachSharingOwnerOnceAndTheItemsWithTheirKeys) {
    Store s;
    Item secondFile = *s.items.add(itemOf("A", ItemKind::file));
    Item uploading = itemOf("A", ItemKind::file);
    uploading.upload = devserver::PendingUpload{};
    uploading = *s.items.add(uploading);
    s.items.modify("B", s.bobsFile.uuid, [](Item& item) {
        item.size = 1234;
        item.treehash = "ab12";
    });

    const std::string key1 = wrappedKey();
    ASSERT_TRUE(s.items.grant("B", s.bobsFile.uuid, "C", key1));
    devserver::executeShare(s.items, s.users, s.alice, shareBody("carol", s.file.uuid).dump());
    devserver::executeShare(s.items, s.users, s.alice, shareBody("carol", secondFile.uuid).dump());
    ASSERT_TRUE(s.items.grant("A", uploading.uuid, "C", wrappedKey()));

    const auto peers = devserver::sharingPeers(s.items, s.users, s.carol);
    EXPECT_EQ(column(peers, "peerUsername"), (std::vector<std::string>{"bob", "alice"}));
    EXPECT_EQ(column(peers, "peerUUID"), (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(keysOf(peers[0]), (std::vector<std::string>{"peerUsername", "peerUUID"}));

    const auto all = devserver::sharedItems(s.items, s.users, s.carol, std::nullopt);
    EXPECT_EQ(keysOf(all), (std::vector<std::string>{"userprivatekey", "sharedItems"}));
    EXPECT_EQ(all["userprivatekey"], "privshkey of carol");
    const auto& items = all["sharedItems"];
    EXPECT_EQ(column(items, "itemuuid"), (std::vector<std::string>{s.bobsFile.uuid, s.file.uuid, secondFile.uuid}));
    EXPECT_EQ(keysOf(items[0]),
              (std::vector<std::string>{"ownerusername", "ownerpubshkey", "owneruuid", "shareid", "itemuuid", "itemkey",
                                        "keyalgorythm", "itemtype", "orig_size", "treehash", "itemalgorythm",
                                        "itemencoderversion", "metadata"}));
    EXPECT_EQ(items[0]["ownerusername"], "bob");
    EXPECT_EQ(items[0]["ownerpubshkey"], devserver::base64Encode(s.bob.pubshkey));
    EXPECT_EQ(items[0]["owneruuid"], "B");
    EXPECT_EQ(items[0]["shareid"], s.items.sharedWith("C", s.bobsFile.uuid)->grant.shareUUID);
    EXPECT_EQ(items[0]["itemkey"], key1);
    EXPECT_EQ(items[0]["keyalgorythm"], "aes256");
    EXPECT_EQ(items[0]["itemtype"], "FILE");
    EXPECT_EQ(items[0]["orig_size"], 1234u);
    EXPECT_EQ(items[0]["treehash"], "ab12");
    EXPECT_EQ(items[0]["itemalgorythm"], "aes256");
    EXPECT_EQ(items[0]["itemencoderversion"], "1.0");
    EXPECT_EQ(items[0]["metadata"], devserver::base64Encode(s.bobsFile.metadata));

    const auto alices = devserver::sharedItems(s.items, s.users, s.carol, std::string("A"));
    EXPECT_EQ(column(alices["sharedItems"], "itemuuid"), (std::vector<std::string>{s.file.uuid, secondFile.uuid}));
    EXPECT_TRUE(devserver::sharedItems(s.items, s.users, s.carol, std::string("nobody"))["sharedItems"].empty());
    EXPECT_TRUE(devserver::sharedItems(s.items, s.users, s.bob, std::nullopt)["sharedItems"].empty());

    // Bob's only share withdrawn: bob is no sharing peer any more.
    devserver::removeShare(s.items, s.carol, items[0]["shareid"].get<std::string>());
    EXPECT_EQ(column(devserver::sharingPeers(s.items, s.users, s.carol), "peerUUID"), std::vector<std::string>{"A"});
}
