// The jobs of a real engine share its kept-alive connections, against the
// in-process stand-in server, which numbers the connections it accepts: many
// small jobs open only a few, an aborted job's cancelled session leaves the
// engine's next job alone, and two engines logged in as two users never send
// over each other's connections. (Two transfers of one pool in flight at once,
// one of them cancelled, are shown in the connection pool's own tests.)

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "AccountTestSupport.h"
#include "jobs/JobStatus.h"
#include "jobs/SrvComm.h"

namespace ostrelcomm {
namespace {

using namespace accounttest;
using Lines = std::vector<std::string>;

struct LoggedIn {
    std::string user;
    std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
    Recorder recorder{engine->notifications()};

    explicit LoggedIn(const std::string& stem) : user(makeAccount(stem, "pw")) {
        EXPECT_TRUE(login(*engine, recorder, user, "pw"));
    }
};

// Waits until `count` job notifications named `name` have been posted.
bool waitForPosted(Recorder& recorder, const std::string& name, std::size_t count) {
    return recorder.waitUntil([&](const std::vector<Posted>& posted) {
        return static_cast<std::size_t>(std::count_if(posted.begin(), posted.end(),
                                                      [&](const Posted& p) { return p.name == name; })) >= count;
    });
}

// The connection numbers that carried the requests naming `user`.
std::set<std::uint64_t> connectionsOf(const std::string& user) {
    std::set<std::uint64_t> out;
    for (const auto& r : requestsOf(user)) out.insert(r.connection);
    return out;
}

TEST(ConnectionReuse, AThousandProfileQueriesAsSeparateJobsOpenOnlyAFewConnections) {
    server();
    LoggedIn alice("many-jobs");
    const std::size_t before = server().acceptedConnections();

    constexpr int kJobs = 1000;
    for (int i = 0; i < kJobs; ++i) alice.engine->user_addGetProfile();
    ASSERT_TRUE(waitForPosted(alice.recorder, "userProfileDataAvailable", kJobs));
    const Lines lines = alice.recorder.lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kJobs));
    for (const auto& line : lines) ASSERT_EQ(line, "userProfileDataAvailable:Completed");

    // The login's connection normally carries them all; a connection the
    // server closes while idle is replaced, which may happen a few times.
    EXPECT_LE(server().acceptedConnections() - before, 3u);
    EXPECT_LE(connectionsOf(alice.user).size(), 4u);
}

// An abort takes effect when the running job's answer arrives; the job's
// session is then cancelled. That must end only that job's session: the
// aborted job announces its end once and the engine's next job goes on over
// the same pooled connection.
TEST(ConnectionReuse, AnAbortedJobEndsAloneAndTheEnginesNextJobGoesOnOverTheSameConnection) {
    server();
    LoggedIn alice("aborted");
    const std::string heldPath = "/untrustedpeer/getShareProfile/";
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("GET", heldPath, stall);

    const std::string abortedJob = alice.engine->user_addGetShareProfile("someone");
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    alice.engine->user_addGetProfile();
    ASSERT_TRUE(alice.engine->abortCurrentJob());
    server().releaseStalls();
    ASSERT_TRUE(waitForPosted(alice.recorder, "userProfileDataAvailable", 1));

    EXPECT_EQ(alice.recorder.lines(), (Lines{"peerShareData:Error", "userProfileDataAvailable:Completed"}));
    const auto aborted = alice.engine->queue()->getJobData(abortedJob);
    ASSERT_TRUE(aborted);
    EXPECT_EQ(aborted->status, JobStatus::aborted);

    const auto requests = requestsOf(alice.user);
    ASSERT_GE(requests.size(), 2u);
    const auto& held = requests[requests.size() - 2];
    const auto& next = requests.back();
    EXPECT_EQ(held.path, heldPath);
    EXPECT_EQ(next.path, "/userprofile/getprofile/");
    EXPECT_EQ(held.connection, next.connection);
}

TEST(ConnectionReuse, TwoEnginesOfTwoUsersNeverSendOverTheSameConnection) {
    server();
    LoggedIn alice("pool-alice");
    LoggedIn bob("pool-bob");
    for (int round = 0; round < 20; ++round) {
        alice.engine->user_addGetProfile();
        bob.engine->user_addGetProfile();
    }
    ASSERT_TRUE(waitForPosted(alice.recorder, "userProfileDataAvailable", 20));
    ASSERT_TRUE(waitForPosted(bob.recorder, "userProfileDataAvailable", 20));
    for (const auto* recorder : {&alice.recorder, &bob.recorder})
        for (const auto& line : recorder->lines()) EXPECT_EQ(line, "userProfileDataAvailable:Completed");

    // Every connection that carried a request of either user carried only
    // that user's requests (the logins' included).
    std::map<std::uint64_t, std::set<std::string>> usersOfConnection;
    for (const auto& r : server().requests()) {
        const auto names = r.values("x-sb-username");
        if (!names.empty() && (names.front() == alice.user || names.front() == bob.user))
            usersOfConnection[r.connection].insert(names.front());
    }
    ASSERT_GE(usersOfConnection.size(), 2u);
    for (const auto& [connection, users] : usersOfConnection)
        EXPECT_EQ(users.size(), 1u) << "connection " << connection << " carried both users' requests";
    EXPECT_LE(connectionsOf(alice.user).size(), 3u);
    EXPECT_LE(connectionsOf(bob.user).size(), 3u);
}

}  // namespace
}  // namespace ostrelcomm
