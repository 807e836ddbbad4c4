// The recursive folder copy on a real engine against the in-process stand-in
// server: the jobs it runs and in what order, what it posts on its own
// center, what the server holds afterwards (names read back with OpenSSL),
// failures, cancel and abort, and that it follows only its own jobs while
// the application queues others on the same engine.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FolderTestSupport.h"
#include "devserver/Base64.h"
#include "jobs/CommJobs.h"
#include "jobs/JobType.h"
#include "platform/SystemLog.h"
#include "tree/CopyDir.h"
#include "tree/CopyProgressData.h"

namespace ostrelcomm {
namespace {

using namespace foldertest;
using devserver::ItemKind;
using OracleItem = testsupport::ListingOracle::Item;

constexpr char kTree[] = "GET /dir/tree/";
constexpr char kCreatePrepare[] = "GET /dir/create_prepare/";
constexpr char kCreateExecute[] = "PUT /dir/create_execute/";
constexpr char kCopyPrepare[] = "GET /file/copy_prepare/";
constexpr char kCopyExecute[] = "PUT /file/copy_execute/";
constexpr char kCompleted[] = "CopyCompleted:Completed";
constexpr auto kGuard = std::chrono::seconds(30);

OracleItem named(const std::string& name) {
    OracleItem item;
    item.metadata = testsupport::metadataText(name);
    return item;
}

// A logged-in account, a copier on its engine and a recorder of the
// copier's own center.
struct CopyAccount : LoggedIn {
    std::shared_ptr<CopyDir> copier = CopyDir::create(engine);
    std::unique_ptr<testsupport::NotificationRecorder> progress = recorderOf(copier);

    explicit CopyAccount(const std::string& stem) : LoggedIn("copydir-" + stem) {}

    static std::unique_ptr<testsupport::NotificationRecorder> recorderOf(const std::shared_ptr<CopyDir>& copier) {
        return std::make_unique<testsupport::NotificationRecorder>(
            copier->notifications(),
            std::vector<std::string>{tree::kItemCopiedNotification, tree::kCopyCompletedNotification,
                                     tree::kCopyErrorNotification});
    }
    // A new copier in place of the first, with its own recorder.
    void renew() {
        progress.reset();
        copier = CopyDir::create(engine);
        progress = recorderOf(copier);
    }

    devserver::Item folder(const std::string& name, const std::string& parent) {
        return seed(named(name), parent, ItemKind::directory);
    }
    devserver::Item file(const std::string& name, const std::string& parent) {
        return seed(named(name), parent, ItemKind::file);
    }
    // Copies and waits until the engine has run dry.
    void copy(const std::string& name, const std::string& source, const std::string& destination) {
        copier->copy(name, source, destination);
        EXPECT_TRUE(recorder.waitIdle());
    }

    // What the copier posted: "ItemCopied copied/total", or "name:Result".
    Lines posted() const {
        Lines out;
        for (const auto& p : progress->all()) {
            if (p.name == tree::kItemCopiedNotification) {
                const CopyProgressData data(p.userInfo);
                out.push_back(p.name + " " + std::to_string(data.getCopied()) + "/" + std::to_string(data.getTotal()));
            } else {
                out.push_back(p.name + ":" + p.result);
            }
        }
        return out;
    }

