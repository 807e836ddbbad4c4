// The folder tree's records: what the tree job's context posts for each
// status, the answer's depth bound, and the teardown of deep trees.

#include "tree/DirectoryTreeContext.h"

#include <gtest/gtest.h>

#include <any>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TreeTestSupport.h"
#include "json/StrictJson.h"
#include "jobs/JobStatus.h"
#include "support/SharedDevserver.h"
#include "tree/RemoteDirectoryBranch.h"
#include "tree/Server_DirectoryTreeInformations.h"
#include "tree/TreeNotifications.h"

using namespace ostrelcomm;

namespace {

using Node = std::shared_ptr<RemoteDirectoryBranch>;

Node node(const std::string& uuid, std::vector<Node> branches = {}) {
    return std::make_shared<RemoteDirectoryBranch>(uuid, RemoteDirectoryBranch::LeafType::directory,
                                                   RemoteItemMetadata(uuid, treetest::date(2021, 1, 1),
                                                                      treetest::date(2021, 1, 2)),
                                                   std::move(branches));
}

// A tree body whose "tree" nests `depth` nodes, one inside the other.
std::string nestedBody(std::size_t depth) {
    std::string body = R"({"umk":"x","metadata":[],"tree":)";
    for (std::size_t i = 0; i < depth; ++i) body += R"([{"itemUUID":"n","type":"DIRECTORY","branches":)";
    body += "[]";
    for (std::size_t i = 0; i < depth; ++i) body += "}]";
    return body + "}";
}

}  // namespace

TEST(DirectoryTreeContext, TheConstructorKeepsItsParametersAndMakesASession) {
    testsupport::sharedDevserver();
    DirectoryTreeContext context("Switzerland", "TOP", true, "DIRECTORY", "t");
    EXPECT_EQ(context.topUUID, "TOP");
    EXPECT_TRUE(context.lazy);
    EXPECT_EQ(context.treeType, "DIRECTORY");
    EXPECT_EQ(context.source, "t");
    EXPECT_TRUE(context.tree.empty());
    EXPECT_EQ(context.getNextStep(), JobsSteps::directory_getTreeQuery);
    EXPECT_NE(context.httpSession, nullptr);
    EXPECT_FALSE(context.jobID || context.abortStatus || context.lastStatus || context.resumeStatus ||
                 context.httpError);
}

// A completed job posts the tree; one that failed or was aborted posts
// "Error", never "Aborted"; nothing else is posted.
TEST(DirectoryTreeContext, OnlyTheEndOfTheJobIsPostedAndAnAbortAsAnError) {
    testsupport::sharedDevserver();
    const HTTPError failure{std::string("SomeException"), HTTPErrors::badStatusCode, "failed", std::int64_t{500}};
    DirectoryTreeContext context("Switzerland", "TOP", false, "ALL", "t");
    context.tree = {node("A", {node("B")})};
    context.httpError = failure;

    for (std::size_t i = 0; i < kJobStatusCount; ++i) {
        const auto status = static_cast<JobStatus>(i);
        SCOPED_TRACE(std::string(name(status)));
        const JobNotificationData data = context.getNotificationData(status);
        if (status == JobStatus::completed) {
            EXPECT_EQ(data.name, tree::kGetDirectoryTreeTerminatedNotification);
            EXPECT_EQ(data.result, tree::kAvailable);
            ASSERT_TRUE(data.httpError);
            EXPECT_EQ(data.httpError->exception, failure.exception);
            const auto* payload = std::any_cast<tree::DirectoryTreePayload>(&data.payload);
            ASSERT_TRUE(payload);
            std::set<std::string> keys;
            for (const auto& [key, value] : *payload) keys.insert(key);
            EXPECT_EQ(keys, (std::set<std::string>{tree::kSourceKey, tree::kTopUUIDKey, tree::kTreeKey}));
            EXPECT_EQ(std::any_cast<std::string>(payload->at(tree::kSourceKey)), "t");
            EXPECT_EQ(std::any_cast<std::string>(payload->at(tree::kTopUUIDKey)), "TOP");
            const auto tree = std::any_cast<tree::DirectoryTree>(payload->at(tree::kTreeKey));
            ASSERT_EQ(tree.size(), 1u);
            // The nodes themselves, not copies.
            EXPECT_EQ(tree[0], context.tree[0]);
        } else if (status == JobStatus::error || status == JobStatus::aborted) {
            EXPECT_EQ(data.name, tree::kGetDirectoryTreeTerminatedNotification);
            EXPECT_EQ(data.result, tree::kError);
            ASSERT_TRUE(data.httpError);
            EXPECT_EQ(data.httpError->exception, failure.exception);
            EXPECT_FALSE(data.payload.has_value());
        } else {
            EXPECT_FALSE(data.name);
            EXPECT_FALSE(data.payload.has_value());
        }
    }
}

TEST(Server_DirectoryTreeInformations, ABodyDeeperThanTheParsersBoundIsRefusedUnread) {
    // Within the bound: the nesting decodes to the last level.
    auto answer = Server_DirectoryTreeInformations::fromBody(asBytes(nestedBody(200)));
    std::size_t depth = 0;
    for (const auto* level = &answer.rawData.tree; !level->empty(); level = &level->front().branches) ++depth;
    EXPECT_EQ(depth, 200u);
    // Far beyond it: refused before a recursive reader could exhaust the stack.
    EXPECT_THROW(Server_DirectoryTreeInformations::fromBody(asBytes(nestedBody(100000))), json::DecodeError);
    EXPECT_THROW(Server_DirectoryTreeInformations::fromBody(asBytes(nestedBody(json::kMaxDepth))), json::DecodeError);
    // A node must carry its children, even none.
    EXPECT_THROW(Server_DirectoryTreeInformations::fromBody(
                     asBytes(R"({"umk":"x","metadata":[],"tree":[{"itemUUID":"n","type":"FILE"}]})")),
                 json::DecodeError);
}

TEST(RemoteDirectoryBranch, ADeepTreeGoesWithoutExhaustingTheStackAndSharedNodesKeepTheirChildren) {
    {
        Node top = node("0");
        RemoteDirectoryBranch* bottom = top.get();
        for (int i = 1; i < 100000; ++i) {
            bottom->branches.push_back(node(std::to_string(i)));
            bottom = bottom->branches.back().get();
        }
    }
    Node leaf = node("leaf");
    Node middle = node("middle", {leaf});
    Node top = node("top", {middle, node("other", {node("below other")})});
    top.reset();
    ASSERT_EQ(middle->branches.size(), 1u);
    EXPECT_EQ(middle->branches[0], leaf);
    EXPECT_EQ(leaf.use_count(), 2);
}
