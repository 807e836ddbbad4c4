// What the file job context posts for each status and notification name,
// the information job's payload with and without a tag and metadata, and
// the modification body it sends.

#include "tree/FileWorksContext.h"

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
#include "tree/FileNewData.h"
#include "tree/TreeNotifications.h"

using namespace ostrelcomm;

namespace {

const HTTPError kError{std::string("SomeException"), HTTPErrors::badStatusCode, "failed", std::int64_t{500}};

std::shared_ptr<FileWorksContext> make(const std::string& notification) {
    return std::make_shared<FileWorksContext>("F-1", std::nullopt, "Switzerland", JobsSteps::file_getInfoQuery,
                                              notification);
}

RemoteItemMetadata someMetadata() { return RemoteItemMetadata("A.txt", treetest::date(2021, 1, 2), treetest::date(2022, 3, 4)); }

}  // namespace

TEST(FileWorksContext, BothConstructorsKeepTheirParametersAndMakeASession) {
    testsupport::sharedDevserver();
    const FileWorksContext plain("F", "P", "Switzerland", JobsSteps::file_delete, tree::kDeleteFileNotification);
    EXPECT_EQ(plain.uuid, "F");
    EXPECT_EQ(plain.parentuuid, "P");
    EXPECT_EQ(plain.getNextStep(), JobsSteps::file_delete);
    EXPECT_EQ(plain.notificationName, tree::kDeleteFileNotification);
    EXPECT_NE(plain.httpSession, nullptr);
    EXPECT_FALSE(plain.jobID || plain.abortStatus || plain.newUUID || plain.name || plain.thumbnail || plain.umk ||
                 plain.sharingKey || plain.fileKey || plain.attrib || plain.metadata || plain.newMetadata ||
                 plain.source || plain.httpError || plain.lastStatus || plain.resumeStatus);
    EXPECT_FALSE(plain.metadataIsPlaceholder);
    EXPECT_TRUE(plain.notificationData.empty());

    const RemoteItemThumbnail thumbnail("image/jpeg", Bytes{1, 2});
    const FileWorksContext modification("F", std::nullopt, someMetadata(), thumbnail, "Switzerland",
                                        JobsSteps::file_modifyPrepare, tree::kFilePropertiesModificationNotification);
    EXPECT_FALSE(modification.parentuuid);
    EXPECT_EQ(modification.newMetadata, someMetadata());
    EXPECT_EQ(modification.thumbnail, thumbnail);
    EXPECT_EQ(modification.getNextStep(), JobsSteps::file_modifyPrepare);
    EXPECT_NE(modification.httpSession, nullptr);
    EXPECT_NE(modification.httpSession, plain.httpSession);
}

TEST(FileWorksContext, EachStatusPostsItsWordAndACompletionItsResult) {
    testsupport::sharedDevserver();
    struct Row {
        std::string notification;
        std::string word;
        // What "CustomData" holds: the file's identifier, the copy's new
        // identifier (when set), or nothing.
        enum { identifier, newIdentifier, none } payload;
    };
    const std::vector<Row> rows = {
        {tree::kFilePropertiesModificationNotification, tree::kModified, Row::identifier},
        {tree::kDeleteFileNotification, tree::kDeleted, Row::identifier},
        {tree::kFileCopyNotification, tree::kCopied, Row::newIdentifier},
        // Names are matched exactly.
        {"somethingElse", tree::kCompleted, Row::none},
        {"GetFileInfo", tree::kCompleted, Row::none},
    };
    for (const auto& row : rows) {
        for (bool withNewUUID : {false, true}) {
            SCOPED_TRACE(row.notification + (withNewUUID ? " with a new identifier" : ""));
            auto context = make(row.notification);
            context->httpError = kError;
            context->source = "t";
            if (withNewUUID) context->newUUID = "N-1";

            const JobNotificationData started = context->getNotificationData(JobStatus::inProgress);
            EXPECT_EQ(started.name, row.notification);
            EXPECT_EQ(started.result, tree::kStarted);
            EXPECT_FALSE(started.httpError || started.payload.has_value());

            const JobNotificationData failed = context->getNotificationData(JobStatus::error);
            EXPECT_EQ(failed.result, tree::kError);
            ASSERT_TRUE(failed.httpError);
            EXPECT_EQ(failed.httpError->errDescr, "failed");
            EXPECT_FALSE(failed.payload.has_value());

            // Aborted says nothing of the failure the context holds.
            const JobNotificationData aborted = context->getNotificationData(JobStatus::aborted);
            EXPECT_EQ(aborted.name, row.notification);
            EXPECT_EQ(aborted.result, tree::kAborted);
            EXPECT_FALSE(aborted.httpError || aborted.payload.has_value());

            for (JobStatus silent : {JobStatus::pending, JobStatus::suspended, JobStatus::deferred, JobStatus::resume,
                                     JobStatus::reqAbort, JobStatus::aborting}) {
                const JobNotificationData data = context->getNotificationData(silent);
                EXPECT_FALSE(data.name) << name(silent);
                EXPECT_FALSE(data.payload.has_value()) << name(silent);
            }

            const JobNotificationData done = context->getNotificationData(JobStatus::completed);
            EXPECT_EQ(done.name, row.notification);
            EXPECT_EQ(done.result, row.word);
            EXPECT_TRUE(done.httpError);
            const auto* identifier = std::any_cast<tree::ItemUuidPayload>(&done.payload);
            switch (row.payload) {
                case Row::identifier:
                    ASSERT_TRUE(identifier);
                    EXPECT_EQ(*identifier, "F-1");
                    break;
                case Row::newIdentifier:
                    if (withNewUUID) {
                        ASSERT_TRUE(identifier);
                        EXPECT_EQ(*identifier, "N-1");
                    } else {
                        EXPECT_FALSE(done.payload.has_value());
                    }
                    break;
                case Row::none: EXPECT_FALSE(done.payload.has_value()); break;
            }
        }
    }
    // A completion without a failure left posts none.
    auto clean = make(tree::kDeleteFileNotification);
    EXPECT_FALSE(clean->getNotificationData(JobStatus::completed).httpError);
}

