// The case names are behaviour (the engine reads step names; the application
// shows them), so each list below is written out by hand, in declaration
// order, and compared with the whole enumeration.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs/JobPriority.h"
#include "jobs/JobStatus.h"
#include "jobs/JobType.h"
#include "jobs/JobsSteps.h"
#include "jobs/UserAuthStatus.h"

namespace ostrelcomm {
namespace {

template <class E>
std::vector<std::string> namesOf(std::size_t count) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < count; ++i) out.emplace_back(name(static_cast<E>(i)));
    return out;
}

TEST(JobEnumerations, JobTypeNamesInOrder) {
    const std::vector<std::string> expected = {"nop",
                                               "userAdd",
                                               "getProfile",
                                               "getShareProfile",
                                               "getSessionsInformations",
                                               "deleteProfile",
                                               "modifyUser",
                                               "authenticate",
                                               "logout",
                                               "fileSend",
                                               "fileReceive",
                                               "getFolderInfo",
                                               "createFolder",
                                               "getDirectoryTree",
                                               "getFileInfo",
                                               "fileModify",
                                               "fileCopy",
                                               "fileDelete",
                                               "directoryModify",
                                               "directoryDelete",
                                               "addTrustedUser",
                                               "listTrusts",
                                               "removeTrust",
                                               "shareItem",
                                               "removeShare",
                                               "queryForShares",
                                               "queryForSharingPeers",
                                               "queryForSharedItems"};
    ASSERT_EQ(expected.size(), 28u);
    EXPECT_EQ(kJobTypeCount, expected.size());
    EXPECT_EQ(namesOf<JobType>(kJobTypeCount), expected);
}

TEST(JobEnumerations, JobStatusNamesInOrder) {
    const std::vector<std::string> expected = {"pending",   "suspended", "deferred",   "resume",
                                               "completed", "error",     "inProgress", "reqAbort",
                                               "aborting",  "aborted"};
    EXPECT_EQ(kJobStatusCount, expected.size());
    EXPECT_EQ(namesOf<JobStatus>(kJobStatusCount), expected);
}

TEST(JobEnumerations, UserAuthStatusNamesInOrder) {
    const std::vector<std::string> expected = {
        "notAuthenticated", "inProgress", "renewAuthentication", "authFullAccess", "authError"};
    EXPECT_EQ(kUserAuthStatusCount, expected.size());
    EXPECT_EQ(namesOf<UserAuthStatus>(kUserAuthStatusCount), expected);
}

