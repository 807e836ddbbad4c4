// The multi-file upload run by a real engine, logged in by SRP, against the
// in-process stand-in over TLS: the order in which folders are listed and
// made and files sent, the conflict rules, the progress it reports, how each
// waiting state ends (failures, aborts), which foreign notifications it
// ignores, and that its long work on local files leaves the engine free.

#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DownloadTestSupport.h"
#include "FileTestSupport.h"
#include "jobs/CommJobs.h"
#include "jobs/VirtualPath.h"
#include "support/MediaFixtures.h"
#include "xfer/LocalItemInfo.h"
#include "xfer/MultipleLocalFileSend.h"
#include "xfer/ThumbnailHelper.h"
#include "xfer/XferNotifications.h"

namespace ostrelcomm {
namespace {

namespace fs = std::filesystem;
using CB = MultipleLocalFileSend::ConflictingBehaviours;
using downloadtest::patterned;
using filetest::server;
using Lines = std::vector<std::string>;
using Posted = testsupport::PostedNotification;

constexpr auto kGuard = std::chrono::seconds(30);

template <class T>
T report(const Posted& posted, const char* key) {
    auto it = posted.userInfo.find(key);
    if (it == posted.userInfo.end()) {
        ADD_FAILURE() << "no " << key;
        return T{};
    }
    const T* value = std::any_cast<T>(&it->second);
    if (!value) {
        ADD_FAILURE() << key << " has another type";
        return T{};
    }
    return *value;
}

bool isEnd(const Posted& p) {
    return p.result == xfer::kCompleted || p.result == xfer::kAborted || p.result == xfer::kError;
}

// A gate the uploader's worker stops at, before its first piece of long work,
// until the test opens it.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;

    void pass() {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait_for(lock, kGuard, [&] { return open; });
    }
    bool waitEntered() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kGuard, [&] { return entered; });
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

// A logged-in account, an uploader on its engine with a recorder of its
// reports, and a local folder of the test's own.
struct MultiUpload : filetest::FileSession {
    std::shared_ptr<NotificationCenter> center = std::make_shared<NotificationCenter>();
    testsupport::NotificationRecorder reports{center, {xfer::kMultipleLocalFileSendNotification}};
    testsupport::NotificationRecorder engineNotes{
        engine->notifications(),
        {xfer::kLocalFileUploadNotification, xfer::kRemoteFileDownloadNotification,
         tree::kQueryRemoteDirectoryContentNotification, tree::kGetFileInfoNotification}};
    testsupport::NotificationRecorder queueNotes{engine->queue()->notifications(), {kNewJobAvailableNotification}};
    std::shared_ptr<MultipleLocalFileSend> sender = MultipleLocalFileSend::create(engine, center);
    testsupport::TempFolder local;

    explicit MultiUpload(const std::string& stem) : FileSession("multi-" + stem) {}

    fs::path put(const std::string& relative, const Bytes& content) const {
        fs::create_directories((local.path() / relative).parent_path());
        return local.write(relative, content);
    }

    std::size_t ends() const {
        std::size_t n = 0;
        for (const auto& p : reports.all()) n += isEnd(p);
        return n;
    }
    // Starts a run over `items` (relative to the local folder) into `destination`.
    void start(const std::vector<std::string>& items, CB rule, const VirtualPath& destination = VirtualPath()) {
        sender->clearSource();
        for (const auto& item : items) ASSERT_TRUE(sender->appendToSource(local.path() / item)) << item;
        sender->startTransfer(local.path(), destination, rule);
    }
    // Waits for the run's end report after `before` earlier ones.
    Posted end(std::size_t before) {
        EXPECT_TRUE(reports.waitUntil([&](const std::vector<Posted>& all) {
            std::size_t n = 0;
            for (const auto& p : all) n += isEnd(p);
            return n > before;
        }));
        for (const auto& p : reports.all())
            if (isEnd(p) && before-- == 0) return p;
        return {};
    }
    Posted send(const std::vector<std::string>& items, CB rule, const VirtualPath& destination = VirtualPath()) {
        const std::size_t before = ends();
        start(items, rule, destination);
        return end(before);
    }

