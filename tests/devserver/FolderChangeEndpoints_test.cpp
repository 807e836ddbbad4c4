// The stand-in's folder changes and tree, below its HTTP layer: moves that
// would cut a subtree off, deletions with and without contents and the
// removal hooks they run, modification bodies, and the tree answer's shape.

#include "devserver/FolderChangeEndpoints.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/Base64.h"
#include "devserver/Exchange.h"
#include "devserver/FolderTreeEndpoints.h"
#include "devserver/ItemStore.h"
#include "support/CryptoOracle.h"

namespace {

using devserver::Item;
using devserver::ItemKind;
using devserver::ItemStore;
using devserver::kRootFolder;
using testsupport::Bytes;
using Ids = std::vector<std::string>;

// A folder body as a client makes it, with metadata naming `name`.
nlohmann::json folderBody(const std::string& name = "A") {
    const Bytes itemKey = testsupport::oracleRandom(48);
    return {{"attrib", {"a"}},
            {"itemkey", testsupport::oracleWrap(itemKey, testsupport::oracleRandom(32))},
            {"metadata", devserver::base64Encode(testsupport::oracleSeal(
                             Bytes(itemKey.begin() + 16, itemKey.end()),
                             ostrelcomm::toBytes(nlohmann::json{{"name", name}}.dump())))}};
}

// alice: root ─ A ─ B ─ C
//                 │   └ f (a file)
//                 └ D
//        root ─ S
struct Tree {
    ItemStore items;
    std::string a, b, c, f, d, s;

