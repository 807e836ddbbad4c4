#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "JobsTestSupport.h"
#include "jobs/CommJobsItem.h"

namespace ostrelcomm {
namespace {

TEST(CommJobsItem, NewItemIsPendingWithNoStepsOrTexts) {
    auto context = std::make_shared<testing_jobs::PlainContext>();
    const auto before = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    CommJobsItem item(JobType::fileSend, 7, context, JobPriority::High, 42);
    const auto after = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());

    EXPECT_GE(item.timestamp, before);
    EXPECT_LE(item.timestamp, after);
    EXPECT_EQ(item.jobType, JobType::fileSend);
    EXPECT_EQ(item.priority, JobPriority::High);
    EXPECT_EQ(item.status, JobStatus::pending);
    EXPECT_EQ(item.actStep, 0u);
    EXPECT_EQ(item.jobSteps, 7u);
    EXPECT_FALSE(item.jobDetails.has_value());
    EXPECT_FALSE(item.jobInfo.has_value());
    EXPECT_EQ(item.context, context);
    EXPECT_EQ(item.index, 42u);
}

TEST(CommJobsItem, CopiesShareTheContextAndKeepItAlive) {
    std::weak_ptr<CommJobsContext> watch;
    std::optional<CommJobsItem> copy;
    {
        auto context = std::make_shared<testing_jobs::PlainContext>();
        watch = context;
        CommJobsItem item(JobType::nop, 0, context, JobPriority::Normal, 0);
        copy = item;
    }
    ASSERT_FALSE(watch.expired());
    EXPECT_EQ(copy->context, watch.lock());
    copy.reset();
    EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace ostrelcomm