    // The name of one of the account's folders, read back decrypted.
    std::string nameOf(const std::string& uuid) const {
        if (uuid == devserver::kRootFolder) return "root";
        auto item = stored(uuid);
        if (!item) return "?";
        auto metadata = oracle().openMetadata(item->itemkey, item->metadata);
        return metadata ? metadata->value("name", "?") : "?";
    }
    // What the run asked of the server since the previous call, one line per
    // listing, folder creation, upload or deletion.
    Lines trail() {
        Lines out;
        for (const auto& r : newRequests()) {
            const auto header = [&](const char* name) {
                auto values = r.values(name);
                return values.empty() ? std::string() : values.front();
            };
            const std::string line = r.method + " " + r.path;
            if (line == "GET /dir/list/") out.push_back("list " + nameOf(header("x-sb-item-uuid")));
            if (line == "PUT /dir/create_execute/") out.push_back("create in " + nameOf(header("x-sb-parent-uuid")));
            if (line == "GET /filesend/prepare/") out.push_back("upload into " + nameOf(header("x-sb-parent-uuid")));
            if (line == "DELETE /file/") out.push_back("delete");
            if (line == "DELETE /filesend/") out.push_back("drop upload");
        }
        return out;
    }
    // The decrypted names of the account's items in one folder, sorted.
    std::multiset<std::string> namesIn(const std::string& parent) const {
        std::multiset<std::string> names;
        const auto chain = oracle();
        for (const auto& item : server().items().itemsOf(owner()))
            if (item.parent == parent)
                if (auto metadata = chain.openMetadata(item.itemkey, item.metadata))
                    names.insert(metadata->value("name", "?"));
        return names;
    }
    std::optional<devserver::Item> named(const std::string& parent, const std::string& name) const {
        const auto chain = oracle();
        for (const auto& item : server().items().itemsOf(owner()))
            if (item.parent == parent)
                if (auto metadata = chain.openMetadata(item.itemkey, item.metadata);
                    metadata && metadata->value("name", "") == name)
                    return item;
        return std::nullopt;
    }

    // Lists a remote folder and downloads everything in it, through the
    // engine, into `into`.
    void download(const std::string& uuid, const fs::path& into) {
        fs::create_directories(into);
        engineNotes.clear();
        engine->directory_getInfo(uuid, "check");
        ASSERT_TRUE(engineNotes.waitUntil([](const std::vector<Posted>& all) {
            for (const auto& p : all)
                if (p.name == tree::kQueryRemoteDirectoryContentNotification && p.result != tree::kStarted) return true;
            return false;
        }));
        const auto listing = engineNotes.last(tree::kQueryRemoteDirectoryContentNotification);
        ASSERT_EQ(listing->result, tree::kReceived);
        const auto content = std::any_cast<tree::DirInfoPayload>(listing->data<tree::TaggedPayload>()->at(tree::kDirInfoKey))->content;
        for (const auto& item : content) {
            if (item.type == RemoteItemType::DIRECTORY) {
                download(item.uuid, into / item.metadata.name);
                continue;
            }
            engineNotes.clear();
            ASSERT_TRUE(engine->fileReceive_add(item.uuid, into, item.metadata.name));
            ASSERT_TRUE(engineNotes.waitUntil([](const std::vector<Posted>& all) {
                for (const auto& p : all)
                    if (p.name == xfer::kRemoteFileDownloadNotification && p.result != xfer::kDownloading) return true;
                return false;
            }));
            ASSERT_EQ(engineNotes.last(xfer::kRemoteFileDownloadNotification)->result, xfer::kReceived);
        }
    }

