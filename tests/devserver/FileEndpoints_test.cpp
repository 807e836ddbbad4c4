// The stand-in's share grants and file endpoints: what a file's owner and a
// reader it was granted to are answered, the modification bodies it stores
// and those it refuses, and deletion with the grants (bodies and keys made
// here by the test, with OpenSSL).

#include "devserver/FileEndpoints.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
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
using devserver::ItemStore;
using devserver::kRootFolder;
using devserver::User;
using testsupport::Bytes;

User account(const std::string& name, const std::string& uuid) {
    User user;
    user.name = name;
    user.uuid = uuid;
    user.umk = "umk of " + name;
    user.privshkey = "privshkey of " + name;
    user.pubshkey = Bytes(32, static_cast<std::uint8_t>(name.size()));
    return user;
}

Item itemOf(const std::string& owner, ItemKind kind, const std::string& parent = kRootFolder) {
    Item item;
    item.owner = owner;
    item.kind = kind;
    item.parent = parent;
    item.attrib = {"a"};
    item.itemkey = "own key";
    item.metadata = Bytes(32, 1);
    item.size = 99;
    return item;
}

// What a modification may change, as one value.
std::tuple<std::string, std::vector<std::string>, Bytes, std::optional<Bytes>, std::string> stored(const Item& item) {
    return {item.parent, item.attrib, item.metadata, item.thumbnail, item.itemkey};
}

std::string sealed(std::size_t size = 48) { return devserver::base64Encode(testsupport::oracleRandom(size)); }

// The exception name `call` is refused with; "" when it goes through.
std::string refusal(const std::function<void()>& call) {
    try {
        call();
        return "";
    } catch (const devserver::ProtocolError& error) {
        return error.code();
    }
}

struct Store {
    ItemStore items;
    devserver::UserStore users;
    User alice = account("alice", "A");
    User bob = account("bob", "B");
    User carol = account("carol", "C");
    Item folder;
    Item file;

    Store() {
        for (const auto& user : {alice, bob, carol}) users.put(user);
        folder = *items.add(itemOf("A", ItemKind::directory));
        Item f = itemOf("A", ItemKind::file);
        f.thumbnail = Bytes(32, 2);
        file = *items.add(f);
        EXPECT_TRUE(items.grant("A", file.uuid, "B", "key for bob"));
    }
};

}  // namespace

TEST(ShareGrants, AGrantIsTheReadersAloneAndGoesWithItsItem) {
    Store s;
    const auto shared = s.items.sharedWith("B", s.file.uuid);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->item.uuid, s.file.uuid);
    EXPECT_EQ(shared->grant.owner, "A");
    EXPECT_EQ(shared->grant.reader, "B");
    EXPECT_EQ(shared->grant.itemkey, "key for bob");
    EXPECT_FALSE(s.items.sharedWith("C", s.file.uuid));
    EXPECT_FALSE(s.items.sharedWith("A", s.file.uuid));

    // Granting again replaces; nobody grants what they do not own, nor to themselves.
    EXPECT_TRUE(s.items.grant("A", s.file.uuid, "B", "new key for bob"));
    EXPECT_EQ(s.items.sharedWith("B", s.file.uuid)->grant.itemkey, "new key for bob");
    EXPECT_FALSE(s.items.grant("C", s.file.uuid, "B", "x"));
    EXPECT_FALSE(s.items.grant("A", "no-such-item", "B", "x"));
    EXPECT_FALSE(s.items.grant("A", s.file.uuid, "A", "x"));
    EXPECT_TRUE(s.items.grant("A", s.file.uuid, "C", "key for carol"));
    EXPECT_EQ(s.items.grantsOf("A", s.file.uuid).size(), 2u);

    // Removing the item takes its grants; nobody but its owner removes it.
    EXPECT_FALSE(s.items.remove("B", s.file.uuid));
    const auto removed = s.items.remove("A", s.file.uuid);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->uuid, s.file.uuid);
    EXPECT_FALSE(s.items.find("A", s.file.uuid));
    EXPECT_TRUE(s.items.grantsOf("A", s.file.uuid).empty());
    EXPECT_FALSE(s.items.sharedWith("B", s.file.uuid));
    // An item made later under the same identifier is not shared.
    Item again = itemOf("A", ItemKind::file);
    again.uuid = s.file.uuid;
    ASSERT_TRUE(s.items.add(again));
    EXPECT_FALSE(s.items.sharedWith("B", s.file.uuid));
}

