// What the folder job context posts for each status and notification name,
// with and without a requester tag and a result, and the folder body it
// encodes.

#include "tree/DirectoryWorksContext.h"

#include <gtest/gtest.h>

#include <any>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TreeTestSupport.h"
#include "json/StrictJson.h"
#include "platform/NotificationCenter.h"
#include "support/SharedDevserver.h"
#include "tree/NewDirectoryData.h"
#include "tree/TreeNotifications.h"

using namespace ostrelcomm;

namespace {

const HTTPError kError{std::string("SomeException"), HTTPErrors::badStatusCode, "failed", std::int64_t{500}};

std::shared_ptr<RemoteDirInfo> someListing() {
    treetest::ListingOracle oracle;
    return RemoteDirInfo::create(asBytes(oracle.body(std::nullopt, {}).dump()), oracle.passwordKey);
}

// The result a completed job carries: the listing or the identifier.
enum class Result { none, listing, identifier };

struct NameCase {
    std::string notification;
    std::string word;
    Result result;
    // The key of the result beside "source".
    const char* key;
};

std::shared_ptr<DirectoryWorksContext> make(const std::string& notification, std::optional<std::string> source) {
    return std::make_shared<DirectoryWorksContext>("U-1", "P-1", std::nullopt, "A", "Switzerland",
                                                   JobsSteps::directory_getInfoQuery, notification, std::move(source));
}

}  // namespace

TEST(DirectoryWorksContext, TheConstructorKeepsItsParametersAndMakesASession) {
    testsupport::sharedDevserver();
    DirectoryWorksContext context(std::nullopt, "P", "N", "A", "Switzerland", JobsSteps::directory_createPrepare,
                                  tree::kNewRemoteDirectoryCreatedNotification, "t");
    EXPECT_FALSE(context.uuid);
    EXPECT_EQ(context.parentuuid, "P");
    EXPECT_EQ(context.newparentuuid, "N");
    EXPECT_EQ(context.name, "A");
    EXPECT_EQ(context.source, "t");
    EXPECT_EQ(context.getNextStep(), JobsSteps::directory_createPrepare);
    EXPECT_EQ(context.notificationName, tree::kNewRemoteDirectoryCreatedNotification);
    EXPECT_NE(context.httpSession, nullptr);
    EXPECT_FALSE(context.jobID || context.recursive || context.metadata || context.uk || context.itemKey ||
                 context.attrib || context.remoteDirInfo || context.abortStatus || context.lastStatus ||
                 context.resumeStatus || context.httpError);
}