    // The identifier of the last job of this type the queue took in.
    std::optional<std::string> lastJob(JobType type) const {
        std::optional<std::string> id;
        for (const auto& p : queueNotes.all()) {
            const auto* item = userInfoValue<CommJobsItem>(p.userInfo, "data");
            const auto* jobID = userInfoValue<std::string>(p.userInfo, "id");
            if (item && jobID && item->jobType == type) id = *jobID;
        }
        return id;
    }
    bool waitForJob(JobType type, std::size_t count = 1) {
        return queueNotes.waitUntil([&](const std::vector<Posted>& all) {
            std::size_t n = 0;
            for (const auto& p : all)
                if (const auto* item = userInfoValue<CommJobsItem>(p.userInfo, "data"); item && item->jobType == type)
                    ++n;
            return n >= count;
        });
    }
};

// The clean-up each test that sets faults needs, even when it fails halfway.
struct FaultsCleared {
    ~FaultsCleared() {
        server().releaseStalls();
        server().clearFaults();
    }
};

// --- order and round trip -------------------------------------------------------------

TEST(MultipleUpload, SendsFoldersBeforeTheirContentsAndReadsBackTheLocalTree) {
    struct Case {
        std::vector<std::pair<std::string, std::size_t>> files;
        Lines trail;
    };
    const Case cases[] = {
        // x before the folder b: each level is listed once.
        {{{"A/a.txt", 12}, {"A/b/y", 5000}},
         {"list root", "create in root", "list A", "upload into A", "create in A", "list b", "upload into b"}},
        // The folder b sorts first: A is listed again on the way back up.
        {{{"A/b/y", 7}, {"A/x", 1}},
         {"list root", "create in root", "list A", "create in A", "list b", "upload into b", "list A",
          "upload into A"}},
    };
    for (const auto& c : cases) {
        MultiUpload run("order");
        for (const auto& [name, size] : c.files) run.put(name, patterned(size, static_cast<std::uint8_t>(size)));
        const Posted end = run.send({"A"}, CB::skipIfEqual);
        EXPECT_EQ(end.result, xfer::kCompleted) << report<std::string>(end, xfer::kErrorKey);
        EXPECT_EQ(report<std::string>(end, xfer::kBaseDestinationUUIDKey), "root");
        EXPECT_EQ(run.trail(), c.trail);
        EXPECT_TRUE(run.sender->isIdle());

        testsupport::TempFolder back;
        run.download(devserver::kRootFolder, back.path());
        EXPECT_EQ(testsupport::runProgram({"diff", "-r", run.local.path().string(), back.path().string()}).first, 0);
    }
}

// --- conflict rules ---------------------------------------------------------------------

TEST(MultipleUpload, SkipsEqualFilesAndReplacesChangedOnes) {
    MultiUpload run("rules");
    run.put("A/a.txt", patterned(40, 1));
    run.put("A/b/y", patterned(300, 2));
    ASSERT_EQ(run.send({"A"}, CB::alwaysReplace).result, xfer::kCompleted);
    run.trail();
    const auto folderA = run.named(devserver::kRootFolder, "A");
    ASSERT_TRUE(folderA);

    // Unchanged: nothing but listings.
    EXPECT_EQ(run.send({"A"}, CB::skipIfEqual).result, xfer::kCompleted);
    EXPECT_EQ(run.trail(), (Lines{"list root", "list A", "list b"}));

    // One byte changed at the same size: deleted, then sent again.
    run.put("A/a.txt", patterned(40, 9));
    EXPECT_EQ(run.send({"A"}, CB::skipIfEqual).result, xfer::kCompleted);
    EXPECT_EQ(run.trail(), (Lines{"list root", "list A", "delete", "upload into A", "list b"}));

    // Replaced whatever they hold, each under its own name.
    EXPECT_EQ(run.send({"A"}, CB::alwaysReplace).result, xfer::kCompleted);
    EXPECT_EQ(run.trail(),
              (Lines{"list root", "list A", "delete", "upload into A", "list b", "delete", "upload into b"}));
    EXPECT_EQ(run.namesIn(folderA->uuid), (std::multiset<std::string>{"a.txt", "b"}));

    testsupport::TempFolder back;
    run.download(devserver::kRootFolder, back.path());
    EXPECT_EQ(testsupport::runProgram({"diff", "-r", run.local.path().string(), back.path().string()}).first, 0);
}

TEST(MultipleUpload, RenameTakesTheFirstFreeCounter) {
    MultiUpload run("rename");
    for (const char* name : {"x.txt", "x (1).txt", "notes", ".bashrc", "a..b", "archive.tar.gz"}) {
        testsupport::ListingOracle::Item item;
        item.metadata = testsupport::metadataText(name);
        run.seedFile(item);
    }
    const std::vector<std::string> local{"x.txt", "notes", ".bashrc", "a..b", "archive.tar.gz"};
    for (const auto& name : local) run.put(name, patterned(3));
    EXPECT_EQ(run.send(local, CB::rename).result, xfer::kCompleted);
    EXPECT_EQ(run.namesIn(devserver::kRootFolder),
              (std::multiset<std::string>{"x.txt", "x (1).txt", "x (2).txt", "notes", "notes (1)", ".bashrc",
                                          ".bashrc (1)", "a..b", "a (1).b", "archive.tar.gz",
                                          "archive.tar (1).gz"}));
}

TEST(MultipleUpload, APictureIsStoredWithItsThumbnail) {
    MultiUpload run("thumbnail");
    testsupport::twoColourPicture(run.local.file("picture.png"), 64, 32);
    run.put("plain.txt", patterned(10));
    EXPECT_EQ(run.send({"picture.png", "plain.txt"}, CB::rename).result, xfer::kCompleted);
    const auto picture = run.named(devserver::kRootFolder, "picture.png");
    const auto plain = run.named(devserver::kRootFolder, "plain.txt");
    ASSERT_TRUE(picture && plain);
    EXPECT_TRUE(picture->thumbnail && !picture->thumbnail->empty());
    EXPECT_FALSE(plain->thumbnail);
}

// Files made to be expensive to thumbnail are uploaded whole, without a
// thumbnail: the child's failure never stops an upload.
TEST(MultipleUpload, HostileFilesAreStoredWholeWithoutThumbnails) {
    MultiUpload run("hostile");
    testsupport::twoColourPicture(run.local.file("plain.png"), 64, 32);
    const Bytes plain = testsupport::readFile(run.local.file("plain.png"));
    run.put("text.png", testsupport::withPngChunk(plain, "zTXt", testsupport::compressedChunkData(std::uint64_t{1} << 30)));
    run.put("huge.pdf", testsupport::pdfDrawingImage(65535, 65535));
    testsupport::twoColourClip(run.local.file("clip.mp4"), 320, 240);
    const Bytes clip = testsupport::readFile(run.local.file("clip.mp4"));
    run.put("cut.mp4", Bytes(clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(clip.size() / 2)));
    fs::remove(run.local.file("clip.mp4"));
    testsupport::twoColourPicture(run.local.file("photo.jpg"), 64, 48);
    // Longer than a thumbnail may read, shorter than a gigabyte for the test's sake.
    testsupport::sparseJpeg(run.local.file("endless.jpg"), testsupport::readFile(run.local.file("photo.jpg")),
                            std::uint64_t{72} << 20);
    fs::remove(run.local.file("photo.jpg"));
    fs::remove(run.local.file("plain.png"));

    const std::vector<std::string> names{"text.png", "huge.pdf", "cut.mp4", "endless.jpg"};
    EXPECT_EQ(run.send(names, CB::rename).result, xfer::kCompleted);
    for (const auto& name : names) {
        const auto stored = run.named(devserver::kRootFolder, name);
        ASSERT_TRUE(stored) << name;
        EXPECT_FALSE(stored->thumbnail) << name;
    }
    testsupport::TempFolder back;
    run.download(devserver::kRootFolder, back.path());
    EXPECT_EQ(testsupport::runProgram({"cmp", (run.local.path() / "endless.jpg").string(), (back.path() / "endless.jpg").string()}).first, 0);
    EXPECT_EQ(testsupport::runProgram({"diff", "-r", run.local.path().string(), back.path().string()}).first, 0);
}

// Eight runs at once on one engine make their thumbnails side by side in
// children of the one helper; each stored thumbnail is the one made alone.
TEST(MultipleUpload, ThumbnailsMadeAtOnceEqualThoseMadeAlone) {
    MultiUpload run("eight");
    constexpr int kRuns = 8;
    std::vector<std::shared_ptr<MultipleLocalFileSend>> senders;
    for (int i = 0; i < kRuns; ++i) {
        const std::string name = "picture-" + std::to_string(i) + ".png";
        testsupport::twoColourPicture(run.local.file(name), 200 + 37 * i, 120 + 11 * i);
        senders.push_back(i == 0 ? run.sender : MultipleLocalFileSend::create(run.engine, run.center));
        senders.back()->clearSource();
        ASSERT_TRUE(senders.back()->appendToSource(run.local.file(name)));
    }
    for (auto& sender : senders) sender->startTransfer(run.local.path(), VirtualPath(), CB::rename);
    EXPECT_TRUE(run.reports.waitUntil([&](const std::vector<Posted>& all) {
        std::size_t n = 0;
        for (const auto& p : all) n += isEnd(p) && p.result == xfer::kCompleted;
        return n >= kRuns;
    }));
    for (int i = 0; i < kRuns; ++i) {
        const std::string name = "picture-" + std::to_string(i) + ".png";
        SCOPED_TRACE(name);
        const auto alone = createThumnbnail(run.local.file(name));
        ASSERT_TRUE(alone.thumbnail);
        const auto stored = run.named(devserver::kRootFolder, name);
        ASSERT_TRUE(stored && stored->thumbnail);
        const auto clear = run.oracle().openMetadata(stored->itemkey, *stored->thumbnail);
        ASSERT_TRUE(clear);
        EXPECT_EQ((*clear)["thumbnailmime"], "image/jpeg");
        EXPECT_EQ(filetest::base64((*clear)["thumbnail"]), *alone.thumbnail);
    }
}

// --- clashes between folders and files ---------------------------------------------------

TEST(MultipleUpload, AFileWhereAFolderIsNeededEndsInError) {
    MultiUpload run("file-for-folder");
    const auto folderA = run.seedFolder("A");
    testsupport::ListingOracle::Item fileB;
    fileB.metadata = testsupport::metadataText("B");
    run.seedFile(fileB, folderA.uuid);
    run.put("A/B/y", patterned(4));
    const Posted end = run.send({"A"}, CB::alwaysReplace);
    EXPECT_EQ(end.result, xfer::kError);
    EXPECT_EQ(report<std::string>(end, xfer::kErrorKey), "Unable to find destination node A/B");
}

TEST(MultipleUpload, AFolderWithAFilesNameIsNeverReplaced) {
    MultiUpload run("folder-for-file");
    run.seedFolder("x");
    run.put("x", patterned(4));
    for (CB rule : {CB::skipIfEqual, CB::alwaysReplace}) {
        const Posted end = run.send({"x"}, rule);
        EXPECT_EQ(end.result, xfer::kError);
        EXPECT_EQ(report<std::string>(end, xfer::kErrorKey), "Unable to replace remote item that is not a file: x");
        EXPECT_EQ(run.trail(), (Lines{"list root"}));
    }
    EXPECT_EQ(run.send({"x"}, CB::rename).result, xfer::kCompleted);
    EXPECT_EQ(run.trail(), (Lines{"list root", "upload into root"}));
    EXPECT_EQ(run.namesIn(devserver::kRootFolder), (std::multiset<std::string>{"x", "x (1)"}));
}

// --- progress ---------------------------------------------------------------------------------

// What one "Sending" report says of the run.
struct Seen {
    std::int64_t item, total, sent, toSend;
    std::string name;
    friend bool operator==(const Seen&, const Seen&) = default;
};

TEST(MultipleUpload, ReportsWholeFilesAndBlocksOnceEach) {
    MultiUpload run("progress");
    run.put("A/p", patterned(10, 1));
    run.put("A/q", patterned(30, 2));
    VirtualPath destination;
    const auto target = run.seedFolder("Target");
    destination.append("Target", target.uuid);
    const Posted end = run.send({"A"}, CB::skipIfEqual, destination);
    EXPECT_EQ(end.result, xfer::kCompleted);
    EXPECT_EQ(report<std::string>(end, xfer::kBaseDestinationUUIDKey), target.uuid);

    const auto progress = [&] {
        std::vector<Seen> seen;
        for (const auto& p : run.reports.all()) {
            if (p.result != xfer::kSending) continue;
            EXPECT_EQ(p.userInfo.size(), 10u);
            EXPECT_EQ(report<LocalItemInfo::ItemType>(p, xfer::kItemTypeKey), LocalItemInfo::ItemType::file);
            EXPECT_EQ(report<std::string>(p, xfer::kBaseDestinationUUIDKey), target.uuid);
            EXPECT_GE(report<std::int64_t>(p, xfer::kXferRateKey), 0);
            EXPECT_GE(report<std::int64_t>(p, xfer::kRemainingTimeKey), 0);
            seen.push_back({report<std::int64_t>(p, xfer::kItemKey), report<std::int64_t>(p, xfer::kTotalKey),
                            report<std::int64_t>(p, xfer::kBytesSentKey), report<std::int64_t>(p, xfer::kBytesToSendKey),
                            report<std::string>(p, xfer::kItemNameKey)});
        }
        run.reports.clear();
        return seen;
    };
    EXPECT_EQ(progress(), (std::vector<Seen>{{2, 3, 10, 40, "p"}, {2, 3, 10, 40, "p"}, {3, 3, 40, 40, "q"},
                                             {3, 3, 40, 40, "q"}}));

    // A skipped file adds nothing: the run ends below what it had to send.
    run.put("A/q", patterned(30, 3));
    EXPECT_EQ(run.send({"A"}, CB::skipIfEqual, destination).result, xfer::kCompleted);
    EXPECT_EQ(progress(), (std::vector<Seen>{{3, 3, 30, 40, "q"}, {3, 3, 30, 40, "q"}}));
}

TEST(MultipleUpload, RateAndRemainingTimeStayDefinedAtTheEdges) {
    MultiUpload run("clock");
    run.put("f", patterned(40));
    // The run's start reads the clock first; every later reading gives `later`.
    std::atomic<int> readings{0};
    std::atomic<double> start{100.0};
    std::atomic<double> later{100.0};
    run.sender->setClock([&] {
        const double now = readings++ == 0 ? start.load() : later.load();
        return MultipleLocalFileSend::TimePoint(std::chrono::duration<double>(now));
    });
    const auto rates = [&] {
        std::vector<std::pair<std::int64_t, std::int64_t>> out;
        for (const auto& p : run.reports.all())
            if (p.result == xfer::kSending)
                out.emplace_back(report<std::int64_t>(p, xfer::kXferRateKey),
                                 report<std::int64_t>(p, xfer::kRemainingTimeKey));
        run.reports.clear();
        return out;
    };
    using Rates = std::vector<std::pair<std::int64_t, std::int64_t>>;

    // No time has passed.
    EXPECT_EQ(run.send({"f"}, CB::rename).result, xfer::kCompleted);
    EXPECT_EQ(rates(), (Rates{{0, 0}, {0, 0}}));

    // A moment too short for the rate to fit 64 bits.
    readings = 0;
    start = 0.0;
    later = 1e-30;
    EXPECT_EQ(run.send({"f"}, CB::rename).result, xfer::kCompleted);
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(rates(), (Rates{{kMax, 0}, {kMax, 0}}));

    // The start forgotten by clearSource() once the file's block has gone: a
    // second has passed, so only the missing start keeps the rate at 0.
    const auto token = run.center->addObserver(xfer::kMultipleLocalFileSendNotification, [&](const Notification& n) {
        const auto* result = userInfoValue<std::string>(n.userInfo, xfer::kResultKey);
        if (result && *result == xfer::kSending) run.sender->clearSource();
    });
    readings = 0;
    start = 0.0;
    later = 1.0;
    EXPECT_EQ(run.send({"f"}, CB::rename).result, xfer::kCompleted);
    run.center->removeObserver(token);
    EXPECT_EQ(rates(), (Rates{{40, 0}, {0, 0}}));
}

// --- every waiting state ends ----------------------------------------------------------------

// A run that needs a listing, a folder creation, a deletion and an upload:
// the local folder "new" is missing remotely, the file "old" is there.
struct EveryState : MultiUpload {
    explicit EveryState(const std::string& stem) : MultiUpload(stem) {
        put("new/f", patterned(5));
        put("old", patterned(6, 1));
        testsupport::ListingOracle::Item existing;
        existing.metadata = testsupport::metadataText("old");
        seedFile(existing);
    }
};

struct Waiting {
    const char* what;
    const char* method;
    const char* path;
    JobType job;
    const char* errorText;
};
const Waiting kWaiting[] = {
    {"listing", "GET", "/dir/list/", JobType::getFolderInfo,
     "queryRemoteDirectoryContent observer: Unable to list destination directory"},
    {"deletion", "DELETE", "/file/", JobType::fileDelete, "deleteFile observer: Unable to delete existing file"},
    {"upload", "GET", "/filesend/prepare/", JobType::fileSend, "localFileUpload observer: Error sending file"},
    {"creation", "GET", "/dir/create_prepare/", JobType::createFolder,
     "newRemoteDirectoryCreated observer: Unable to create destination directory"},
};

TEST(MultipleUpload, AFailedJobEndsTheRunInErrorAndTheNextRunGoesThrough) {
    FaultsCleared cleared;
    for (const auto& w : kWaiting) {
        EveryState run(std::string("fail-") + w.what);
        server().setFault(w.method, w.path, devserver::Fault::exception(500, "InternalServerError", "No"));
        const Posted end = run.send({"old", "new"}, CB::alwaysReplace);
        server().clearFaults();
        EXPECT_EQ(end.result, xfer::kError) << w.what;
        EXPECT_EQ(report<std::string>(end, xfer::kErrorKey), w.errorText) << w.what;
        EXPECT_TRUE(run.sender->isIdle());
        EXPECT_EQ(run.send({"old", "new"}, CB::alwaysReplace).result, xfer::kCompleted) << w.what;
    }
}

TEST(MultipleUpload, AnAbortedJobEndsTheRunAbortedWhetherRunningOrWaiting) {
    FaultsCleared cleared;
    const auto stallOnce = [](const char* method, const char* path) {
        devserver::Fault stall = devserver::Fault::stalled();
        stall.times = 1;
        server().setFault(method, path, stall);
    };
    for (const bool running : {true, false}) {
        for (const auto& w : kWaiting) {
            const std::string label = std::string(w.what) + (running ? " running" : " waiting");
            EveryState run(std::string("abort-") + w.what);
            // The folder first when its creation is awaited, else the file.
            const std::vector<std::string> order =
                w.job == JobType::createFolder ? std::vector<std::string>{"new", "old"}
                                               : std::vector<std::string>{"old", "new"};
            // Another requester's job that holds the engine until released.
            const auto other = [&] {
                stallOnce("GET", "/file/info/");
                run.engine->file_getFileInfo("00000000-0000-4000-8000-000000000000", std::nullopt);
            };
            Gate gate;
            if (running) {
                stallOnce(w.method, w.path);
                run.start(order, CB::alwaysReplace);
            } else if (w.job == JobType::getFolderInfo) {
                other();
                ASSERT_TRUE(server().waitForStalledRequests(1, kGuard)) << label;
                run.start(order, CB::alwaysReplace);
            } else if (w.job == JobType::fileSend) {
                // Queued while the thumbnail is made.
                run.sender->setLongWorkHook([&](const fs::path&) { gate.pass(); });
                run.start(order, CB::alwaysReplace);
                ASSERT_TRUE(gate.waitEntered()) << label;
                other();
                ASSERT_TRUE(server().waitForStalledRequests(1, kGuard)) << label;
                gate.release();
            } else {
                // Queued behind the listing, which the run's next job then follows.
                stallOnce("GET", "/dir/list/");
                run.start(order, CB::alwaysReplace);
                ASSERT_TRUE(server().waitForStalledRequests(1, kGuard)) << label;
                other();
                server().releaseStalls();
            }
            ASSERT_TRUE(server().waitForStalledRequests(1, kGuard)) << label;
            ASSERT_TRUE(run.waitForJob(w.job)) << label;
            const auto job = run.lastJob(w.job);
            ASSERT_TRUE(job) << label;
            EXPECT_TRUE(run.engine->abortJobs({*job}).at(*job)) << label;
            server().releaseStalls();
            const Posted end = run.end(0);
            EXPECT_EQ(end.result, xfer::kAborted) << label;
            server().clearFaults();
            gate.release();
            EXPECT_TRUE(run.sender->isIdle()) << label;
            EXPECT_EQ(run.send(order, CB::alwaysReplace).result, xfer::kCompleted) << label;
        }
    }
}

// The owner's thread asks for the abort while a block is on its way and reads
// the run's state meanwhile; the upload is dropped on the server.
TEST(MultipleUpload, AnAbortFromTheOwnersThreadDropsTheUploadOnTheServer) {
    FaultsCleared cleared;
    MultiUpload run("abort-upload");
    run.put("big", patterned(100));
    run.put("later", patterned(100));
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("PUT", "/filesend/store/", stall);
    run.start({"big", "later"}, CB::rename);
    std::atomic<bool> sawBusy{false};
    std::thread owner([&] {
        if (!server().waitForStalledRequests(1, kGuard)) return;
        sawBusy = !run.sender->isIdle();
        run.sender->setAbortOperation(true);
        server().releaseStalls();
        while (!run.sender->isIdle()) (void)run.sender->abortOperation();
    });
    const Posted end = run.end(0);
    owner.join();
    EXPECT_TRUE(sawBusy);
    EXPECT_EQ(end.result, xfer::kAborted);
    EXPECT_FALSE(run.sender->abortOperation());
    EXPECT_EQ(run.trail(), (Lines{"list root", "upload into root", "drop upload"}));
    EXPECT_EQ(run.send({"big", "later"}, CB::rename).result, xfer::kCompleted);
}

// --- other requesters' notifications -------------------------------------------------------

TEST(MultipleUpload, OnlyItsOwnJobsMoveTheRun) {
    FaultsCleared cleared;
    MultiUpload run("foreign");
    run.put("A/x", patterned(5));
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("GET", "/dir/list/", stall);
    run.start({"A"}, CB::skipIfEqual);
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));

    const auto post = [&](const char* name, const char* result, std::any data) {
        std::lock_guard lock(run.engine->mutex());
        run.engine->notifications()->post(name, {{"Result", std::string(result)},
                                                 {"httpError", NullObject{}},
                                                 {"CustomData", std::move(data)}});
    };
    const tree::TaggedPayload otherListing{{tree::kSourceKey, std::string("other")},
                                           {tree::kDirInfoKey, tree::DirInfoPayload()}};
    const tree::TaggedPayload ownCreation{{tree::kSourceKey, run.sender->instanceUUID()},
                                          {tree::kUuidKey, std::string("f00")}};
    xfer::LocalFileUploadPayload otherUpload{{xfer::kSourceKey, std::string("other")},
                                             {xfer::kJobIDKey, std::string("j")},
                                             {xfer::kBlockSizeKey, std::int32_t{4}},
                                             {xfer::kBlockNumKey, std::uint64_t{1}},
                                             {xfer::kIsResumedKey, true}};
    post(tree::kQueryRemoteDirectoryContentNotification, tree::kReceived, otherListing);
    post(tree::kQueryRemoteDirectoryContentNotification, tree::kError, NullObject{});
    post(tree::kQueryRemoteDirectoryContentNotification, tree::kAborted, NullObject{});
    post(tree::kNewRemoteDirectoryCreatedNotification, tree::kCreated, ownCreation);
    post(tree::kNewRemoteDirectoryCreatedNotification, tree::kError, NullObject{});
    post(tree::kDeleteFileNotification, tree::kDeleted, std::string("f00"));
    for (const char* result : {xfer::kSending, xfer::kSent, xfer::kError, xfer::kAborted})
        post(xfer::kLocalFileUploadNotification, result, otherUpload);
    EXPECT_FALSE(run.sender->isIdle());
    EXPECT_TRUE(run.reports.all().empty());

    server().releaseStalls();
    EXPECT_EQ(run.end(0).result, xfer::kCompleted);
    EXPECT_EQ(run.trail(), (Lines{"list root", "create in root", "list A", "upload into A"}));

    // A listing someone queued without a tag, while the run waits for its own.
    server().setFault("GET", "/dir/list/", stall);
    run.start({"A"}, CB::skipIfEqual);
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    post(tree::kQueryRemoteDirectoryContentNotification, tree::kReceived, tree::DirInfoPayload());
    const Posted end = run.end(1);
    EXPECT_EQ(end.result, xfer::kError);
    EXPECT_EQ(report<std::string>(end, xfer::kErrorKey),
              "queryRemoteDirectoryContent observer: Unable to decode notification data");
    server().releaseStalls();
}

