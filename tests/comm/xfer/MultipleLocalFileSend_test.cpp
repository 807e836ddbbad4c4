#include "xfer/MultipleLocalFileSend.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "jobs/CommJobs.h"
#include "jobs/SrvComm.h"
#include "jobs/VirtualPath.h"
#include "platform/NotificationCenter.h"
#include "platform/SystemLog.h"
#include "platform/Uuid.h"
#include "tree/TreeNotifications.h"
#include "xfer/XferNotifications.h"

using namespace ostrelcomm;
namespace fs = std::filesystem;

namespace {

using ItemType = LocalItemInfo::ItemType;

// Takes the system log for the life of the object.
class SystemLogCapture {
public:
    SystemLogCapture() {
        previous_ = setSystemLogSink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~SystemLogCapture() { setSystemLogSink(std::move(previous_)); }
    SystemLogCapture(const SystemLogCapture&) = delete;
    SystemLogCapture& operator=(const SystemLogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    SystemLogSink previous_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// An item as the tests write it down: where, what, how large.
struct Item {
    fs::path url;
    ItemType type;
    std::int64_t size;
    friend bool operator==(const Item&, const Item&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Item& item) {
        return out << item.url << (item.type == ItemType::file ? " file " : " directory ") << item.size;
    }
};

std::vector<Item> listed(const std::vector<LocalItemInfo>& items) {
    std::vector<Item> out;
    for (const auto& item : items) out.push_back({item.url, item.type, item.size});
    return out;
}

// A Unix socket bound at `path`, closed with the object (its file stays).
class BoundSocket {
public:
    explicit BoundSocket(const fs::path& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string text = path.string();
        if (fd_ < 0 || text.size() >= sizeof(address.sun_path)) return;
        std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~BoundSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool bound() const { return bound_; }

private:
    int fd_;
    bool bound_ = false;
};

// Lowers the effective user to "nobody" when the test runs as root, so that
// permissions apply; back to root at the end.
class AsUnprivilegedUser {
public:
    AsUnprivilegedUser() {
        if (::geteuid() == 0) lowered_ = ::seteuid(65534) == 0;
    }
    ~AsUnprivilegedUser() {
        if (lowered_ && ::seteuid(0) != 0) std::abort();
    }
    bool permissionsApply() const { return ::geteuid() != 0; }

private:
    bool lowered_ = false;
};

class MultipleLocalFileSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "multi-upload-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        // Readable by anyone, for the test that lowers its user.
        fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
        sender_ = MultipleLocalFileSend::create(engine_, center_);
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored))
            if (entry.is_directory(ignored)) fs::permissions(entry.path(), fs::perms::owner_all, ignored);
        fs::remove_all(dir_, ignored);
    }

    fs::path file(const fs::path& relative, std::size_t size) {
        const fs::path path = dir_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << std::string(size, 'q');
        return path;
    }
    fs::path folder(const fs::path& relative) {
        fs::create_directories(dir_ / relative);
        return dir_ / relative;
    }
    // The tree of the walk's cases: A = {x (10 bytes), B/y (30 bytes), .h,
    // .hd/z, l → x, lb → B, p (a FIFO)}.
    fs::path treeA() {
        file("A/x", 10);
        file("A/B/y", 30);
        file("A/.h", 5);
        file("A/.hd/z", 7);
        fs::create_symlink("x", dir_ / "A/l");
        fs::create_symlink("B", dir_ / "A/lb");
        EXPECT_EQ(::mkfifo((dir_ / "A/p").c_str(), 0644), 0);
        return dir_ / "A";
    }

