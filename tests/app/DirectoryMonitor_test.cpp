// The local folder's watcher: which changes post "refreshLocalFilesList",
// that a switch leaves one watch, that a released delegate silences it, that
// a folder it cannot watch is logged and costs nothing, and that a burst of
// changes posts seldom but always once after the last one.

#include <QElapsedTimer>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/local/Directory.h"
#include "app/local/DirectoryMonitor.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"

using namespace apptest;
using namespace std::chrono_literals;
using quorvel::Appwise;
using quorvel::DirectoryMonitor;
namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::string& content = "x") {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << content;
}

// The inotify descriptors this process holds.
int inotifyDescriptors() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error).string() == "anon_inode:inotify") ++count;
    }
    return count;
}

enum class Change { create, remove, renameInside, moveIn, moveOut, makeFolder, link };

}  // namespace

Q_DECLARE_METATYPE(Change)

class DirectoryMonitorTest : public QObject {
    Q_OBJECT

    // The posts of "refreshLocalFilesList" on the shared center, and when.
    int posts = 0;
    std::vector<qint64> postedAt;
    std::function<void()> onPost;
    QElapsedTimer clock;
    ostrelcomm::NotificationCenter::Token token = 0;
    std::unique_ptr<QObject> delegate;

private slots:
    void initTestCase() {
        Appwise::installShared(makeAppwise(uniqueSuite("monitor")));
        clock.start();
    }
    void init() {
        DirectoryMonitor::setBurstWindow(0ms);
        posts = 0;
        postedAt.clear();
        onPost = nullptr;
        delegate = std::make_unique<QObject>();
        token = Appwise::shared().notifications()->addObserver(quorvel::kRefreshLocalFilesListNotification,
                                                               [this](const ostrelcomm::Notification&) {
                                                                   ++posts;
                                                                   postedAt.push_back(clock.elapsed());
                                                                   if (onPost) onPost();
                                                               });
    }
    void cleanup() { Appwise::shared().notifications()->removeObserver(token); }

    void eachChangeOfTheEntryListPosts_data() {
        QTest::addColumn<Change>("change");
        QTest::newRow("create") << Change::create;
        QTest::newRow("delete") << Change::remove;
        QTest::newRow("rename inside") << Change::renameInside;
        QTest::newRow("move in") << Change::moveIn;
        QTest::newRow("move out") << Change::moveOut;
        QTest::newRow("make a folder") << Change::makeFolder;
        QTest::newRow("make a link") << Change::link;
    }
    void eachChangeOfTheEntryListPosts() {
        QFETCH(Change, change);
        TemporaryFolder dir;
        const fs::path watched = dir.path() / "watched";
        const fs::path elsewhere = dir.path() / "elsewhere";
        fs::create_directory(watched);
        fs::create_directory(elsewhere);
        writeFile(watched / "inside");
        writeFile(elsewhere / "outside");
        DirectoryMonitor monitor;
        monitor.setDelegate(delegate.get());
        monitor.startMonitoring(watched);
        QVERIFY(monitor.monitoredDirectoryFileDescriptor() >= 0);
        QCOMPARE(monitor.url(), std::optional(watched));

        switch (change) {
            case Change::create: writeFile(watched / "new"); break;
            case Change::remove: fs::remove(watched / "inside"); break;
            case Change::renameInside: fs::rename(watched / "inside", watched / "renamed"); break;
            case Change::moveIn: fs::rename(elsewhere / "outside", watched / "outside"); break;
            case Change::moveOut: fs::rename(watched / "inside", elsewhere / "inside"); break;
            case Change::makeFolder: fs::create_directory(watched / "folder"); break;
            case Change::link: fs::create_symlink("inside", watched / "link"); break;
        }

        QCOMPARE(posts, 0);
        QTRY_COMPARE(posts, 1);
    }

    // None of these touches the list of entries: no event, no read, no post.
    void changesOfContentsAndAttributesPostNothing() {
        TemporaryFolder dir;
        const fs::path watched = dir.path();
        writeFile(watched / "file");
        fs::create_directory(watched / "sub");
        DirectoryMonitor monitor;
        monitor.setDelegate(delegate.get());
        monitor.startMonitoring(watched);

        writeFile(watched / "file", "appended");
        QVERIFY(::chmod((watched / "file").c_str(), 0600) == 0);
        QVERIFY(::utimensat(AT_FDCWD, (watched / "file").c_str(), nullptr, 0) == 0);
        QVERIFY(::utimensat(AT_FDCWD, (watched / "sub").c_str(), nullptr, 0) == 0);
        writeFile(watched / "sub" / "deeper");
        fs::remove(watched / "sub" / "deeper");
        writeFile(watched / "marker");

        QTRY_COMPARE(posts, 1);
        QCOMPARE(monitor.eventsRead(), std::uint64_t{1});
    }