TEST(MultipleUpload, AResumedUploadBringsTheRunBackFromError) {
    FaultsCleared cleared;
    MultiUpload run("resume");
    run.put("first", patterned(20, 1));
    run.put("second", patterned(30, 2));
    devserver::Fault broken = devserver::Fault::exception(500, "InternalServerError", "Disk full");
    broken.times = 1;
    server().setFault("PUT", "/filesend/terminate/", broken);
    const Posted failed = run.send({"first", "second"}, CB::rename);
    EXPECT_EQ(failed.result, xfer::kError);
    EXPECT_EQ(report<std::string>(failed, xfer::kErrorKey), "localFileUpload observer: Error sending file");
    const auto job = run.lastJob(JobType::fileSend);
    ASSERT_TRUE(job);
    EXPECT_TRUE(run.engine->resumeJobs({*job}).at(*job));
    EXPECT_EQ(run.end(1).result, xfer::kCompleted);
    EXPECT_EQ(run.namesIn(devserver::kRootFolder), (std::multiset<std::string>{"first", "second"}));
}

// --- long work off the engine's lock ------------------------------------------------------

// While a file is compared with its remote twin, another job is queued and
// aborted on the engine; the abort asked meanwhile wins over the comparison.
TEST(MultipleUpload, ComparingAFileLeavesTheEngineFree) {
    FaultsCleared cleared;
    MultiUpload run("compare");
    run.put("big", patterned(3'000'000));
    ASSERT_EQ(run.send({"big"}, CB::rename).result, xfer::kCompleted);
    run.trail();

    Gate gate;
    run.sender->setLongWorkHook([&](const fs::path&) { gate.pass(); });
    run.start({"big"}, CB::skipIfEqual);
    ASSERT_TRUE(gate.waitEntered());
    run.engineNotes.clear();
    devserver::Fault stall = devserver::Fault::stalled();
    stall.times = 1;
    server().setFault("GET", "/dir/list/", stall);
    const std::string other = run.engine->directory_getInfo(devserver::kRootFolder, "other");
    EXPECT_TRUE(run.engine->abortJobs({other}).at(other));
    // Released only once held: a release before the request arrives leaves
    // it held, and the test waiting, for some ten seconds.
    ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
    server().releaseStalls();
    run.sender->setAbortOperation(true);
    EXPECT_FALSE(run.sender->isIdle());
    gate.release();

    EXPECT_EQ(run.end(1).result, xfer::kAborted);
    // The other listing ends when its answer comes.
    EXPECT_TRUE(run.engineNotes.waitUntil([](const std::vector<Posted>& all) {
        return !all.empty() && all.back().result == tree::kAborted;
    }));
    // The run's listing and the other one: nothing deleted, nothing sent.
    EXPECT_EQ(run.trail(), (Lines{"list root", "list root"}));
}

// --- lifetime ----------------------------------------------------------------------------

// The owner lets go of the uploader when it hears the end of a run that ends
// inside startTransfer itself (nothing to send): the call still returns
// cleanly, and the uploader is gone afterwards.
TEST(MultipleUpload, AnOwnerMayLetGoWhenItHearsTheEndInsideTheStartingCall) {
    MultiUpload run("let-go");
    // No weak reference here: it would keep the memory of a destroyed
    // uploader and hide a use after its end.
    const auto observers = [&run] { return run.engine->notifications()->observerCount(xfer::kLocalFileUploadNotification); };
    const std::size_t before = observers();
    const auto token = run.center->addObserver(xfer::kMultipleLocalFileSendNotification,
                                               [&run](const Notification&) { run.sender.reset(); });
    run.sender->clearSource();
    run.sender->startTransfer(run.local.path(), VirtualPath(), CB::rename);
    run.center->removeObserver(token);
    EXPECT_EQ(observers(), before - 1);
    ASSERT_EQ(run.reports.all().size(), 1u);
    EXPECT_EQ(run.reports.all().front().result, xfer::kCompleted);
}

}  // namespace
}  // namespace ostrelcomm