TEST(ShareGrants, ADeletedProfileTakesTheGrantsOfItsItemsAndToIt) {
    Store s;
    const Item bobs = *s.items.add(itemOf("B", ItemKind::file));
    ASSERT_TRUE(s.items.grant("B", bobs.uuid, "C", "key for carol"));
    ASSERT_TRUE(s.items.grant("A", s.file.uuid, "C", "key for carol"));

    s.items.removeOwner("B");
    EXPECT_FALSE(s.items.sharedWith("C", bobs.uuid));
    EXPECT_FALSE(s.items.sharedWith("B", s.file.uuid));
    EXPECT_TRUE(s.items.sharedWith("C", s.file.uuid));
    s.items.clear();
    EXPECT_TRUE(s.items.grantsOf("A", s.file.uuid).empty());
}

TEST(FileEndpoints, TheOwnerGetsTheMasterKeyAndAReaderTheGrantedKeyAndBothSharingKeys) {
    Store s;
    const auto own = devserver::fileInformation(s.items, s.users, s.alice, s.file.uuid);
    std::vector<std::string> keys;
    for (const auto& [key, value] : own.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"itemUUID", "parentUUID", "type", "fileSize", "attrib", "metadata",
                                              "thumbnail", "itemkey", "umk"}));
    EXPECT_EQ(own["itemUUID"], s.file.uuid);
    EXPECT_EQ(own["parentUUID"], kRootFolder);
    EXPECT_EQ(own["type"], "FILE");
    EXPECT_EQ(own["fileSize"], 99);
    EXPECT_EQ(own["attrib"], nlohmann::json::array({"a"}));
    EXPECT_EQ(own["metadata"], devserver::base64Encode(s.file.metadata));
    EXPECT_EQ(own["thumbnail"], devserver::base64Encode(*s.file.thumbnail));
    EXPECT_EQ(own["itemkey"], "own key");
    EXPECT_EQ(own["umk"], "umk of alice");

    const auto shared = devserver::fileInformation(s.items, s.users, s.bob, s.file.uuid);
    EXPECT_FALSE(shared.contains("umk"));
    EXPECT_EQ(shared["itemkey"], "key for bob");
    EXPECT_EQ(shared["pubshkey"], devserver::base64Encode(s.alice.pubshkey));
    EXPECT_EQ(shared["privshkey"], "privshkey of bob");
    EXPECT_EQ(shared["metadata"], own["metadata"]);

    // Without a thumbnail there is no key for it.
    const Item plain = *s.items.add(itemOf("A", ItemKind::file));
    EXPECT_FALSE(devserver::fileInformation(s.items, s.users, s.alice, plain.uuid).contains("thumbnail"));

    // Nobody else knows it; a folder is no file.
    for (const auto& [user, uuid] : std::vector<std::pair<User, std::string>>{
             {s.carol, s.file.uuid}, {s.bob, plain.uuid}, {s.alice, s.folder.uuid}, {s.alice, "no-such-file"}}) {
        EXPECT_EQ(refusal([&, &user = user, &uuid = uuid] { devserver::fileInformation(s.items, s.users, user, uuid); }),
                  "ItemNotFoundException")
            << user.name << " " << uuid;
    }
}

TEST(FileEndpoints, TheModificationStoresWhatTheBodyGivesAndNothingElse) {
    Store s;
    const std::string metadata = sealed(64);
    const std::string thumbnail = sealed(32);
    const Item moved = devserver::modifyFile(
        s.items, "A", s.file.uuid,
        nlohmann::json{{"attrib", nlohmann::json::array()}, {"parentUUID", s.folder.uuid}, {"metadata", metadata},
                       {"thumbnail", thumbnail}}
            .dump());
    EXPECT_EQ(moved.parent, s.folder.uuid);
    EXPECT_TRUE(moved.attrib.empty());
    EXPECT_EQ(devserver::base64Encode(moved.metadata), metadata);
    EXPECT_EQ(devserver::base64Encode(*moved.thumbnail), thumbnail);
    EXPECT_EQ(moved.itemkey, "own key");

    // Left out: left alone.
    const Item back = devserver::modifyFile(s.items, "A", s.file.uuid, R"({"parentUUID":"root"})");
    EXPECT_EQ(back.parent, kRootFolder);
    EXPECT_EQ(devserver::base64Encode(back.metadata), metadata);
    EXPECT_EQ(devserver::base64Encode(*back.thumbnail), thumbnail);
    EXPECT_EQ(stored(*s.items.find("A", s.file.uuid)), stored(back));
}

