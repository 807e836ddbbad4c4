#include <gtest/gtest.h>

#include <any>
#include <string>

#include "JobsTestSupport.h"
#include "jobs/CommJobBasicContext.h"

namespace ostrelcomm {
namespace {

using Payload = CommJobBasicContext::Payload;

HTTPError sampleError() {
    return HTTPError{std::string("SessionException"), HTTPErrors::badStatusCode, "Session expired",
                     std::int64_t{401}};
}

TEST(CommJobBasicContext, StartsAtItsFirstStepWithNothingElseSet) {
    CommJobBasicContext context(JobsSteps::auth_logout, nullptr, "logoutDone");
    EXPECT_EQ(context.getNextStep(), JobsSteps::auth_logout);
    EXPECT_EQ(context.notificationName, "logoutDone");
    EXPECT_EQ(context.httpSession, nullptr);
    EXPECT_FALSE(context.getJobID().has_value());
    EXPECT_FALSE(context.abortStatus.has_value());
    EXPECT_FALSE(context.httpError.has_value());
    EXPECT_FALSE(context.lastStatus.has_value());
    EXPECT_FALSE(context.resumeStatus.has_value());
    EXPECT_FALSE(context.notificationData.has_value());

    context.setJobID("ABC");
    context.setNextStep(JobsSteps::user_getProfile_wait);
    EXPECT_EQ(context.getJobID(), "ABC");
    EXPECT_EQ(context.getNextStep(), JobsSteps::user_getProfile_wait);
}

// Every status, with the answer the context gives for it.
TEST(CommJobBasicContext, NotificationDataFollowsTheStatus) {
    CommJobBasicContext context(JobsSteps::user_getProfile, nullptr, "profileDone");
    context.httpError = sampleError();
    for (JobStatus status : testing_jobs::allStatuses()) {
        SCOPED_TRACE(std::string(name(status)));
        const JobNotificationData data = context.getNotificationData(status);
        switch (status) {
            case JobStatus::completed: {
                EXPECT_EQ(data.name, "profileDone");
                EXPECT_EQ(data.result, "Completed");
                ASSERT_TRUE(data.httpError.has_value());
                EXPECT_EQ(data.httpError->errDescr, "Session expired");
                const auto* payload = std::any_cast<Payload>(&data.payload);
                ASSERT_NE(payload, nullptr);
                ASSERT_EQ(payload->size(), 1u);
                ASSERT_EQ(payload->count("notificationData"), 1u);
                EXPECT_FALSE(payload->at("notificationData").has_value());
                break;
            }
            case JobStatus::error:
            case JobStatus::aborted:
                EXPECT_EQ(data.name, "profileDone");
                EXPECT_EQ(data.result, "Error");
                ASSERT_TRUE(data.httpError.has_value());
                EXPECT_EQ(data.httpError->error, HTTPErrors::badStatusCode);
                EXPECT_EQ(std::get<std::int64_t>(data.httpError->extInfo), 401);
                EXPECT_FALSE(data.payload.has_value());
                break;
            default:
                EXPECT_FALSE(data.name.has_value());
                EXPECT_EQ(data.result, "");
                EXPECT_FALSE(data.httpError.has_value());
                EXPECT_FALSE(data.payload.has_value());
        }
    }
}

TEST(CommJobBasicContext, CompletedPayloadCarriesTheStoredValue) {
    CommJobBasicContext context(JobsSteps::user_getProfile, nullptr, "profileDone");
    context.notificationData = std::string("profile");
    const JobNotificationData data = context.getNotificationData(JobStatus::completed);
    EXPECT_FALSE(data.httpError.has_value());
    const auto* payload = std::any_cast<Payload>(&data.payload);
    ASSERT_NE(payload, nullptr);
    const auto* stored = std::any_cast<std::string>(&payload->at("notificationData"));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(*stored, "profile");
}

}  // namespace
}  // namespace ostrelcomm
