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
