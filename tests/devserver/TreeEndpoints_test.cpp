// The stand-in's item store and what its folder creation accepts: each
// user's items apart, the root that every user has, creation order, and the
// bodies it refuses (made here by the test, with OpenSSL).

#include "devserver/TreeEndpoints.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/Base64.h"
#include "devserver/Exchange.h"
#include "devserver/ItemStore.h"
#include "support/CryptoOracle.h"

namespace {

using devserver::Item;
using devserver::ItemKind;
using devserver::ItemStore;
using devserver::kRootFolder;
using testsupport::Bytes;

Item folderOf(const std::string& owner, const std::string& parent, const std::string& uuid = {}) {
    Item item;
    item.uuid = uuid;
    item.owner = owner;
    item.kind = ItemKind::directory;
    item.parent = parent;
    return item;
}

// A creation body as a client makes it: the item key (iv ‖ key) wrapped under
// some master key, and metadata sealed under the item key.
nlohmann::json goodBody() {
    const Bytes master = testsupport::oracleRandom(32);
    const Bytes itemKey = testsupport::oracleRandom(48);
    return {{"attrib", nlohmann::json::array()},
            {"itemkey", testsupport::oracleWrap(itemKey, master)},
            {"metadata", devserver::base64Encode(testsupport::oracleSeal(
                             Bytes(itemKey.begin() + 16, itemKey.end()), ostrelcomm::toBytes(R"({"name":"A"})")))}};
}

// The exception name the creation answers `body` with; "" when it stores it.
std::string refusal(ItemStore& items, const std::string& owner, const std::string& parent, const std::string& body) {
    try {
        createDirectory(items, owner, parent, body);
        return "";
    } catch (const devserver::ProtocolError& error) {
        return error.code();
    }
}

TEST(ItemStore, KeepsEachUsersItemsApartUnderAnImplicitRoot) {
    ItemStore items;
    EXPECT_TRUE(items.isFolder("alice", kRootFolder));
    EXPECT_TRUE(items.isFolder("nobody yet", kRootFolder));

    const auto a = items.add(folderOf("alice", kRootFolder));
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->uuid.empty());
    const auto b = items.add(folderOf("alice", a->uuid));
    ASSERT_TRUE(b);
    Item file = folderOf("alice", kRootFolder);
    file.kind = ItemKind::file;
    file.size = 1234;
    file.thumbnail = Bytes(77, 1);
    const auto f = items.add(file);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->thumbnailSize(), 77u);

    // Another user sees none of it, and cannot put anything into it.
    EXPECT_FALSE(items.find("bob", a->uuid));
    EXPECT_FALSE(items.isFolder("bob", a->uuid));
    EXPECT_FALSE(items.folder("bob", a->uuid));
    EXPECT_FALSE(items.add(folderOf("bob", a->uuid)));
    EXPECT_TRUE(items.folder("bob", kRootFolder)->content.empty());

    // Nothing goes into a file, an unknown folder, or under a taken identifier.
    EXPECT_FALSE(items.isFolder("alice", f->uuid));
    EXPECT_FALSE(items.add(folderOf("alice", f->uuid)));
    EXPECT_FALSE(items.add(folderOf("alice", "no-such-folder")));
    EXPECT_FALSE(items.add(folderOf("alice", kRootFolder, a->uuid)));
    EXPECT_FALSE(items.add(folderOf("alice", kRootFolder, kRootFolder)));

    // A folder lists itself and what is directly in it, in creation order.
    const auto top = items.folder("alice", kRootFolder);
    ASSERT_TRUE(top);
    EXPECT_FALSE(top->self);
    ASSERT_EQ(top->content.size(), 2u);
    EXPECT_EQ(top->content[0].uuid, a->uuid);
    EXPECT_EQ(top->content[1].uuid, f->uuid);
    const auto inA = items.folder("alice", a->uuid);
    ASSERT_TRUE(inA && inA->self);
    EXPECT_EQ(inA->self->uuid, a->uuid);
    ASSERT_EQ(inA->content.size(), 1u);
    EXPECT_EQ(inA->content[0].uuid, b->uuid);
    EXPECT_LT(a->created, b->created);

    std::vector<std::string> order;
    for (const auto& item : items.itemsOf("alice")) order.push_back(item.uuid);
    EXPECT_EQ(order, (std::vector<std::string>{a->uuid, b->uuid, f->uuid}));

    EXPECT_TRUE(items.modify("alice", b->uuid, [](Item& item) { item.attrib = {"x"}; }));
    EXPECT_EQ(items.find("alice", b->uuid)->attrib, std::vector<std::string>{"x"});
    EXPECT_FALSE(items.modify("bob", b->uuid, [](Item&) {}));

    ASSERT_TRUE(items.add(folderOf("bob", kRootFolder)));
    EXPECT_EQ(items.removeOwner("alice"), 3u);
    EXPECT_TRUE(items.itemsOf("alice").empty());
    EXPECT_EQ(items.size(), 1u);
}