TEST(FileEndpoints, TheModificationRefusesBodiesNoClientMakesAndFilesNotTheUsers) {
    Store s;
    const Item another = *s.items.add(itemOf("C", ItemKind::directory));
    const Item file2 = *s.items.add(itemOf("A", ItemKind::file));
    struct Row {
        const char* what;
        std::string owner;
        std::string uuid;
        std::string body;
        std::string refusal;
    };
    const std::string good = nlohmann::json{{"metadata", sealed()}}.dump();
    const std::vector<Row> rows = {
        {"a reader", "B", s.file.uuid, good, "AccessDeniedException"},
        {"a stranger", "C", s.file.uuid, good, "ItemNotFoundException"},
        {"a folder", "A", s.folder.uuid, good, "ItemNotFoundException"},
        {"an unknown file", "A", "no-such-file", good, "ItemNotFoundException"},
        {"no JSON", "A", s.file.uuid, "{", "BadRequestException"},
        {"a list", "A", s.file.uuid, "[]", "BadRequestException"},
        {"an unknown member", "A", s.file.uuid, R"({"itemkey":"x"})", "BadRequestException"},
        {"attributes that are no list", "A", s.file.uuid, R"({"attrib":"a"})", "BadRequestException"},
        {"an attribute that is no text", "A", s.file.uuid, R"({"attrib":[1]})", "BadRequestException"},
        {"a null parent", "A", s.file.uuid, R"({"parentUUID":null})", "BadRequestException"},
        {"another user's folder", "A", s.file.uuid, nlohmann::json{{"parentUUID", another.uuid}}.dump(),
         "ItemNotFoundException"},
        {"a file as the parent", "A", s.file.uuid, nlohmann::json{{"parentUUID", file2.uuid}}.dump(),
         "ItemNotFoundException"},
        {"metadata that is not base64", "A", s.file.uuid, R"({"metadata":"AAA"})", "BadRequestException"},
        {"metadata of an IV alone", "A", s.file.uuid, nlohmann::json{{"metadata", sealed(16)}}.dump(),
         "BadRequestException"},
        {"metadata in a partial block", "A", s.file.uuid, nlohmann::json{{"metadata", sealed(40)}}.dump(),
         "BadRequestException"},
        {"a thumbnail in a partial block", "A", s.file.uuid, nlohmann::json{{"thumbnail", sealed(33)}}.dump(),
         "BadRequestException"},
        // One bad member spoils the whole body.
        {"a good metadata and a bad parent", "A", s.file.uuid,
         nlohmann::json{{"metadata", sealed()}, {"parentUUID", "nowhere"}}.dump(), "ItemNotFoundException"},
    };
    const Item before = *s.items.find("A", s.file.uuid);
    for (const auto& row : rows) {
        EXPECT_EQ(refusal([&] { devserver::modifyFile(s.items, row.owner, row.uuid, row.body); }), row.refusal)
            << row.what;
    }
    EXPECT_EQ(stored(*s.items.find("A", s.file.uuid)), stored(before));
}

TEST(FileEndpoints, OnlyTheOwnerDeletesAFile) {
    Store s;
    EXPECT_EQ(refusal([&] { devserver::deleteFile(s.items, "B", s.file.uuid); }), "AccessDeniedException");
    EXPECT_EQ(refusal([&] { devserver::deleteFile(s.items, "C", s.file.uuid); }), "ItemNotFoundException");
    EXPECT_EQ(refusal([&] { devserver::deleteFile(s.items, "A", s.folder.uuid); }), "ItemNotFoundException");
    EXPECT_TRUE(s.items.find("A", s.file.uuid));
    EXPECT_TRUE(s.items.find("A", s.folder.uuid));

    const Item removed = devserver::deleteFile(s.items, "A", s.file.uuid);
    EXPECT_EQ(removed.uuid, s.file.uuid);
    EXPECT_FALSE(s.items.find("A", s.file.uuid));
    EXPECT_FALSE(s.items.sharedWith("B", s.file.uuid));
    EXPECT_EQ(refusal([&] { devserver::deleteFile(s.items, "A", s.file.uuid); }), "ItemNotFoundException");
}