// The information job hands back exactly {"source", "fileInfo"}, tag or not,
// with the null object for what is absent.
TEST(FileWorksContext, TheInformationPayloadAlwaysHoldsBothKeys) {
    testsupport::sharedDevserver();
    for (const std::optional<std::string>& source : {std::optional<std::string>(), std::optional<std::string>("t")}) {
        for (bool withMetadata : {true, false}) {
            SCOPED_TRACE(std::string(source ? "tagged" : "untagged") + (withMetadata ? " with metadata" : ""));
            auto context = make(tree::kGetFileInfoNotification);
            context->source = source;
            if (withMetadata) context->metadata = someMetadata();
            const JobNotificationData done = context->getNotificationData(JobStatus::completed);
            EXPECT_EQ(done.result, tree::kReceived);
            EXPECT_FALSE(done.httpError);
            const auto* payload = std::any_cast<tree::FileInfoPayload>(&done.payload);
            ASSERT_TRUE(payload);
            ASSERT_EQ(payload->size(), 2u);
            const std::any& tag = payload->at(tree::kSourceKey);
            if (source) {
                ASSERT_TRUE(std::any_cast<std::string>(&tag));
                EXPECT_EQ(std::any_cast<std::string>(tag), "t");
            } else {
                EXPECT_TRUE(isNullObject(tag));
            }
            const std::any& info = payload->at(tree::kFileInfoKey);
            if (withMetadata) {
                const auto* metadata = std::any_cast<tree::FileInfoMetadata>(&info);
                ASSERT_TRUE(metadata);
                EXPECT_EQ(*metadata, someMetadata());
            } else {
                EXPECT_TRUE(isNullObject(info));
            }
            EXPECT_FALSE(context->getNotificationData(JobStatus::error).payload.has_value());
        }
    }
}

TEST(FileNewData, WritesWhatIsPresentInOrderAndReadsWhateverIsMissing) {
    const FileNewData all{std::vector<std::string>{}, std::string("D-1"), Bytes{0xfb, 0xff}, Bytes{0}};
    EXPECT_EQ(toText(all.encode()), R"({"attrib":[],"parentUUID":"D-1","metadata":"+/8=","thumbnail":"AA=="})");
    EXPECT_EQ(toText(FileNewData{}.encode()), "{}");
    EXPECT_EQ(toText(FileNewData{std::vector<std::string>{"a"}, std::nullopt, Bytes{1}, std::nullopt}.encode()),
              R"({"attrib":["a"],"metadata":"AQ=="})");

    const FileNewData back = FileNewData::decode(all.encode());
    EXPECT_EQ(back.attrib, std::vector<std::string>{});
    EXPECT_EQ(back.parentUUID, "D-1");
    EXPECT_EQ(back.metadata, all.metadata);
    EXPECT_EQ(back.thumbnail, all.thumbnail);

    for (const char* body : {"{}", R"({"attrib":null,"parentUUID":null,"metadata":null,"thumbnail":null})"}) {
        const FileNewData empty = FileNewData::decode(asBytes(body));
        EXPECT_FALSE(empty.attrib || empty.parentUUID || empty.metadata || empty.thumbnail) << body;
    }
    for (const char* body : {"[]", R"({"attrib":"a"})", R"({"parentUUID":1})", R"({"metadata":"+/8"})",
                             R"({"thumbnail":"A A="})", "{"}) {
        EXPECT_THROW(FileNewData::decode(asBytes(body)), json::DecodeError) << body;
    }
}
