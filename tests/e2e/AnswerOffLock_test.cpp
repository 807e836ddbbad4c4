// An answer's heavy work runs off the engine's lock: a folder listing caught
// in that stage (held by the frame's test hook) leaves the lock free, and an
// abort, a logout or another user's session arriving meanwhile ends the job
// once, posts its end once and stores nothing of the listing into the job.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FolderTestSupport.h"
#include "jobs/RequestStep.h"
#include "support/WorkerGate.h"
#include "tree/DirectoryWorksContext.h"
#include "tree/RemoteDirInfo.h"

namespace ostrelcomm {
namespace {

using namespace foldertest;

// Holds every heavy stage of the listing step at the frame's hook while it
// lives.
class HeldListingStage {
public:
    HeldListingStage() {
        steps::setOffLockHook([this](JobsSteps step) {
            if (step == JobsSteps::directory_getInfoQuery) gate.arriveAndWait();
        });
    }
    ~HeldListingStage() {
        gate.open();
        steps::setOffLockHook(nullptr);
    }
    testsupport::WorkerGate gate;
};

std::shared_ptr<DirectoryWorksContext> contextOf(SrvComm& engine, const std::string& jobID) {
    std::lock_guard lock(engine.mutex());
    const auto item = engine.queue()->getJobData(jobID);
    return item ? std::dynamic_pointer_cast<DirectoryWorksContext>(item->context) : nullptr;
}

struct ArrivalCase {
    const char* name;
    const char* stem;
    // What arrives while the stage is held.
    std::function<void(SrvComm&, const std::string& jobID)> arrive;
    // The listing's end as posted.
    const char* end;
    JobStatus status;
    bool stored;
};

TEST(AnswerOffLock, WhatArrivesWhileAListingIsReadOffTheLockDecidesItsEndOnce) {
    server();
    const std::vector<ArrivalCase> cases{
        {"nothing", "offlock-none", [](SrvComm&, const std::string&) {}, "queryRemoteDirectoryContent:Received", JobStatus::completed,
         true},
        {"abort", "offlock-abort",
         [](SrvComm& engine, const std::string& jobID) {
             EXPECT_EQ(engine.abortJobs({jobID}), (std::map<std::string, bool>{{jobID, true}}));
         },
         "queryRemoteDirectoryContent:Aborted", JobStatus::aborted, false},
        {"logout", "offlock-logout", [](SrvComm& engine, const std::string&) { engine.auth_logout(); },
         "queryRemoteDirectoryContent:Aborted", JobStatus::aborted, false},
        {"another user's session", "offlock-handover",
         [](SrvComm& engine, const std::string&) {
             engine.auth_setup("someone-else", SecretBytes::fromText("other password"), "other-session",
                               SecretBytes(Bytes(32, 7)));
         },
         "queryRemoteDirectoryContent:Aborted", JobStatus::aborted, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoggedIn session(c.stem);
        testsupport::ListingOracle::Item item;
        item.metadata = R"({"name":"inside.txt","creationDate":"2021-03-04T05:06:07Z",)"
                        R"("modificationDate":"2022-01-02T03:04:05Z","fileSize":12})";
        session.seed(item, "root", devserver::ItemKind::file);

        std::string jobID;
        {
            HeldListingStage held;
            jobID = session.engine->directory_getInfo("root", "t");
            ASSERT_TRUE(held.gate.waitForArrivals());

            // The answer has been checked and its work is under way: the
            // lock is free for the window, and nothing is stored or ended.
            {
                std::unique_lock lock(session.engine->mutex(), std::try_to_lock);
                ASSERT_TRUE(lock.owns_lock());
                const auto context = contextOf(*session.engine, jobID);
                ASSERT_TRUE(context);
                EXPECT_EQ(context->remoteDirInfo, nullptr);
            }
            EXPECT_EQ(session.recorder.lines(), Lines{});

            c.arrive(*session.engine, jobID);
            held.gate.open();
            EXPECT_TRUE(session.recorder.waitIdle());
        }

        // "Started" aside, the one end.
        EXPECT_EQ(session.recorder.lines(), Lines{c.end});
        const auto job = session.engine->queue()->getJobData(jobID);
        ASSERT_TRUE(job);
        EXPECT_EQ(job->status, c.status);
        const auto context = contextOf(*session.engine, jobID);
        ASSERT_TRUE(context);
        std::lock_guard lock(session.engine->mutex());
        if (c.stored) {
            ASSERT_NE(context->remoteDirInfo, nullptr);
            ASSERT_EQ(context->remoteDirInfo->content.size(), 1u);
        } else {
            EXPECT_EQ(context->remoteDirInfo, nullptr);
        }
    }
}

}  // namespace
}  // namespace ostrelcomm
