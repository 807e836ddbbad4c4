#include <gtest/gtest.h>

#include <memory>

#include "TreeTestSupport.h"
#include "json/StrictJson.h"
#include "tree/RemoteDirectoryBranch.h"
#include "tree/RemoteItemInfo.h"
#include "tree/RemoteItemType.h"

using namespace ostrelcomm;
using treetest::date;

TEST(RemoteItemType, RawValuesExactlyAsListed) {
    const struct {
        const char* raw;
        std::optional<RemoteItemType> type;
    } rows[] = {
        {"ROOT", RemoteItemType::ROOT}, {"FILE", RemoteItemType::FILE}, {"DIRECTORY", RemoteItemType::DIRECTORY},
        {"root", std::nullopt},         {"Directory", std::nullopt},    {"", std::nullopt},
        {"FOLDER", std::nullopt},       {"FILE ", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(remoteItemTypeFromRaw(row.raw), row.type) << row.raw;
        const auto text = json::Json(row.raw);
        if (row.type) {
            EXPECT_EQ(text.get<RemoteItemType>(), *row.type);
            EXPECT_EQ(rawValue(*row.type), row.raw);
        } else {
            EXPECT_THROW((void)text.get<RemoteItemType>(), json::DecodeError) << row.raw;
        }
    }
    EXPECT_THROW((void)json::Json(2).get<RemoteItemType>(), json::DecodeError);
    EXPECT_THROW((void)json::Json::parse(R"({"type":"FILE"})").get<RemoteItemType>(), json::DecodeError);
    EXPECT_EQ(json::dump(json::OrderedJson(RemoteItemType::DIRECTORY)), R"("DIRECTORY")");
}

TEST(RemoteDirectoryBranch, TreeTypeTextGivesTheLeafType) {
    using L = RemoteDirectoryBranch::LeafType;
    for (const auto& [text, leaf] : {std::pair{"DIRECTORY", L::directory}, std::pair{"FILE", L::file},
                                     std::pair{"ROOT", L::unknown}, std::pair{"directory", L::unknown},
                                     std::pair{"", L::unknown}, std::pair{"LINK", L::unknown}})
        EXPECT_EQ(RemoteDirectoryBranch::leafTypeFromTreeType(text), leaf) << text;
}

TEST(RemoteDirectoryBranch, HandlesShareOneNode) {
    const RemoteItemMetadata metadata("Photos", date(2021, 1, 1), date(2021, 1, 2));
    auto child = std::make_shared<RemoteDirectoryBranch>("C", RemoteDirectoryBranch::LeafType::file, metadata,
                                                         std::vector<std::shared_ptr<RemoteDirectoryBranch>>{});
    auto node = std::make_shared<RemoteDirectoryBranch>(
        "N", RemoteDirectoryBranch::LeafType::unknown, metadata,
        std::vector<std::shared_ptr<RemoteDirectoryBranch>>{child});
    auto other = node;
    other->metadata.name = "Renamed";
    other->branches.front()->uuid = "C2";
    other->branches.push_back(child);
    EXPECT_EQ(node->metadata.name, "Renamed");
    EXPECT_EQ(node->type, RemoteDirectoryBranch::LeafType::unknown);
    ASSERT_EQ(node->branches.size(), 2u);
    EXPECT_EQ(child->uuid, "C2");
}

TEST(RemoteItemInfo, CopiesAreIndependent) {
    const RemoteItemInfo original{"U",
                                  RemoteItemType::FILE,
                                  "P",
                                  10,
                                  {"a"},
                                  treetest::itemKey(Bytes(32, 1)),
                                  RemoteItemMetadata("n", date(2021, 1, 1), date(2021, 1, 1)),
                                  3};
    RemoteItemInfo copy = original;
    copy.metadata.name = "m";
    copy.attrib.push_back("b");
    copy.parentuuid.reset();
    copy.filekey.key.key = SecretBytes(Bytes(32, 2));
    copy.orig_size = 11;
    EXPECT_EQ(original.metadata.name, "n");
    EXPECT_EQ(original.attrib, std::vector<std::string>{"a"});
    EXPECT_EQ(original.parentuuid, "P");
    EXPECT_EQ(original.filekey.key.key, SecretBytes(Bytes(32, 1)));
    EXPECT_EQ(original.orig_size, 10u);
}
