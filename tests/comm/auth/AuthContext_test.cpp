#include <gtest/gtest.h>

#include "auth/AuthContext.h"
#include "http/Http.h"

using namespace ostrelcomm;

namespace {

TEST(AuthContext, StartsAtAuthInitWithItsOwnSessionAndNothingLearnt) {
    AuthContext renew("Switzerland", SRPAuthMode::renew);
    AuthContext fresh("Switzerland", SRPAuthMode::new_);
    EXPECT_EQ(renew.getNextStep(), JobsSteps::auth_init);
    EXPECT_EQ(renew.authMode, SRPAuthMode::renew);
    EXPECT_EQ(fresh.authMode, SRPAuthMode::new_);
    ASSERT_TRUE(renew.httpSession);
    ASSERT_TRUE(fresh.httpSession);
    EXPECT_NE(renew.httpSession, fresh.httpSession);
    EXPECT_EQ(renew.httpSession->urlToUse, "Switzerland");
    EXPECT_FALSE(renew.getJobID());
    EXPECT_FALSE(renew.srpClient);
    EXPECT_TRUE(renew.srpClientPublicKey.empty());
    EXPECT_FALSE(renew.srpUserSalt);
    EXPECT_FALSE(renew.srpServerPublicKey);
    EXPECT_TRUE(renew.srpClientKeyProof.empty());
    EXPECT_FALSE(renew.masterAuthParms);
    EXPECT_FALSE(renew.abortStatus);
    EXPECT_FALSE(renew.httpError);
    EXPECT_FALSE(renew.lastStatus);
    EXPECT_FALSE(renew.resumeStatus);
}

TEST(AuthContext, NotificationForEachStatus) {
    AuthContext context("Switzerland", SRPAuthMode::new_);
    const HTTPError failure{std::string("AuthException"), HTTPErrors::badStatusCode, "refused", std::int64_t{401}};
    context.httpError = failure;

    const struct {
        JobStatus status;
        bool posted;
        const char* word;
        bool carriesError;
    } cases[] = {
        {JobStatus::completed, true, "Authenticated", true}, {JobStatus::error, true, "Error", true},
        {JobStatus::inProgress, true, "InProgress", false},  {JobStatus::aborted, true, "Aborted", true},
        {JobStatus::pending, false, "", false},              {JobStatus::suspended, false, "", false},
        {JobStatus::deferred, false, "", false},             {JobStatus::resume, false, "", false},
        {JobStatus::reqAbort, false, "", false},             {JobStatus::aborting, false, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(name(c.status)));
        const JobNotificationData data = context.getNotificationData(c.status);
        if (c.posted) {
            ASSERT_TRUE(data.name);
            EXPECT_EQ(*data.name, "SRPAuthenticated");
        } else {
            EXPECT_FALSE(data.name);
        }
        EXPECT_EQ(data.result, c.word);
        EXPECT_EQ(data.httpError.has_value(), c.carriesError);
        if (c.carriesError) {
            EXPECT_EQ(data.httpError->errDescr, "refused");
        }
        EXPECT_FALSE(data.payload.has_value());
    }
}

}  // namespace