    // The items directly in one of the account's folders: their names read
    // back under the account's keys, sorted, folders marked with "/".
    Lines namesIn(const std::string& folderUUID) const {
        Lines names;
        const auto listed = server().items().folder(owner(), folderUUID);
        if (!listed) return {"no such folder"};
        const auto chain = oracle();
        for (const auto& item : listed->content) {
            const auto metadata = chain.openMetadata(item.itemkey, item.metadata);
            std::string name = metadata ? (*metadata)["name"].get<std::string>() : "unreadable";
            names.push_back(item.kind == ItemKind::directory ? name + "/" : name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The only item in a folder.
    std::string onlyItemIn(const std::string& folderUUID) const {
        const auto listed = server().items().folder(owner(), folderUUID);
        EXPECT_TRUE(listed && listed->content.size() == 1);
        return listed && listed->content.size() == 1 ? listed->content.front().uuid : std::string("none");
    }
};

Lines creations(std::size_t count) {
    Lines out;
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(kCreatePrepare);
        out.push_back(kCreateExecute);
    }
    return out;
}

Lines copies(std::size_t count) {
    Lines out;
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(kCopyPrepare);
        out.push_back(kCopyExecute);
    }
    return out;
}

Lines concat(std::initializer_list<Lines> parts) {
    Lines out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Lines progressLines(int total) {
    Lines out;
    for (int i = 1; i <= total; ++i)
        out.push_back(std::string(tree::kItemCopiedNotification) + " " + std::to_string(i) + "/" +
                      std::to_string(total));
    return out;
}

// The notification the copier's recorder stops at: calls `act` on the
// engine's thread when the copier posts "ItemCopied" with that count.
struct OnItemCopied {
    std::shared_ptr<NotificationCenter> center;
    NotificationCenter::Token token;
    OnItemCopied(const std::shared_ptr<CopyDir>& copier, std::int64_t copied, std::function<void()> act)
        : center(copier->notifications()) {
        token = center->addObserver(tree::kItemCopiedNotification, [copied, act](const Notification& n) {
            if (CopyProgressData(n.userInfo).getCopied() == copied) act();
        });
    }
    ~OnItemCopied() { center->removeObserver(token); }
};

TEST(CopyDir, AFolderTreeIsCopiedFoldersFirstThenFilesInWalkOrder) {
    server();
    CopyAccount account("tree");
    const auto s = account.folder("S", "root");
    const auto f1 = account.file("f1", s.uuid);
    const auto f2 = account.file("f2", s.uuid);
    const auto t = account.folder("T", s.uuid);
    const auto f3 = account.file("f3", t.uuid);
    const auto d = account.folder("D", "root");
    account.newRequests();

    account.copy("S", s.uuid, d.uuid);
    EXPECT_EQ(account.posted(), concat({progressLines(5), {kCompleted}}));
    const auto done = account.progress->last(tree::kCopyCompletedNotification);
    ASSERT_TRUE(done);
    EXPECT_TRUE(done->hasAllKeys);
    EXPECT_TRUE(done->noData());
    EXPECT_TRUE(isNullObject(done->userInfo.at("httpError")));
    EXPECT_EQ(account.copier->status(), CopyDir::Status::completed);

    const auto sent = account.newRequests();
    EXPECT_EQ(requestLines(sent), concat({{kTree}, creations(2), copies(3)}));
    Lines copied;
    for (const auto& r : sent)
        if (r.path == "/file/copy_prepare/") copied.push_back(r.values("x-sb-item-uuid").at(0));
    EXPECT_EQ(copied, (Lines{f1.uuid, f2.uuid, f3.uuid}));

    EXPECT_EQ(account.namesIn(d.uuid), Lines{"S/"});
    const std::string sCopy = account.onlyItemIn(d.uuid);
    EXPECT_EQ(account.namesIn(sCopy), (Lines{"T/", "f1", "f2"}));
    const auto inS = server().items().folder(account.owner(), sCopy);
    ASSERT_TRUE(inS);
    std::string tCopy;
    for (const auto& item : inS->content)
        if (item.kind == ItemKind::directory) tCopy = item.uuid;
    EXPECT_EQ(account.namesIn(tCopy), Lines{"f3"});
    // The source is as it was.
    EXPECT_EQ(account.namesIn(s.uuid), (Lines{"T/", "f1", "f2"}));
}

TEST(CopyDir, AnEmptyFolderOrOneOfFoldersOnlyCompletesWithoutACopyRequest) {
    server();
    CopyAccount account("folders");
    const auto d = account.folder("D", "root");
    const auto empty = account.folder("Empty", "root");
    const auto outer = account.folder("Outer", "root");
    const auto a = account.folder("A", outer.uuid);
    account.folder("B", a.uuid);
    struct Row {
        const char* what;
        std::string source;
        int total;
    };
    for (const Row& row : {Row{"Empty", empty.uuid, 1}, Row{"Outer", outer.uuid, 3}}) {
        SCOPED_TRACE(row.what);
        account.renew();
        account.newRequests();
        account.copy(row.what, row.source, d.uuid);
        EXPECT_EQ(account.posted(), concat({progressLines(row.total), {kCompleted}}));
        EXPECT_EQ(requestLines(account.newRequests()),
                  concat({{kTree}, creations(static_cast<std::size_t>(row.total))}));
    }
    EXPECT_EQ(account.namesIn(d.uuid), (Lines{"Empty/", "Outer/"}));
}

TEST(CopyDir, AFailingCopyEndsInCopyErrorWithThatJobsNotificationAndKeepsWhatWasCopied) {
    server();
    CopyAccount account("failure");
    const auto s = account.folder("S", "root");
    account.file("f1", s.uuid);
    account.file("f2", s.uuid);
    account.file("f3", s.uuid);
    const auto d = account.folder("D", "root");
    account.newRequests();
    {
        // After the folder and the first file: the second file's execute fails.
        OnItemCopied failNext(account.copier, 2, [] {
            devserver::Fault fault = devserver::Fault::exception(500, "InjectedFault", "no copy today");
            fault.times = 1;
            server().setFault("PUT", "/file/copy_execute/", fault);
        });
        account.copy("S", s.uuid, d.uuid);
    }
    server().clearFault("PUT", "/file/copy_execute/");
    EXPECT_EQ(account.posted(), (Lines{"ItemCopied 1/4", "ItemCopied 2/4", "CopyError:Error"}));
    const auto failed = account.progress->last(tree::kCopyErrorNotification);
    ASSERT_TRUE(failed && failed->httpError);
    EXPECT_EQ(failed->httpError->exception, "InjectedFault");
    EXPECT_TRUE(failed->hasAllKeys);
    EXPECT_EQ(account.copier->status(), CopyDir::Status::error);
    EXPECT_EQ(requestLines(account.newRequests()), concat({{kTree}, creations(1), copies(2)}));
    EXPECT_EQ(account.namesIn(account.onlyItemIn(d.uuid)), Lines{"f1"});
}

TEST(CopyDir, ACancelEndsTheCopyAtTheNextResultAndQueuesNothingMore) {
    server();
    CopyAccount account("cancel");
    const auto s = account.folder("S", "root");
    account.folder("T", s.uuid);
    account.file("f1", s.uuid);
    const auto d = account.folder("D", "root");
    account.newRequests();
    {
        // The second folder's creation is held until the cancel is in.
        OnItemCopied holdNext(account.copier, 1, [] {
            devserver::Fault stall = devserver::Fault::stalled();
            stall.times = 1;
            server().setFault("GET", "/dir/create_prepare/", stall);
        });
        account.copier->copy("S", s.uuid, d.uuid);
        ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
        account.copier->cancel();
        server().releaseStalls();
        EXPECT_TRUE(account.recorder.waitIdle());
    }
    server().clearFault("GET", "/dir/create_prepare/");
    EXPECT_EQ(account.posted(), (Lines{"ItemCopied 1/3", "ItemCopied 2/3", kCompleted}));
    EXPECT_EQ(requestLines(account.newRequests()), concat({{kTree}, creations(2)}));
}

// A folder whose copy comes back without an identifier has nowhere to
// take what it holds: the copy stops there, with no job's failure to pass on.
TEST(CopyDir, AFolderMadeWithoutAnIdentifierEndsTheCopyBeforeAnythingGoesIntoIt) {
    server();
    CopyAccount account("no-identifier");
    const auto s = account.folder("S", "root");
    account.file("f", s.uuid);
    const auto d = account.folder("D", "root");
    account.newRequests();
    devserver::Fault fault;
    fault.rawBody = nlohmann::json{{"itemUUID", ""}, {"parentUUID", d.uuid}}.dump();
    fault.contentType = "application/json";
    server().setFault("PUT", "/dir/create_execute/", fault);
    account.copy("S", s.uuid, d.uuid);
    server().clearFault("PUT", "/dir/create_execute/");
    ASSERT_EQ(account.posted(), Lines{"CopyError:"});
    EXPECT_TRUE(account.progress->all().front().userInfo.empty());
    EXPECT_EQ(requestLines(account.newRequests()), concat({{kTree}, creations(1)}));
}

// Every copy starts afresh: an earlier copy's lists, progress and cancel
// carry no further.
TEST(CopyDir, ASecondCopyOnOneObjectCountsOnlyItsOwnItems) {
    server();
    CopyAccount account("again");
    const auto first = account.folder("First", "root");
    account.folder("Inner", first.uuid);
    const auto second = account.folder("Second", "root");
    account.file("f", second.uuid);
    const auto d1 = account.folder("D1", "root");
    const auto d2 = account.folder("D2", "root");
    {
        // Cancelled as soon as its own folder exists: "Inner" stays behind.
        OnItemCopied cancelNow(account.copier, 1, [&account] { account.copier->cancel(); });
        account.copy("First", first.uuid, d1.uuid);
    }
    EXPECT_EQ(account.posted(), (Lines{"ItemCopied 1/2", kCompleted}));
    account.progress->clear();
    account.newRequests();

    account.copy("Second", second.uuid, d2.uuid);
    EXPECT_EQ(account.posted(), concat({progressLines(2), {kCompleted}}));
    EXPECT_EQ(requestLines(account.newRequests()), concat({{kTree}, creations(1), copies(1)}));
    EXPECT_EQ(account.namesIn(d1.uuid), Lines{"First/"});
    EXPECT_EQ(account.namesIn(account.onlyItemIn(d1.uuid)), Lines{});
    EXPECT_EQ(account.namesIn(d2.uuid), Lines{"Second/"});
    EXPECT_EQ(account.namesIn(account.onlyItemIn(d2.uuid)), Lines{"f"});
    EXPECT_EQ(account.copier->progress().getCopied(), 2);
    EXPECT_EQ(account.copier->progress().getTotal(), 2);
}

// The application's own jobs on the same engine, ending while the copier
// waits, leave the copy alone: a tagged and an untagged folder creation, a
// file copy that succeeds and one that fails. So does a tree notification
// that cannot be read, which only goes to the system log.
TEST(CopyDir, OtherRequestersJobsOnTheEngineDoNotMoveTheCopy) {
    server();
    CopyAccount account("foreign");
    const auto s = account.folder("S", "root");
    const auto t = account.folder("T", s.uuid);
    account.file("f1", t.uuid);
    const auto d = account.folder("D", "root");
    const auto loose = account.file("loose", "root");

    std::vector<std::string> logged;
    std::mutex loggedMutex;
    const SystemLogSink previous = setSystemLogSink([&](const std::string& line) {
        std::lock_guard lock(loggedMutex);
        logged.push_back(line);
    });
    {
        // While the copier's first folder creation is held, the application
        // queues its own jobs behind it.
        devserver::Fault stall = devserver::Fault::stalled();
        stall.times = 1;
        server().setFault("GET", "/dir/create_prepare/", stall);
        account.copier->copy("S", s.uuid, d.uuid);
        ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
        {
            std::lock_guard lock(account.engine->mutex());
            account.engine->directory_create("Pasted", std::string("root"), std::string("mainWindow"));
            account.engine->directory_create("Bare", std::string("root"), std::nullopt);
            account.engine->file_copy(loose.uuid, std::nullopt);
            account.engine->file_copy("no-such-file", std::nullopt);
            account.engine->notifications()->post(
                tree::kGetDirectoryTreeTerminatedNotification,
                UserInfo{{"Result", std::string(tree::kAvailable)}, {"httpError", NullObject{}},
                         {"CustomData", NullObject{}}});
        }
        server().releaseStalls();
        EXPECT_TRUE(account.recorder.waitIdle());
    }
    setSystemLogSink(previous);
    server().clearFault("GET", "/dir/create_prepare/");

    EXPECT_EQ(account.posted(), concat({progressLines(3), {kCompleted}}));
    // Each item in the copy of its own folder, none in the application's.
    EXPECT_EQ(account.namesIn(d.uuid), Lines{"S/"});
    const std::string sCopy = account.onlyItemIn(d.uuid);
    EXPECT_EQ(account.namesIn(sCopy), Lines{"T/"});
    EXPECT_EQ(account.namesIn(account.onlyItemIn(sCopy)), Lines{"f1"});
    EXPECT_EQ(logged, Lines{"getDirectoryTreeTerminated observer: Unable to decode notification data"});
}

// An abort of the job the copier waits on, running or still queued behind
// another job, ends the copy in "CopyError" with that job's notification.
TEST(CopyDir, AnAbortOfTheWaitedJobEndsInCopyError) {
    server();
    CopyAccount account("abort");
    const auto s = account.folder("S", "root");
    const auto d = account.folder("D", "root");

    // The job of that type, in that status.
    const auto jobOf = [&account](JobType type, JobStatus status) {
        for (const auto& [id, job] : account.engine->queue()->getJobsList())
            if (job.jobType == type && job.status == status) return id;
        return std::string("none");
    };

    // Running: the copier's folder creation, held at its first request.
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("GET", "/dir/create_prepare/", stall);
    account.copier->copy("S", s.uuid, d.uuid);
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    EXPECT_TRUE(account.engine->abortJobs({jobOf(JobType::createFolder, JobStatus::inProgress)}).begin()->second);
    server().releaseStalls();
    EXPECT_TRUE(account.recorder.waitIdle());
    server().clearFault("GET", "/dir/create_prepare/");
    EXPECT_EQ(account.posted(), (Lines{"CopyError:Aborted"}));

    // Queued: the copier's tree query, behind a listing that is held.
    account.renew();
    server().setFault("GET", "/dir/list/", stall);
    {
        std::lock_guard lock(account.engine->mutex());
        account.engine->directory_getInfo("root", std::nullopt);
        account.copier->copy("S", s.uuid, d.uuid);
    }
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    EXPECT_TRUE(account.engine->abortJobs({jobOf(JobType::getDirectoryTree, JobStatus::pending)}).begin()->second);
    EXPECT_EQ(account.posted(), (Lines{"CopyError:Error"}));
    server().releaseStalls();
    EXPECT_TRUE(account.recorder.waitIdle());
    server().clearFault("GET", "/dir/list/");
    EXPECT_EQ(account.posted(), (Lines{"CopyError:Error"}));
    EXPECT_EQ(account.namesIn(d.uuid), Lines{});
}

// The owner lets go of the copier mid-copy: its observers go with it, the
// job it had queued still ends, and nothing is left behind.
TEST(CopyDir, ACopierDroppedMidCopyLeavesNoObserverAndNoLeak) {
    server();
    CopyAccount account("dropped");
    const auto s = account.folder("S", "root");
    account.file("f", s.uuid);
    const auto d = account.folder("D", "root");
    const auto center = account.engine->notifications();
    account.progress.reset();
    account.copier.reset();
    const std::size_t before = center->observerCount(tree::kFileCopyNotification);

    auto copier = CopyDir::create(account.engine);
    EXPECT_EQ(center->observerCount(tree::kFileCopyNotification), before + 1);
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("GET", "/dir/tree/", stall);
    copier->copy("S", s.uuid, d.uuid);
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    copier.reset();
    EXPECT_EQ(center->observerCount(tree::kFileCopyNotification), before);
    server().releaseStalls();
    EXPECT_TRUE(account.recorder.waitIdle());
    server().clearFault("GET", "/dir/tree/");
    EXPECT_EQ(account.namesIn(d.uuid), Lines{});
}

}  // namespace
}  // namespace ostrelcomm

namespace ostrelcomm {
namespace {

// On an engine nobody has logged in to, the tree job ends before copy()
// has its identifier: the copy still learns of it.
TEST(CopyDir, ACopyOnALoggedOutEngineEndsInCopyErrorAtOnce) {
    server();
    const auto engine = std::make_shared<SrvComm>();
    const auto copier = CopyDir::create(engine);
    testsupport::NotificationRecorder progress(copier->notifications(), {tree::kCopyErrorNotification});
    copier->copy("S", "source", "root");
    ASSERT_TRUE(progress.waitUntil([](const auto& posted) { return !posted.empty(); }));
    const auto failed = progress.last(tree::kCopyErrorNotification);
    ASSERT_TRUE(failed && failed->httpError);
    EXPECT_EQ(failed->httpError->error, HTTPErrors::badAuthentication);
    EXPECT_EQ(copier->status(), CopyDir::Status::error);
}

}  // namespace
}  // namespace ostrelcomm