TEST(TreeEndpoints, TheCreationStoresAWellMadeBodyAsSent) {
    ItemStore items;
    const nlohmann::json body = goodBody();
    const Item stored = createDirectory(items, "alice", kRootFolder, body.dump());
    EXPECT_EQ(stored.kind, ItemKind::directory);
    EXPECT_EQ(stored.parent, kRootFolder);
    EXPECT_EQ(stored.size, 0u);
    EXPECT_TRUE(stored.attrib.empty());
    EXPECT_EQ(stored.itemkey, body["itemkey"].get<std::string>());
    EXPECT_EQ(devserver::base64Encode(stored.metadata), body["metadata"].get<std::string>());
    EXPECT_FALSE(stored.thumbnail);

    const Item inside = createDirectory(items, "alice", stored.uuid, goodBody().dump());
    EXPECT_EQ(inside.parent, stored.uuid);
    EXPECT_EQ(items.itemsOf("alice").size(), 2u);
}

TEST(TreeEndpoints, TheCreationRefusesBodiesNoClientMakesAndFoldersNotTheUsers) {
    ItemStore items;
    const Item aliceFolder = createDirectory(items, "alice", kRootFolder, goodBody().dump());
    Item file = folderOf("alice", kRootFolder);
    file.kind = ItemKind::file;
    const Item aliceFile = *items.add(file);

    struct Row {
        const char* name;
        std::function<void(nlohmann::json&)> spoil;
    };
    const Bytes clearKeyIv = testsupport::oracleRandom(16);
    const Bytes clearKey = testsupport::oracleRandom(32);
    const std::vector<Row> rows = {
        {"a clear item key",
         [&](nlohmann::json& b) {
             b["itemkey"] = nlohmann::json{{"iv", devserver::base64Encode(clearKeyIv)},
                                           {"key", devserver::base64Encode(clearKey)}}.dump();
         }},
        {"no item key", [](nlohmann::json& b) { b.erase("itemkey"); }},
        {"an item key as an object", [](nlohmann::json& b) { b["itemkey"] = nlohmann::json::parse(b["itemkey"].get<std::string>()); }},
        {"a partial block of metadata",
         [](nlohmann::json& b) {
             auto sealed = *devserver::base64Decode(b["metadata"].get<std::string>());
             sealed.pop_back();
             b["metadata"] = devserver::base64Encode(sealed);
         }},
        {"metadata of an IV alone",
         [](nlohmann::json& b) { b["metadata"] = devserver::base64Encode(testsupport::oracleRandom(16)); }},
        {"metadata that is not base64", [](nlohmann::json& b) { b["metadata"] = "not base64!"; }},
        {"no metadata", [](nlohmann::json& b) { b.erase("metadata"); }},
        {"no attributes", [](nlohmann::json& b) { b.erase("attrib"); }},
        {"attributes that are not texts", [](nlohmann::json& b) { b["attrib"] = {1}; }},
        {"a member too many", [](nlohmann::json& b) { b["name"] = "A"; }},
        {"not an object", [](nlohmann::json& b) { b = nlohmann::json::array(); }},
    };
    for (const auto& row : rows) {
        nlohmann::json body = goodBody();
        row.spoil(body);
        EXPECT_EQ(refusal(items, "alice", kRootFolder, body.dump()), "BadRequestException") << row.name;
    }
    for (const std::string& parent : {aliceFile.uuid, std::string("no-such-folder")})
        EXPECT_EQ(refusal(items, "alice", parent, goodBody().dump()), "ItemNotFoundException") << parent;
    EXPECT_EQ(refusal(items, "bob", aliceFolder.uuid, goodBody().dump()), "ItemNotFoundException");
    EXPECT_EQ(items.itemsOf("alice").size(), 2u);
    EXPECT_TRUE(items.itemsOf("bob").empty());
}

}  // namespace