    Tree() {
        a = add(kRootFolder, ItemKind::directory);
        b = add(a, ItemKind::directory);
        c = add(b, ItemKind::directory);
        f = add(b, ItemKind::file);
        d = add(a, ItemKind::directory);
        s = add(kRootFolder, ItemKind::directory);
    }
    std::string add(const std::string& parent, ItemKind kind) {
        Item item;
        item.owner = "alice";
        item.kind = kind;
        item.parent = parent;
        item.itemkey = "key of " + std::to_string(items.size());
        item.metadata = Bytes(32, static_cast<std::uint8_t>(items.size()));
        return items.add(item)->uuid;
    }
    std::string parentOf(const std::string& uuid) const { return items.find("alice", uuid)->parent; }
    Ids ids() const {
        Ids out;
        for (const auto& item : items.itemsOf("alice")) out.push_back(item.uuid);
        return out;
    }
};

std::string refusal(const std::function<void()>& call) {
    try {
        call();
        return "";
    } catch (const devserver::ProtocolError& error) {
        return error.code();
    }
}

TEST(ItemStoreChanges, AMoveNeverCutsASubtreeOffAndChangesNothingWhenRefused) {
    Tree t;
    using Outcome = ItemStore::ChangeOutcome;
    struct Row {
        std::string uuid;
        std::optional<std::string> to;
        Outcome outcome;
    };
    const std::vector<Row> rows = {
        {t.a, t.a, Outcome::intoItself},   {t.a, t.b, Outcome::intoItself},
        {t.a, t.c, Outcome::intoItself},   {t.b, t.f, Outcome::noSuchFolder},
        {t.b, "nowhere", Outcome::noSuchFolder}, {"nothing", kRootFolder, Outcome::noSuchItem},
    };
    for (const auto& row : rows) {
        bool edited = false;
        EXPECT_EQ(t.items.change("alice", row.uuid, row.to, [&](Item&) { edited = true; }), row.outcome)
            << row.uuid << " into " << row.to.value_or("-");
        EXPECT_FALSE(edited);
    }
    EXPECT_EQ(t.parentOf(t.a), kRootFolder);
    EXPECT_EQ(t.parentOf(t.b), t.a);
    // Another user's folder is no destination, and another user's item no source.
    ASSERT_TRUE(t.items.add([] {
        Item other;
        other.owner = "bob";
        return other;
    }()));
    EXPECT_EQ(t.items.change("bob", t.b, std::nullopt, [](Item&) {}), Outcome::noSuchItem);

    // Sideways, up to the root, and a change without a move.
    EXPECT_EQ(t.items.change("alice", t.b, t.s, [](Item& item) { item.attrib = {"moved"}; }), Outcome::changed);
    EXPECT_EQ(t.parentOf(t.b), t.s);
    EXPECT_EQ(t.items.find("alice", t.b)->attrib, Ids{"moved"});
    EXPECT_EQ(t.parentOf(t.c), t.b);
    EXPECT_EQ(t.items.change("alice", t.c, std::string(kRootFolder), [](Item&) {}), Outcome::changed);
    EXPECT_EQ(t.parentOf(t.c), kRootFolder);
    EXPECT_EQ(t.items.change("alice", t.d, std::nullopt, [](Item& item) { item.itemkey = "new"; }), Outcome::changed);
    EXPECT_EQ(t.parentOf(t.d), t.a);
    EXPECT_EQ(t.items.find("alice", t.d)->itemkey, "new");
}

TEST(ItemStoreChanges, ARemovalTakesTheWholeSubtreeAndRunsTheHooksBelowFirst) {
    Tree t;
    Ids hooked;
    Ids hookedAgain;
    t.items.addRemovalHook([&](const Item& item) { hooked.push_back(item.uuid); });
    t.items.addRemovalHook([&](const Item& item) {
        // The store is free again when a hook runs.
        EXPECT_FALSE(t.items.find("alice", item.uuid));
        hookedAgain.push_back(item.uuid);
    });

    using Outcome = ItemStore::RemoveOutcome;
    EXPECT_EQ(t.items.remove("alice", t.a, false), Outcome::notEmpty);
    EXPECT_EQ(t.items.remove("alice", t.b, false), Outcome::notEmpty);
    EXPECT_EQ(t.items.remove("bob", t.a, true), Outcome::noSuchItem);
    EXPECT_EQ(t.items.remove("alice", "nothing", true), Outcome::noSuchItem);
    EXPECT_EQ(t.ids(), (Ids{t.a, t.b, t.c, t.f, t.d, t.s}));
    EXPECT_TRUE(hooked.empty());

    // An empty folder goes without `recursive`.
    EXPECT_EQ(t.items.remove("alice", t.d, false), Outcome::removed);
    EXPECT_EQ(hooked, Ids{t.d});
    hooked.clear();
    hookedAgain.clear();

    EXPECT_EQ(t.items.remove("alice", t.a, true), Outcome::removed);
    EXPECT_EQ(t.ids(), Ids{t.s});
    EXPECT_EQ(hooked, hookedAgain);
    ASSERT_EQ(hooked.size(), 4u);
    auto at = [&](const std::string& uuid) { return std::find(hooked.begin(), hooked.end(), uuid) - hooked.begin(); };
    EXPECT_LT(at(t.c), at(t.b));
    EXPECT_LT(at(t.f), at(t.b));
    EXPECT_EQ(hooked.back(), t.a);

    // A deleted profile runs them too.
    hooked.clear();
    EXPECT_EQ(t.items.removeOwner("alice"), 1u);
    EXPECT_EQ(hooked, Ids{t.s});
}

TEST(FolderChangeEndpoints, AModificationReplacesKeyMetadataAndAttributesOrNothing) {
    Tree t;
    const Item before = *t.items.find("alice", t.b);

    // An empty body changes nothing of the record, and may move it.
    Item after = devserver::modifyDirectory(t.items, "alice", t.b, std::nullopt, "");
    EXPECT_EQ(after.itemkey, before.itemkey);
    EXPECT_EQ(after.metadata, before.metadata);
    EXPECT_EQ(after.parent, t.a);
    after = devserver::modifyDirectory(t.items, "alice", t.b, t.s, "");
    EXPECT_EQ(after.parent, t.s);
    EXPECT_EQ(after.itemkey, before.itemkey);

    const nlohmann::json body = folderBody("New");
    after = devserver::modifyDirectory(t.items, "alice", t.b, std::nullopt, body.dump());
    EXPECT_EQ(after.itemkey, body["itemkey"].get<std::string>());
    EXPECT_EQ(devserver::base64Encode(after.metadata), body["metadata"].get<std::string>());
    EXPECT_EQ(after.attrib, Ids{"a"});
    EXPECT_EQ(after.parent, t.s);

    // Refused: the whole request, the move included. B is below S now.
    nlohmann::json clearKey = folderBody();
    clearKey["itemkey"] = nlohmann::json{{"iv", devserver::base64Encode(testsupport::oracleRandom(16))},
                                         {"key", devserver::base64Encode(testsupport::oracleRandom(32))}}
                              .dump();
    struct Row {
        const char* name;
        std::string uuid;
        std::optional<std::string> to;
        std::string body;
        const char* code;
    };
    const std::vector<Row> rows = {
        {"a clear item key", t.b, t.a, clearKey.dump(), "BadRequestException"},
        {"a body of another shape", t.b, t.a, R"({"metadata":""})", "BadRequestException"},
        {"into itself", t.a, t.a, "", "BadRequestException"},
        {"below itself", t.s, t.c, folderBody().dump(), "BadRequestException"},
        {"into a file", t.a, t.f, "", "ItemNotFoundException"},
        {"the root", kRootFolder, t.a, "", "BadRequestException"},
        {"a file", t.f, std::nullopt, "", "ItemNotFoundException"},
        {"an unknown folder", "nothing", std::nullopt, "", "ItemNotFoundException"},
    };
    const auto stored = t.items.itemsOf("alice");
    for (const auto& row : rows) {
        EXPECT_EQ(refusal([&] { devserver::modifyDirectory(t.items, "alice", row.uuid, row.to, row.body); }), row.code)
            << row.name;
    }
    const auto unchanged = t.items.itemsOf("alice");
    ASSERT_EQ(unchanged.size(), stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(unchanged[i].parent, stored[i].parent);
        EXPECT_EQ(unchanged[i].itemkey, stored[i].itemkey);
    }
    EXPECT_EQ(refusal([&] { devserver::modifyDirectory(t.items, "bob", t.b, std::nullopt, ""); }),
              "ItemNotFoundException");
}

TEST(FolderTreeEndpoints, TheTreeNestsTheTopsChildrenWithOneMetadataEntryPerNode) {
    Tree t;
    devserver::User alice;
    alice.uuid = "alice";
    alice.umk = "wrapped master key";
    auto node = [](const std::string& uuid, const char* type, nlohmann::ordered_json branches) {
        nlohmann::ordered_json out;
        out["itemUUID"] = uuid;
        out["type"] = type;
        out["branches"] = std::move(branches);
        return out;
    };
    auto uuids = [](const nlohmann::ordered_json& metadata) {
        Ids out;
        for (const auto& entry : metadata) out.push_back(entry["itemUUID"].get<std::string>());
        return out;
    };
    const auto empty = nlohmann::ordered_json::array();

    const auto all = devserver::treeJson(t.items, alice, t.a, false, false);
    ASSERT_TRUE(all);
    EXPECT_EQ((*all)["umk"], "wrapped master key");
    EXPECT_EQ((*all)["tree"], nlohmann::ordered_json::array({node(t.b, "DIRECTORY",
                                                                   {node(t.c, "DIRECTORY", empty),
                                                                    node(t.f, "FILE", empty)}),
                                                              node(t.d, "DIRECTORY", empty)}));
    EXPECT_EQ(uuids((*all)["metadata"]), (Ids{t.b, t.c, t.f, t.d}));
    const auto& first = (*all)["metadata"][0];
    EXPECT_EQ(first["itemkey"], t.items.find("alice", t.b)->itemkey);
    EXPECT_EQ(first["metadata"], devserver::base64Encode(t.items.find("alice", t.b)->metadata));
    EXPECT_EQ(first.size(), 3u);

    const auto folders = devserver::treeJson(t.items, alice, t.a, true, false);
    EXPECT_EQ((*folders)["tree"], nlohmann::ordered_json::array({node(t.b, "DIRECTORY", {node(t.c, "DIRECTORY", empty)}),
                                                                  node(t.d, "DIRECTORY", empty)}));
    EXPECT_EQ(uuids((*folders)["metadata"]), (Ids{t.b, t.c, t.d}));

    const auto lazy = devserver::treeJson(t.items, alice, kRootFolder, false, true);
    EXPECT_EQ((*lazy)["tree"], nlohmann::ordered_json::array({node(t.a, "DIRECTORY", empty),
                                                               node(t.s, "DIRECTORY", empty)}));
    EXPECT_EQ(uuids((*lazy)["metadata"]), (Ids{t.a, t.s}));

    const auto leaf = devserver::treeJson(t.items, alice, t.c, false, false);
    EXPECT_EQ((*leaf)["tree"], empty);
    EXPECT_EQ((*leaf)["metadata"], empty);

    devserver::User bob;
    bob.uuid = "bob";
    EXPECT_FALSE(devserver::treeJson(t.items, bob, t.a, false, false));
    EXPECT_FALSE(devserver::treeJson(t.items, alice, t.f, false, false));
    EXPECT_TRUE(devserver::treeJson(t.items, bob, kRootFolder, false, false));
}

}  // namespace