TEST(JobEnumerations, JobsStepsNamesInOrder) {
    const std::vector<std::string> expected = {"idle",
                                               "user_create",
                                               "user_create_wait",
                                               "user_getProfile",
                                               "user_getProfile_wait",
                                               "user_getShareProfile",
                                               "user_getShareProfile_wait",
                                               "user_renewAuthenticationForDelete",
                                               "user_deleteProfile",
                                               "user_deleteProfile_wait",
                                               "user_renewAuthenticationForModification",
                                               "user_getKeys",
                                               "user_getKeys_wait",
                                               "user_storeKeys",
                                               "user_storeKeys_wait",
                                               "user_getSessions",
                                               "user_getSessions_wait",
                                               "auth_init",
                                               "auth_init_wait",
                                               "auth_getchallenge",
                                               "auth_getchallenge_wait",
                                               "auth_logout",
                                               "fileSend_prepare",
                                               "fileSend_prepare_wait",
                                               "fileSend_sendBlock",
                                               "fileSend_sendBlock_wait",
                                               "fileSend_finalize",
                                               "fileSend_finalize_wait",
                                               "fileSend_terminate",
                                               "fileSend_terminate_wait",
                                               "fileSend_abort",
                                               "fileSend_abort_wait",
                                               "fileSend_resume",
                                               "fileReceive_prepare",
                                               "fileReceive_prepare_wait",
                                               "fileReceive_getBlock",
                                               "fileReceive_getBlock_wait",
                                               "fileReceive_terminate",
                                               "fileReceive_abort",
                                               "directory_getInfoQuery",
                                               "directory_getInfoQuery_wait",
                                               "directory_getTreeQuery",
                                               "directory_getTreeQuery_wait",
                                               "directory_createPrepare",
                                               "directory_createPrepare_wait",
                                               "directory_createExecute",
                                               "directory_createExecute_wait",
                                               "file_getInfoQuery",
                                               "file_getInfoQuery_wait",
                                               "file_modifyPrepare",
                                               "file_modifyPrepare_wait",
                                               "file_modifyExecute",
                                               "file_modifyExecute_wait",
                                               "file_copyPrepare",
                                               "file_copyPrepare_wait",
                                               "file_copyExecute",
                                               "file_copyExecute_wait",
                                               "file_delete",
                                               "file_delete_wait",
                                               "directory_modifyPrepare",
                                               "directory_renamePrepare_wait",
                                               "directory_modifyExecute",
                                               "directory_renameExecute_wait",
                                               "directory_delete",
                                               "directory_delete_wait",
                                               "share_addTrustedUser",
                                               "share_addTrustedUser_wait",
                                               "share_listTrusts",
                                               "share_listTrusts_wait",
                                               "share_removeTrust",
                                               "share_removeTrust_wait",
                                               "shareItem_prepare",
                                               "shareItem_prepare_wait",
                                               "shareItem_execute",
                                               "shareItem_execute_wait",
                                               "share_queryForSharingPeers",
                                               "share_queryForSharingPeers_wait",
                                               "share_queryForShares",
                                               "share_queryForShares_wait",
                                               "share_queryForSharedItems",
                                               "share_queryForSharedItems_wait",
                                               "share_removeShare",
                                               "share_removeShare_wait"};
    ASSERT_EQ(expected.size(), 83u);
    EXPECT_EQ(kJobsStepsCount, expected.size());
    EXPECT_EQ(namesOf<JobsSteps>(kJobsStepsCount), expected);
}

TEST(JobEnumerations, WaitStepsAreTheThirtyEightNamedSo) {
    std::size_t waits = 0;
    for (std::size_t i = 0; i < kJobsStepsCount; ++i)
        if (isWaitStep(static_cast<JobsSteps>(i))) ++waits;
    EXPECT_EQ(waits, 38u);
    EXPECT_FALSE(isWaitStep(JobsSteps::idle));
    EXPECT_FALSE(isWaitStep(JobsSteps::directory_modifyPrepare));
    EXPECT_TRUE(isWaitStep(JobsSteps::directory_renamePrepare_wait));
    EXPECT_TRUE(isWaitStep(JobsSteps::share_removeShare_wait));
}

TEST(JobEnumerations, JobPriorityNamesAndRawValues) {
    struct Case {
        const char* name;
        int raw;
    };
    const std::vector<Case> expected = {
        {"ImmediateRun", 9}, {"Deferred", 8}, {"High", 3}, {"Normal", 2}, {"Low", 1}};
    ASSERT_EQ(kJobPriorityCount, expected.size());
    for (const auto& c : expected) {
        auto priority = jobPriorityFromRaw(c.raw);
        ASSERT_TRUE(priority.has_value()) << c.name;
        EXPECT_EQ(name(*priority), c.name);
        EXPECT_EQ(rawValue(*priority), c.raw);
    }
}

TEST(JobEnumerations, JobPriorityFromRawAcceptsExactlyTheListedValues) {
    for (int raw = -200; raw <= 200; ++raw) {
        const bool listed = raw == 1 || raw == 2 || raw == 3 || raw == 8 || raw == 9;
        EXPECT_EQ(jobPriorityFromRaw(raw).has_value(), listed) << raw;
    }
    EXPECT_FALSE(jobPriorityFromRaw(9 + 256).has_value());  // no wrap to 8 bits
    EXPECT_EQ(jobPriorityFromRaw(9), JobPriority::ImmediateRun);
}

}  // namespace
}  // namespace ostrelcomm