    void switchingLeavesOneWatchOnTheLastFolder() {
        TemporaryFolder dir;
        const fs::path first = dir.path() / "first", second = dir.path() / "second", last = dir.path() / "last";
        for (const auto& folder : {first, second, last}) fs::create_directory(folder);
        const int before = inotifyDescriptors();
        DirectoryMonitor monitor;
        monitor.setDelegate(delegate.get());

        monitor.startMonitoring(first);
        monitor.startMonitoring(second);
        monitor.startMonitoring(last);

        QCOMPARE(inotifyDescriptors(), before + 1);
        QCOMPARE(monitor.url(), std::optional(last));
        writeFile(first / "a");
        writeFile(second / "b");
        writeFile(last / "marker");
        QTRY_COMPARE(posts, 1);
        QCOMPARE(monitor.eventsRead(), std::uint64_t{1});

        monitor.stopMonitoring();
        QCOMPARE(inotifyDescriptors(), before);
        QCOMPARE(monitor.monitoredDirectoryFileDescriptor(), -1);
        QCOMPARE(monitor.url(), std::nullopt);
    }

    void aReleasedDelegateSwallowsEvents() {
        TemporaryFolder dir;
        DirectoryMonitor monitor;
        monitor.setDelegate(delegate.get());
        monitor.startMonitoring(dir.path());

        delegate.reset();
        writeFile(dir.path() / "unseen");
        QTRY_COMPARE(monitor.eventsRead(), std::uint64_t{1});
        QCOMPARE(posts, 0);

        QObject another;
        monitor.setDelegate(&another);
        writeFile(dir.path() / "seen");
        QTRY_COMPARE(posts, 1);
    }

    void aFolderThatCannotBeWatchedIsLoggedAndTheNextStartWorks_data() {
        QTest::addColumn<QString>("what");
        QTest::newRow("gone") << "gone";
        QTest::newRow("a file") << "file";
        QTest::newRow("no permission") << "closed";
    }
    void aFolderThatCannotBeWatchedIsLoggedAndTheNextStartWorks() {
        QFETCH(QString, what);
        if (what == "closed" && ::geteuid() == 0) QSKIP("root may watch every folder");
        TemporaryFolder dir;
        const fs::path target = dir.path() / what.toStdString();
        if (what == "file") writeFile(target);
        if (what == "closed") {
            fs::create_directory(target);
            QVERIFY(::chmod(target.c_str(), 0) == 0);
        }
        const fs::path good = dir.path() / "good";
        fs::create_directory(good);
        const int before = inotifyDescriptors();
        DirectoryMonitor monitor;
        monitor.setDelegate(delegate.get());
        LogCapture log;

        monitor.startMonitoring(target);

        QCOMPARE(monitor.monitoredDirectoryFileDescriptor(), -1);
        QCOMPARE(inotifyDescriptors(), before);
        const auto lines = log.lines();
        QCOMPARE(lines.size(), std::size_t{1});
        QVERIFY2(lines.front().rfind("Cannot watch " + target.string() + ": ", 0) == 0, lines.front().c_str());

        monitor.startMonitoring(good);
        writeFile(good / "new");
        QTRY_COMPARE(posts, 1);
    }

    void theFolderRemovedPostsOnceAndEndsTheWatch() {
        TemporaryFolder dir;
        const fs::path watched = dir.path() / "watched";
        fs::create_directory(watched);
        const int before = inotifyDescriptors();
        DirectoryMonitor monitor;
        monitor.setDelegate(delegate.get());
        monitor.startMonitoring(watched);

        fs::remove(watched);

        QTRY_COMPARE(posts, 1);
        QCOMPARE(monitor.monitoredDirectoryFileDescriptor(), -1);
        QCOMPARE(inotifyDescriptors(), before);
        QCOMPARE(monitor.url(), std::nullopt);
    }

    // The main view lists the folder at each post; the listing after the last
    // post holds every file.
    void aBurstPostsAtMostOncePerWindowAndOnceAfterTheLastChange() {
        constexpr int kFiles = 2000;
        constexpr auto kWindow = DirectoryMonitor::kDefaultBurstWindow;
        DirectoryMonitor::setBurstWindow(kWindow);
        TemporaryFolder dir;
        std::size_t listed = 0;
        onPost = [&] { listed = quorvel::Directory(dir.path()).files.size(); };
        DirectoryMonitor monitor;
        monitor.setDelegate(delegate.get());
        monitor.startMonitoring(dir.path());

        const qint64 started = clock.elapsed();
        for (int n = 0; n < kFiles; ++n) {
            writeFile(dir.path() / ("file-" + std::to_string(n)));
            // The monitor reads each change as it comes.
            QCoreApplication::processEvents();
        }
        const qint64 took = clock.elapsed() - started;

        QTRY_COMPARE(listed, std::size_t{kFiles});
        QVERIFY(monitor.eventsRead() >= std::uint64_t{kFiles});
        QVERIFY2(posts <= took / kWindow.count() + 2, qPrintable(QString("%1 posts in %2 ms").arg(posts).arg(took)));
        QVERIFY(posts < kFiles / 10);
        for (std::size_t i = 1; i < postedAt.size(); ++i)
            QVERIFY2(postedAt[i] - postedAt[i - 1] >= kWindow.count() - 1,
                     qPrintable(QString("posts %1 ms apart").arg(postedAt[i] - postedAt[i - 1])));
    }
};

QTEST_MAIN(DirectoryMonitorTest)
#include "DirectoryMonitor_test.moc"
