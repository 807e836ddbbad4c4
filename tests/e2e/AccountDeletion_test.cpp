// Profile deletion by a real engine against the in-process stand-in server:
// the re-login, the deletion and the logout, and what is left afterwards.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "user/UserNotifications.h"
#include "AccountTestSupport.h"
#include "jobs/SrvComm.h"
#include "user/UserDeleteContext.h"

namespace ostrelcomm {
namespace {

using namespace accounttest;
using Lines = std::vector<std::string>;

TEST(AccountDeletion, DeletesTheProfileThenLogsOut) {
    server();
    const std::string user = makeAccount("leaving", "goodbye");
    const std::string uuid = server().users().find(user)->uuid;
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());
    ASSERT_TRUE(login(*engine, recorder, user, "goodbye"));
    server().clearRequests();

    const std::string jobID = engine->user_delete(SecretBytes::fromText("goodbye"));
    ASSERT_TRUE(recorder.waitIdle());

    EXPECT_EQ(recorder.lines(),
              (Lines{"SRPAuthenticated:Authenticated", "userProfileDeleted:Deleted", "userLogout:Completed"}));
    const auto deleted = recorder.last(user::kUserProfileDeletedNotification);
    const auto* payload = deleted->data<UserDeleteContext::Payload>();
    ASSERT_TRUE(payload);
    ASSERT_EQ(payload->count("notificationData"), 1u);
    const auto* deletedUuid = std::any_cast<std::string>(&payload->at("notificationData"));
    ASSERT_TRUE(deletedUuid);
    EXPECT_EQ(*deletedUuid, uuid);
    EXPECT_EQ(engine->comLog().events().front().description, "Deleting user's profile for \"" + user + "\"");
    EXPECT_EQ(engine->queue()->getJobData(jobID)->actStep, 2u);

    const auto requests = requestsOf(user);
    ASSERT_EQ(requestLines(requests),
              (Lines{"GET /authenticate/", "POST /authenticate/", "DELETE /userprofile/delete/"}));
    EXPECT_TRUE(requests.back().has("x-sb-auth"));
    EXPECT_FALSE(server().users().find(user));
    EXPECT_FALSE(engine->username());
    EXPECT_FALSE(engine->isAuthenticated());

    // The name is free again and the old password leads nowhere.
    auto fresh = std::make_shared<SrvComm>();
    Recorder freshRecorder(fresh->notifications());
    EXPECT_FALSE(login(*fresh, freshRecorder, user, "goodbye"));
}

TEST(AccountDeletion, AnExpiredSessionRepeatsTheDeletion) {
    server();
    const std::string user = makeAccount("leaving-late", "bye");
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());
    ASSERT_TRUE(login(*engine, recorder, user, "bye"));
    server().clearRequests();
    devserver::Fault expired = devserver::Fault::sessionExpired();
    expired.times = 1;
    server().setFault("DELETE", "/userprofile/delete/", expired);

    engine->user_delete(SecretBytes::fromText("bye"));
    ASSERT_TRUE(recorder.waitIdle());
    server().clearFaults();

    EXPECT_EQ(recorder.lines(), (Lines{"SRPAuthenticated:Authenticated", "SRPAuthenticated:Authenticated",
                                       "userProfileDeleted:Deleted", "userLogout:Completed"}));
    EXPECT_EQ(requestLines(requestsOf(user)),
              (Lines{"GET /authenticate/", "POST /authenticate/", "DELETE /userprofile/delete/", "GET /authenticate/",
                     "POST /authenticate/", "DELETE /userprofile/delete/"}));
    EXPECT_FALSE(server().users().find(user));
}

}  // namespace
}  // namespace ostrelcomm
