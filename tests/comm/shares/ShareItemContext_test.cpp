// What the share job's context posts for each status, and the body it sends.

#include <gtest/gtest.h>

#include <any>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Bytes.h"
#include "shares/ShareItemContext.h"
#include "shares/ShareNotifications.h"
#include "support/SharedDevserver.h"

namespace ostrelcomm {
namespace {

const HTTPError kError{std::string("SomeException"), HTTPErrors::badStatusCode, "failed", std::int64_t{500}};

TEST(ShareItemContext, EachStatusPostsItsWordTheErrorAndTheShareWhenKnown) {
    testsupport::sharedDevserver();
    ShareItemContext context("Switzerland", "bob", "F-1");
    EXPECT_EQ(context.getNextStep(), JobsSteps::shareItem_prepare);

    struct Row {
        JobStatus status;
        std::optional<std::string> word;  // absent: nothing posted
    };
    const std::vector<Row> rows = {
        {JobStatus::completed, shares::kShared},  {JobStatus::error, shares::kError},
        {JobStatus::aborted, shares::kError},     {JobStatus::pending, std::nullopt},
        {JobStatus::suspended, std::nullopt},     {JobStatus::deferred, std::nullopt},
        {JobStatus::resume, std::nullopt},        {JobStatus::inProgress, std::nullopt},
        {JobStatus::reqAbort, std::nullopt},      {JobStatus::aborting, std::nullopt},
    };
    for (const std::optional<std::string>& share : {std::optional<std::string>(), std::optional<std::string>("S-1")}) {
        for (bool failed : {false, true}) {
            context.shareUUID = share;
            context.httpError = failed ? std::optional<HTTPError>(kError) : std::nullopt;
            for (const Row& row : rows) {
                SCOPED_TRACE(std::string(name(row.status)) + (share ? " with a share" : "") +
                             (failed ? " after an error" : ""));
                const JobNotificationData data = context.getNotificationData(row.status);
                if (!row.word) {
                    EXPECT_FALSE(data.name);
                    EXPECT_FALSE(data.payload.has_value());
                    continue;
                }
                EXPECT_EQ(data.name, std::string(shares::kShareItemTerminatedNotification));
                EXPECT_EQ(data.result, *row.word);
                EXPECT_EQ(data.httpError.has_value(), failed);
                const auto* payload = std::any_cast<shares::ShareItemPayload>(&data.payload);
                EXPECT_EQ(payload ? std::optional<std::string>(*payload) : std::nullopt, share);
            }
        }
    }
}

TEST(ShareItemContext, TheBodyNamesPeerItemAndAlgorithmAndTheKeyOnceWrapped) {
    testsupport::sharedDevserver();
    ShareItemContext context("Switzerland", "bob", "F-1");
    EXPECT_EQ(toText(context.newSharePayload.encode()), R"({"peerUsername":"bob","itemUUID":"F-1","algorythm":"aes256"})");

    const std::string wrapped = R"({"iv":"AA==","key":"AQ=="})";
    context.newSharePayload.itemkey = wrapped;
    const auto body = nlohmann::ordered_json::parse(toText(context.newSharePayload.encode()));
    std::vector<std::string> keys;
    for (const auto& [key, value] : body.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"peerUsername", "itemUUID", "itemkey", "algorythm"}));
    // The wrapped key travels as one string, not as a nested object.
    ASSERT_TRUE(body["itemkey"].is_string());
    EXPECT_EQ(body["itemkey"], wrapped);

    ShareItemContext::NewShareData empty;
    EXPECT_EQ(toText(empty.encode()), R"({"algorythm":"aes256"})");
}

}  // namespace
}  // namespace ostrelcomm
