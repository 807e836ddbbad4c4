#include "xfer/FileSendContext.h"

#include <gtest/gtest.h>

#include <any>
#include <filesystem>
#include <string>
#include <typeinfo>
#include <vector>

#include "http/Http.h"
#include "xfer/XferNotifications.h"

using namespace ostrelcomm;

namespace {

std::shared_ptr<FileSendContext> makeContext(std::optional<std::string> parent, std::int64_t size) {
    RemoteItemMetadata metadata("a.pdf", std::chrono::sys_seconds{}, std::chrono::sys_seconds{});
    return std::make_shared<FileSendContext>("Switzerland", "/tmp/a.pdf", std::move(parent), size, metadata,
                                             std::nullopt, false, FileSendContext::kBlockSize, "tag");
}

template <class T>
const T& entry(const xfer::LocalFileUploadPayload& payload, const char* key) {
    const std::any& value = payload.at(key);
    EXPECT_EQ(value.type(), typeid(T)) << key;
    static const T none{};
    const T* typed = std::any_cast<T>(&value);
    return typed != nullptr ? *typed : none;
}

}  // namespace

TEST(FileSendContext, StartsAtPrepareAbortsAndResumesThroughItsOwnSteps) {
    auto context = makeContext(std::nullopt, 10);
    EXPECT_EQ(context->getNextStep(), JobsSteps::fileSend_prepare);
    EXPECT_EQ(context->abortStatus, JobsSteps::fileSend_abort);
    EXPECT_EQ(context->resumeStatus, JobsSteps::fileSend_resume);
    EXPECT_FALSE(context->lastStatus);
    ASSERT_TRUE(context->httpSession);
    const auto first = context->httpSession;
    context->prepareResume("Switzerland");
    EXPECT_NE(context->httpSession, first);
}

TEST(FileSendContext, BlockRangesStopAtTheFilesLastByte) {
    struct Row {
        std::int64_t size;
        std::uint64_t block;
        std::uint64_t begin;
        std::uint64_t end;
    };
    const std::vector<Row> rows = {
        {10, 0, 0, 9},
        {4'194'304, 0, 0, 4'194'303},
        {4'194'305, 0, 0, 4'194'303},
        {4'194'305, 1, 4'194'304, 4'194'304},
        {10 * 1024 * 1024, 2, 8'388'608, 10'485'759},
    };
    for (const auto& row : rows) {
        auto context = makeContext(std::nullopt, row.size);
        context->blockNum = row.block;
        EXPECT_EQ(context->blockBegin(), row.begin) << row.size << " #" << row.block;
        EXPECT_EQ(context->blockEnd(), row.end) << row.size << " #" << row.block;
    }
}

TEST(FileSendContext, EveryAnnouncedStatusCarriesTheNineEntriesWithTheirTypes) {
    struct Row {
        JobStatus status;
        const char* result;
    };
    const std::vector<Row> rows = {{JobStatus::inProgress, xfer::kSending},
                                   {JobStatus::completed, xfer::kSent},
                                   {JobStatus::error, xfer::kError},
                                   {JobStatus::aborted, xfer::kAborted}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.result);
        auto context = makeContext(std::nullopt, 5'000'000);
        context->setJobID("JOB");
        context->itemUUID = "ITEM";
        context->blockNum = 1;
        context->totalBlocks = 2;
        context->sentBlockSize = 805'696;
        context->isResumed = true;
        context->httpError = HTTPError{"X", HTTPErrors::badStatusCode, "d", {}};
        JobNotificationData data = context->getNotificationData(row.status);
        EXPECT_EQ(data.name, std::string(xfer::kLocalFileUploadNotification));
        EXPECT_EQ(data.result, row.result);
        ASSERT_TRUE(data.httpError);
        const auto* payload = std::any_cast<xfer::LocalFileUploadPayload>(&data.payload);
        ASSERT_NE(payload, nullptr);
        EXPECT_EQ(payload->size(), 9u);
        EXPECT_EQ(entry<std::string>(*payload, xfer::kSourceKey), "tag");
        EXPECT_EQ(entry<std::string>(*payload, xfer::kJobIDKey), "JOB");
        EXPECT_EQ(entry<std::filesystem::path>(*payload, xfer::kLocalURLKey), "/tmp/a.pdf");
        EXPECT_EQ(entry<std::string>(*payload, xfer::kRemoteParentUUIDKey), xfer::kNoRemoteParent);
        EXPECT_EQ(entry<std::string>(*payload, xfer::kUUIDKey), "ITEM");
        EXPECT_EQ(entry<std::int32_t>(*payload, xfer::kBlockSizeKey), 805'696);
        EXPECT_EQ(entry<std::uint64_t>(*payload, xfer::kBlockNumKey), 1u);
        EXPECT_EQ(entry<std::uint64_t>(*payload, xfer::kTotalBlocksKey), 2u);
        EXPECT_TRUE(entry<bool>(*payload, xfer::kIsResumedKey));
        EXPECT_FALSE(context->isResumed);
    }
}

TEST(FileSendContext, OtherStatusesAnnounceNothingButStillClearTheResumeMark) {
    for (auto status : {JobStatus::pending, JobStatus::deferred, JobStatus::reqAbort, JobStatus::aborting}) {
        auto context = makeContext("PARENT", 1);
        context->isResumed = true;
        JobNotificationData data = context->getNotificationData(status);
        EXPECT_FALSE(data.name) << name(status);
        EXPECT_FALSE(context->isResumed);
    }
    auto context = makeContext("PARENT", 1);
    const auto data = context->getNotificationData(JobStatus::inProgress);
    const auto& payload = std::any_cast<const xfer::LocalFileUploadPayload&>(data.payload);
    EXPECT_EQ(std::any_cast<std::string>(payload.at(xfer::kRemoteParentUUIDKey)), "PARENT");
    EXPECT_EQ(std::any_cast<std::string>(payload.at(xfer::kUUIDKey)), "");
    EXPECT_EQ(std::any_cast<std::string>(payload.at(xfer::kJobIDKey)), "");
}