    fs::path dir_;
    std::shared_ptr<SrvComm> engine_ = std::make_shared<SrvComm>();
    std::shared_ptr<NotificationCenter> center_ = std::make_shared<NotificationCenter>();
    std::shared_ptr<MultipleLocalFileSend> sender_;
};

TEST_F(MultipleLocalFileSendTest, AFolderComesWithItsVisibleFilesAndFoldersDepthFirst) {
    SystemLogCapture log;
    const fs::path a = treeA();

    EXPECT_EQ(sender_->appendToSource(a), std::optional<std::size_t>(4));
    const std::vector<Item> expected = {
        {a, ItemType::directory, 0},
        {a / "B", ItemType::directory, 0},
        {a / "B" / "y", ItemType::file, 30},
        {a / "x", ItemType::file, 10},
    };
    const std::vector<LocalItemInfo> items = sender_->sourceItems();
    EXPECT_EQ(listed(items), expected);
    for (const auto& item : items) {
        EXPECT_EQ(item.blockSize, 0);
        EXPECT_EQ(item.lastBlockSent, std::nullopt);
        EXPECT_EQ(item.bytesSent, 0);
    }
    EXPECT_EQ(sender_->bytesToSend(), 40);
    EXPECT_EQ(sender_->bytesSent(), 0);
    EXPECT_TRUE(log.lines().empty());

    // A second call appends after the first.
    EXPECT_EQ(sender_->appendToSource(a / "B"), std::optional<std::size_t>(6));
    std::vector<Item> twice = expected;
    twice.push_back({a / "B", ItemType::directory, 0});
    twice.push_back({a / "B" / "y", ItemType::file, 30});
    EXPECT_EQ(listed(sender_->sourceItems()), twice);
    EXPECT_EQ(sender_->bytesToSend(), 70);

    sender_->clearSource();
    EXPECT_TRUE(sender_->sourceItems().empty());
    EXPECT_EQ(sender_->bytesToSend(), 0);
    EXPECT_EQ(sender_->appendToSource(a / "x"), std::optional<std::size_t>(1));
    EXPECT_EQ(sender_->bytesToSend(), 10);
}

TEST_F(MultipleLocalFileSendTest, SiblingsComeInTheByteOrderOfTheirNames) {
    // Made in the reverse order, so that neither creation order nor a
    // locale's collation ("a" before "B") passes for it.
    for (const char* name : {"\xC3\xA9", "b", "a", "B", "A1"}) file(fs::path("S") / name, 1);
    ASSERT_EQ(sender_->appendToSource(dir_ / "S"), std::optional<std::size_t>(6));
    std::vector<fs::path> urls;
    for (const auto& item : sender_->sourceItems()) urls.push_back(item.url);
    const fs::path s = dir_ / "S";
    EXPECT_EQ(urls, (std::vector<fs::path>{s, s / "A1", s / "B", s / "a", s / "b", s / "\xC3\xA9"}));
}

TEST_F(MultipleLocalFileSendTest, AnItemChosenDirectlyMustBeARegularFileOrAFolder) {
    const fs::path a = treeA();
    const fs::path socket = dir_ / "sock";
    BoundSocket bound(socket);
    ASSERT_TRUE(bound.bound());

    struct Row {
        const char* what;
        fs::path url;
        std::optional<Item> added;
        std::vector<std::string> log;
    };
    const std::string missing = (dir_ / "missing").string();
    const std::vector<Row> rows = {
        {"regular file", a / "x", Item{a / "x", ItemType::file, 10}, {}},
        {"hidden regular file", a / ".h", Item{a / ".h", ItemType::file, 5}, {}},
        {"FIFO", a / "p", std::nullopt, {"Error reading file attributes: " + (a / "p").string()}},
        {"device", "/dev/null", std::nullopt, {"Error reading file attributes: /dev/null"}},
        {"socket", socket, std::nullopt, {"Error reading file attributes: " + socket.string()}},
        {"link to a file", a / "l", std::nullopt, {"Error reading file attributes: " + (a / "l").string()}},
        {"missing", missing, std::nullopt, {"Unable to get properties for local URL " + missing + "."}},
        {"empty path", "", std::nullopt, {"Unable to get properties for local URL ."}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SystemLogCapture log;
        sender_->clearSource();
        const auto count = sender_->appendToSource(row.url);
        EXPECT_EQ(log.lines(), row.log);
        if (row.added) {
            EXPECT_EQ(count, std::optional<std::size_t>(1));
            EXPECT_EQ(listed(sender_->sourceItems()), std::vector<Item>{*row.added});
            EXPECT_EQ(sender_->bytesToSend(), row.added->size);
            EXPECT_TRUE(sender_->refusedItems().empty());
        } else {
            EXPECT_EQ(count, std::nullopt);
            EXPECT_TRUE(sender_->sourceItems().empty());
            EXPECT_EQ(sender_->bytesToSend(), 0);
            EXPECT_EQ(sender_->refusedItems(), std::vector<fs::path>{row.url});
        }
    }
}

// A remote name must be UTF-8: a name in another encoding ("caf\xE9" in
// Latin-1) is refused before anything goes out, chosen directly or met in a
// walk, where the rest of the folder still comes.
TEST_F(MultipleLocalFileSendTest, NamesThatAreNotUtf8AreRefusedAndListed) {
    const fs::path w = folder("W");
    file("W/a", 1);
    file("W/b", 2);
    file("W/caf\xE9", 3);
    file("W/d\xE9/z", 4);
    file("W/e/caf\xE9", 5);
    file("W/e/f", 6);
    file("caf\xE9", 7);
    folder("d\xE9");

    SystemLogCapture log;
    EXPECT_EQ(sender_->appendToSource(w), std::optional<std::size_t>(5));
    EXPECT_EQ(listed(sender_->sourceItems()), (std::vector<Item>{{w, ItemType::directory, 0},
                                                                 {w / "a", ItemType::file, 1},
                                                                 {w / "b", ItemType::file, 2},
                                                                 {w / "e", ItemType::directory, 0},
                                                                 {w / "e" / "f", ItemType::file, 6}}));
    EXPECT_EQ(sender_->bytesToSend(), 9);
    EXPECT_EQ(sender_->refusedItems(),
              (std::vector<fs::path>{w / "caf\xE9", w / "d\xE9", w / "e" / "caf\xE9"}));

    // Chosen directly, a file or a folder so named adds nothing.
    EXPECT_EQ(sender_->appendToSource(dir_ / "caf\xE9"), std::nullopt);
    EXPECT_EQ(sender_->appendToSource(dir_ / "d\xE9"), std::nullopt);
    EXPECT_EQ(sender_->sourceItems().size(), 5u);
    EXPECT_EQ(sender_->refusedItems(), (std::vector<fs::path>{w / "caf\xE9", w / "d\xE9", w / "e" / "caf\xE9",
                                                              dir_ / "caf\xE9", dir_ / "d\xE9"}));
    EXPECT_EQ(log.lines().size(), 5u);

    sender_->clearSource();
    EXPECT_TRUE(sender_->refusedItems().empty());
}

TEST_F(MultipleLocalFileSendTest, AFolderThatCannotBeReadEndsTheWalkKeepingWhatCameBefore) {
    file("A/B/y", 30);
    file("A/C/z", 3);
    file("A/x", 10);
    folder("D");
    const fs::path a = dir_ / "A";
    fs::permissions(a / "C", fs::perms::none);
    fs::permissions(dir_ / "D", fs::perms::none);

    AsUnprivilegedUser user;
    if (!user.permissionsApply()) GTEST_SKIP() << "permissions do not apply to this user";
    {
        SystemLogCapture log;
        EXPECT_EQ(sender_->appendToSource(a), std::optional<std::size_t>(4));
        EXPECT_EQ(listed(sender_->sourceItems()), (std::vector<Item>{{a, ItemType::directory, 0},
                                                                     {a / "B", ItemType::directory, 0},
                                                                     {a / "B" / "y", ItemType::file, 30},
                                                                     {a / "C", ItemType::directory, 0}}));
        EXPECT_EQ(sender_->bytesToSend(), 30);
        EXPECT_EQ(log.lines(), std::vector<std::string>{"Cannot read URL " + (a / "C").string()});
    }
    {
        // A chosen folder that cannot be read at all comes alone.
        SystemLogCapture log;
        sender_->clearSource();
        EXPECT_EQ(sender_->appendToSource(dir_ / "D"), std::optional<std::size_t>(1));
        const std::vector<Item> alone = {{dir_ / "D", ItemType::directory, 0}};
        EXPECT_EQ(listed(sender_->sourceItems()), alone);
        EXPECT_EQ(log.lines(), std::vector<std::string>{"Cannot read URL " + (dir_ / "D").string()});
    }
}

TEST_F(MultipleLocalFileSendTest, ANewUploaderIsIdleWithItsOwnUpperCaseTag) {
    EXPECT_TRUE(sender_->isIdle());
    EXPECT_FALSE(sender_->abortOperation());
    EXPECT_TRUE(sender_->sourceItems().empty());
    EXPECT_EQ(sender_->bytesToSend(), 0);
    EXPECT_EQ(sender_->bytesSent(), 0);
    const std::string& tag = sender_->instanceUUID();
    EXPECT_TRUE(isUuidString(tag)) << tag;
    EXPECT_EQ(tag.find_first_of("abcdef"), std::string::npos) << tag;
    EXPECT_NE(MultipleLocalFileSend::create(engine_, center_)->instanceUUID(), tag);
}

TEST_F(MultipleLocalFileSendTest, ConflictingBehavioursFromRawTakesExactlyTheThreeValues) {
    using CB = MultipleLocalFileSend::ConflictingBehaviours;
    const std::vector<std::pair<std::int64_t, std::optional<CB>>> rows = {
        {0, CB::skipIfEqual}, {1, CB::alwaysReplace}, {2, CB::rename}, {3, std::nullopt}, {-1, std::nullopt},
    };
    for (const auto& [raw, expected] : rows) {
        SCOPED_TRACE(raw);
        EXPECT_EQ(MultipleLocalFileSend::fromRaw(raw), expected);
        EXPECT_EQ(conflictingBehavioursFromRaw(raw), expected);
        if (expected) {
            EXPECT_EQ(rawValue(*expected), raw);
        }
    }
}

TEST_F(MultipleLocalFileSendTest, StatusNamesInOrder) {
    const std::vector<std::string> expected = {"idle",
                                               "getNextItem",
                                               "checkIfDestinationDir",
                                               "changeLevel",
                                               "queryForRemoteDirectoryContent",
                                               "waitForDestDirContent",
                                               "checkRemoteExist",
                                               "deleteOldFile",
                                               "waitForFileDeleted",
                                               "createDestDir",
                                               "waitForDestDirCreated",
                                               "sendFile",
                                               "waitForFileSent",
                                               "completed",
                                               "aborted",
                                               "error"};
    std::vector<std::string> names;
    for (std::size_t i = 0; i < MultipleLocalFileSend::kStatusCount; ++i)
        names.emplace_back(name(static_cast<MultipleLocalFileSend::Status>(i)));
    EXPECT_EQ(names, expected);
}

TEST_F(MultipleLocalFileSendTest, AnAbortWithNoUploadJobOnlyStoresTheRequest) {
    std::atomic<int> queuePosts{0};
    const auto token = engine_->queue()->notifications()->addObserver(
        kJobChangedNotification, [&](const Notification&) { ++queuePosts; });

    sender_->setAbortOperation(true);
    EXPECT_TRUE(sender_->abortOperation());
    EXPECT_EQ(queuePosts.load(), 0);
    EXPECT_TRUE(sender_->abortOperation());

    sender_->setAbortOperation(false);
    EXPECT_FALSE(sender_->abortOperation());
    EXPECT_EQ(queuePosts.load(), 0);
    engine_->queue()->notifications()->removeObserver(token);
}

TEST_F(MultipleLocalFileSendTest, AnEmptyListEndsTheRunAtOnceAndAFilledOneStartsIt) {
    std::vector<UserInfo> reports;
    center_->addObserver(xfer::kMultipleLocalFileSendNotification,
                         [&](const Notification& n) { reports.push_back(n.userInfo); });
    VirtualPath destination;
    sender_->startTransfer(dir_, destination, MultipleLocalFileSend::ConflictingBehaviours::rename);
    EXPECT_TRUE(sender_->isIdle());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(std::any_cast<std::string>(reports[0].at(xfer::kResultKey)), xfer::kCompleted);
    EXPECT_EQ(std::any_cast<std::string>(reports[0].at(xfer::kBaseDestinationUUIDKey)), "root");

    // A filled list starts with the destination's listing, which an engine
    // without a session ends at once: the run ends in error, the list stays.
    file("x", 4);
    ASSERT_EQ(sender_->appendToSource(dir_ / "x"), std::optional<std::size_t>(1));
    const std::string folder = newUuidString();
    destination.append("Photos", folder);
    sender_->startTransfer(dir_, destination, MultipleLocalFileSend::ConflictingBehaviours::skipIfEqual);
    EXPECT_TRUE(sender_->isIdle());
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(std::any_cast<std::string>(reports[1].at(xfer::kResultKey)), xfer::kError);
    EXPECT_EQ(std::any_cast<std::string>(reports[1].at(xfer::kErrorKey)),
              "queryRemoteDirectoryContent observer: Unable to list destination directory");
    EXPECT_EQ(std::any_cast<std::string>(reports[1].at(xfer::kBaseDestinationUUIDKey)), folder);
    EXPECT_EQ(sender_->sourceItems().size(), 1u);
    EXPECT_EQ(sender_->bytesToSend(), 4);
}

TEST_F(MultipleLocalFileSendTest, ItsObserversGoWithIt) {
    const std::shared_ptr<NotificationCenter> engineCenter = engine_->notifications();
    const char* observed[] = {xfer::kLocalFileUploadNotification, tree::kDeleteFileNotification,
                              tree::kNewRemoteDirectoryCreatedNotification,
                              tree::kQueryRemoteDirectoryContentNotification};
    for (const char* notification : observed) EXPECT_EQ(engineCenter->observerCount(notification), 1u) << notification;

    std::weak_ptr<MultipleLocalFileSend> weak = sender_;
    sender_.reset();
    // Nothing but its owner kept it.
    EXPECT_TRUE(weak.expired());
    for (const char* notification : observed) EXPECT_EQ(engineCenter->observerCount(notification), 0u) << notification;

    std::lock_guard lock(engine_->mutex());
    for (const char* notification : observed)
        engineCenter->post(notification, {{"Result", std::string("Sent")}, {"CustomData", NullObject{}}});
}

// The engine's thread may hold the engine's lock for long; the owner's
// thread still learns at once whether a run is going on and whether an abort
// is pending. (Were either read to wait for the lock, this test would never
// end.)
TEST_F(MultipleLocalFileSendTest, IdleAndAbortReadsNeverWaitForTheEngine) {
    std::lock_guard lock(engine_->mutex());
    bool idle = false;
    bool abort = true;
    std::thread owner([&] {
        idle = sender_->isIdle();
        abort = sender_->abortOperation();
    });
    owner.join();
    EXPECT_TRUE(idle);
    EXPECT_FALSE(abort);
}

// The owner's operations and the engine's observers touch the object from two
// threads: ThreadSanitizer sees any field they share without the lock.
TEST_F(MultipleLocalFileSendTest, OwnerAndEngineThreadsShareItSafely) {
    const fs::path a = treeA();
    std::atomic<bool> done{false};
    std::thread engineThread([&] {
        while (!done.load()) {
            std::lock_guard lock(engine_->mutex());
            engine_->notifications()->post(xfer::kLocalFileUploadNotification,
                                           {{"Result", std::string("Sending")}});
            std::this_thread::yield();
        }
    });
    std::thread reader([&] {
        while (!done.load()) {
            (void)sender_->isIdle();
            (void)sender_->abortOperation();
            (void)sender_->bytesToSend();
            (void)sender_->sourceItems();
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 50; ++i) {
        sender_->clearSource();
        EXPECT_EQ(sender_->appendToSource(a), std::optional<std::size_t>(4));
        sender_->setAbortOperation(i % 2 == 0);
        sender_->startTransfer(a, VirtualPath(), MultipleLocalFileSend::ConflictingBehaviours::alwaysReplace);
    }
    done = true;
    engineThread.join();
    reader.join();
    EXPECT_EQ(sender_->bytesToSend(), 40);
}

}  // namespace