TEST(DirectoryWorksContext, EachStatusPostsItsWordAndACompletionItsResult) {
    testsupport::sharedDevserver();
    const std::vector<NameCase> names = {
        {tree::kQueryRemoteDirectoryContentNotification, tree::kReceived, Result::listing, tree::kDirInfoKey},
        {tree::kNewRemoteDirectoryCreatedNotification, tree::kCreated, Result::identifier, tree::kUuidKey},
        {tree::kDirectoryPropertiesModifiedNotification, tree::kModified, Result::identifier, tree::kUuidKey},
        {tree::kDirectoryDeletedNotification, tree::kDeleted, Result::identifier, tree::kUuidKey},
        // Names are matched exactly.
        {"somethingElse", tree::kCompleted, Result::none, nullptr},
        {"QueryRemoteDirectoryContent", tree::kCompleted, Result::none, nullptr},
    };
    const auto listing = someListing();
    for (const auto& n : names) {
        for (const std::optional<std::string>& source : {std::optional<std::string>(), std::optional<std::string>("t")}) {
            for (bool withResult : {true, false}) {
                SCOPED_TRACE(n.notification + (source ? " tagged" : " untagged") +
                             (withResult ? " with a result" : " without one"));
                auto context = make(n.notification, source);
                context->httpError = kError;
                if (withResult) {
                    context->remoteDirInfo = listing;
                } else {
                    context->uuid.reset();
                }

                const JobNotificationData started = context->getNotificationData(JobStatus::inProgress);
                EXPECT_EQ(started.name, n.notification);
                EXPECT_EQ(started.result, tree::kStarted);
                EXPECT_FALSE(started.httpError);
                EXPECT_FALSE(started.payload.has_value());

                // An error carries the request's error, never a payload.
                const JobNotificationData failed = context->getNotificationData(JobStatus::error);
                EXPECT_EQ(failed.name, n.notification);
                EXPECT_EQ(failed.result, tree::kError);
                ASSERT_TRUE(failed.httpError);
                EXPECT_EQ(failed.httpError->errDescr, "failed");
                EXPECT_FALSE(failed.payload.has_value());

                const JobNotificationData aborted = context->getNotificationData(JobStatus::aborted);
                EXPECT_EQ(aborted.name, n.notification);
                EXPECT_EQ(aborted.result, tree::kAborted);
                EXPECT_FALSE(aborted.httpError);
                EXPECT_FALSE(aborted.payload.has_value());

                for (JobStatus silent : {JobStatus::pending, JobStatus::suspended, JobStatus::deferred,
                                         JobStatus::resume, JobStatus::reqAbort, JobStatus::aborting}) {
                    const JobNotificationData data = context->getNotificationData(silent);
                    EXPECT_FALSE(data.name) << name(silent);
                    EXPECT_FALSE(data.payload.has_value()) << name(silent);
                }

                const JobNotificationData done = context->getNotificationData(JobStatus::completed);
                EXPECT_EQ(done.name, n.notification);
                EXPECT_EQ(done.result, n.word);
                ASSERT_TRUE(done.httpError);
                if (n.result == Result::none) {
                    EXPECT_FALSE(done.payload.has_value());
                    continue;
                }
                const std::any* value = &done.payload;
                if (source) {
                    const auto* tagged = std::any_cast<tree::TaggedPayload>(&done.payload);
                    ASSERT_TRUE(tagged);
                    ASSERT_EQ(tagged->size(), 2u);
                    EXPECT_EQ(std::any_cast<std::string>(tagged->at(tree::kSourceKey)), "t");
                    ASSERT_TRUE(tagged->count(n.key));
                    value = &tagged->at(n.key);
                    // Both keys are there; an absent result is the null object.
                    if (!withResult) {
                        EXPECT_TRUE(isNullObject(*value));
                        continue;
                    }
                } else if (!withResult) {
                    EXPECT_FALSE(value->has_value());
                    continue;
                }
                if (n.result == Result::listing) {
                    const auto* dirInfo = std::any_cast<tree::DirInfoPayload>(value);
                    ASSERT_TRUE(dirInfo);
                    EXPECT_EQ(*dirInfo, listing);
                } else {
                    const auto* uuid = std::any_cast<tree::ItemUuidPayload>(value);
                    ASSERT_TRUE(uuid);
                    EXPECT_EQ(*uuid, "U-1");
                }
            }
        }
    }
}

TEST(NewDirectoryData, WritesWhatIsPresentInOrderAndReadsWhateverIsMissing) {
    NewDirectoryData creation{std::vector<std::string>{}, R"({"iv":"AA==","key":"AQ=="})", Bytes{0xfb, 0xff}};
    EXPECT_EQ(toText(creation.encode()),
              R"({"attrib":[],"itemkey":"{\"iv\":\"AA==\",\"key\":\"AQ==\"}","metadata":"+/8="})");
    EXPECT_EQ(toText(NewDirectoryData{}.encode()), "{}");
    EXPECT_EQ(toText(NewDirectoryData{std::vector<std::string>{"a", "b"}, std::nullopt, std::nullopt}.encode()),
              R"({"attrib":["a","b"]})");

    const NewDirectoryData back = NewDirectoryData::decode(creation.encode());
    EXPECT_EQ(back.attrib, std::vector<std::string>{});
    EXPECT_EQ(back.itemkey, creation.itemkey);
    EXPECT_EQ(back.metadata, creation.metadata);

    for (const char* body : {"{}", R"({"attrib":null,"itemkey":null,"metadata":null})"}) {
        const NewDirectoryData empty = NewDirectoryData::decode(asBytes(body));
        EXPECT_FALSE(empty.attrib || empty.itemkey || empty.metadata) << body;
    }
    for (const char* body : {"[]", R"({"attrib":"a"})", R"({"attrib":[1]})", R"({"itemkey":{"iv":"AA=="}})",
                             R"({"metadata":"+/8"})", "{"}) {
        EXPECT_THROW(NewDirectoryData::decode(asBytes(body)), json::DecodeError) << body;
    }
}
