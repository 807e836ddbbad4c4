// The main view's transfers against the stand-in server: a download of a
// file and a folder tree gives a local copy equal to the remote one, and no
// remote folder name leads outside the local folder; the upload of the local
// selection is stored, refused while another runs or under the shares node,
// and names what it could not send. And the queue observers: a change of
// one job redraws its changed cells only, and copies no queue.

#include <QAbstractItemModel>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Localize.h"
#include "app/local/Directory.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/EngineBridge.h"
#include "app/utils/SelectedItems.h"
#include "app/window/MainViewController.h"
#include "devserver/Fault.h"
#include "jobs/CommJobs.h"
#include "jobs/JobStatus.h"
#include "jobs/JobType.h"
#include "support/NotificationRecorder.h"
#include "tree/TreeNotifications.h"
#include "xfer/XferNotifications.h"

using namespace apptest;
namespace fs = std::filesystem;
using ostrelcomm::CommJobsItem;
using ostrelcomm::JobStatus;
using ostrelcomm::JobType;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::MainViewController;

namespace {

constexpr auto kGuard = std::chrono::milliseconds(kStandInGuardMs);
using Strings = std::vector<std::string>;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// Every entry below `folder`, relative to it, folders ending with "/"; with
// the content of each file.
std::map<std::string, std::string> treeOf(const fs::path& folder) {
    std::map<std::string, std::string> entries;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
        const std::string relative = entry.path().lexically_relative(folder).string();
        if (entry.is_directory(ignored))
            entries[relative + "/"] = "";
        else
            entries[relative] = readFile(entry.path());
    }
    return entries;
}

// Every path below `folder`, links not followed.
std::set<fs::path> find(const fs::path& folder) {
    std::set<fs::path> paths;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) paths.insert(entry.path());
    return paths;
}

// A folder made through the fast engine, as another client would; its
// identifier, empty when none was made.
std::string createFolder(Appwise& appwise, const std::string& name, const std::string& parent) {
    std::optional<std::string> made;
    bool ended = false;
    QObject receiver;
    const std::string tag = "sendReceiveTest:" + name + ":" + parent;
    QObject::connect(&appwise.bridge(CommTasks::fastTask), &quorvel::EngineBridge::newRemoteDirectoryCreated,
                     &receiver, [&](const quorvel::DirectoryCreatedEvent& event) {
                         if (event.source != tag || event.result == ostrelcomm::tree::kStarted) return;
                         ended = true;
                         if (event.result == ostrelcomm::tree::kCreated && event.data) made = *event.data;
                     });
    appwise.engine(CommTasks::fastTask)->directory_create(name, parent == "root" ? std::nullopt
                                                                                  : std::optional<std::string>(parent),
                                                          tag);
    (void)QTest::qWaitFor([&] { return ended; }, kStandInGuardMs);
    return made.value_or(std::string());
}

// A file uploaded through the slow engine under `name`; true once stored.
bool uploadFile(Appwise& appwise, const fs::path& local, const std::string& parent, const std::string& name) {
    const auto& slow = appwise.engine(CommTasks::slowTask);
    const auto jobID = slow->fileSend_add(local, parent, name);
    if (!jobID) return false;
    return QTest::qWaitFor(
        [&] {
            const auto job = slow->queue()->getJobData(*jobID);
            return job && ostrelcomm::isFinished(job->status);
        },
        kStandInGuardMs) &&
           slow->queue()->getJobData(*jobID)->status == JobStatus::completed;
}

int jobsOfType(const ostrelcomm::SrvComm& engine, JobType type) {
    int count = 0;
    for (const auto& [id, job] : engine.queue()->getJobsList())
        if (job.jobType == type) ++count;
    return count;
}

int requestsTo(const std::vector<devserver::RecordedRequest>& requests, const std::string& line) {
    int count = 0;
    for (const auto& text : lines(requests))
        if (text == line) ++count;
    return count;
}

// The view's local table showing `folder`, with the rows of these names
// selected.
void selectLocal(MainViewController& view, const fs::path& folder, const Strings& names) {
    view.setLocalFiles(quorvel::Directory(folder));
    view.reloadLocalFileList();
    auto* table = view.findChild<QTableView*>(QStringLiteral("localFiles"));
    table->clearSelection();
    const auto& items = *view.directoryItems();
    for (std::size_t row = 0; row < items.size(); ++row)
        for (const auto& name : names)
            if (items[row].url.filename() == name)
                table->selectionModel()->select(table->model()->index(static_cast<int>(row), 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

CommJobsItem job(JobType type, JobStatus status, std::size_t actStep, std::int64_t queuedAt) {
    CommJobsItem item(type, 10, nullptr, ostrelcomm::JobPriority::Normal, 0);
    item.status = status;
    item.actStep = actStep;
    item.timestamp = std::chrono::sys_seconds(std::chrono::seconds(queuedAt));
    return item;
}

int rowOf(const MainViewController& view, const std::string& jobID) {
    const auto& rows = view.jobsViewList();
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (rows[row].uuid == jobID) return static_cast<int>(row);
    return -1;
}

}  // namespace

class MainViewSendReceiveTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { standIn(); }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("send-receive"), presenter, Terms::accepted));
    }

    void cleanup() {
        standIn().releaseStalls();
        standIn().clearFaults();
    }

    // [file, folder with a subfolder, empty folder]: one download per file,
    // one tree query per folder, a local copy equal to the remote one, and
    // no local folder for the empty one. A selection reaching the root
    // downloads nothing.
    void aDownloadCopiesFilesAndFolderTrees() {
        StandInAccount account("download");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder sources;
        TemporaryFolder downloads;
        QVERIFY(sources.isValid() && downloads.isValid());
        const std::string dir = createFolder(*appwise, "Dir", "root");
        const std::string sub = createFolder(*appwise, "Sub", dir);
        QVERIFY(!dir.empty() && !sub.empty() && !createFolder(*appwise, "Empty", "root").empty());
        QVERIFY(uploadFile(*appwise, writeFile(sources.path() / "1", "top level\n"), "root", "top.txt"));
        QVERIFY(uploadFile(*appwise, writeFile(sources.path() / "2", "inside Dir\n"), dir, "inner.txt"));
        QVERIFY(uploadFile(*appwise, writeFile(sources.path() / "3", std::string(70'000, 'q')), sub, "deep.bin"));

        MainViewController view;
        view.commRelatedObservers();
        appwise->setLocalPath(downloads.path());
        const auto listing = folderListing(*appwise, "root");
        QVERIFY(listing);
        appwise->setRemoteDirectoryInfo(listing);
        const auto& slow = appwise->engine(CommTasks::slowTask);
        slow->queue()->jobCleanup();
        account.newRequests();

        appwise->selectedItems().setOwnElements(pick(listing->content, {"top.txt", "Dir", "Empty"}));
        view.receiveFileFromRemote();
        QTRY_VERIFY_WITH_TIMEOUT(jobsOfType(*slow, JobType::fileReceive) == 3 && engineIdle(*slow), kStandInGuardMs);
        QCoreApplication::processEvents();
        QCOMPARE(jobsOfType(*slow, JobType::fileReceive), 3);
        const auto requests = account.newRequests();
        QCOMPARE(requestsTo(requests, "GET /dir/tree/"), 2);
        QCOMPARE(requestsTo(requests, "GET /filerecv/prepare/"), 3);
        const std::map<std::string, std::string> expected = {
            {"top.txt", "top level\n"},
            {"Dir/", ""},
            {"Dir/inner.txt", "inside Dir\n"},
            {"Dir/Sub/", ""},
            {"Dir/Sub/deep.bin", std::string(70'000, 'q')},
        };
        QCOMPARE(treeOf(downloads.path()), expected);

        // A folder the listing on show does not hold comes without its own
        // folder, straight into the local one.
        TemporaryFolder elsewhere;
        QVERIFY(elsewhere.isValid());
        appwise->setLocalPath(elsewhere.path());
        appwise->setRemoteDirectoryInfo(nullptr);
        appwise->selectedItems().setOwnElements(pick(listing->content, {"Dir"}));
        view.receiveFileFromRemote();
        QTRY_VERIFY_WITH_TIMEOUT(jobsOfType(*slow, JobType::fileReceive) == 5 && engineIdle(*slow), kStandInGuardMs);
        const std::map<std::string, std::string> unnamed = {
            {"inner.txt", "inside Dir\n"},
            {"Sub/", ""},
            {"Sub/deep.bin", std::string(70'000, 'q')},
        };
        QCOMPARE(treeOf(elsewhere.path()), unnamed);

        // The root first: nothing at all is queued.
        auto root = pick(listing->content, {"top.txt"});
        QCOMPARE(root.size(), std::size_t{1});
        root.front().type = ostrelcomm::RemoteItemType::ROOT;
        root.push_back(pick(listing->content, {"top.txt"}).front());
        appwise->selectedItems().setOwnElements(root);
        const auto jobsBefore = slow->queue()->getJobsList().size();
        view.receiveFileFromRemote();
        QCOMPARE(slow->queue()->getJobsList().size(), jobsBefore);
    }

    // Folders named to climb out of the local folder, to name a path of
    // folders or an absolute one, or nothing at all: after the download every
    // new entry lies under the local folder, each file in a folder of its
    // own.
    void hostileFolderNamesStayInsideTheLocalFolder() {
        StandInAccount account("hostile");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder sources;
        TemporaryFolder parent;
        QVERIFY(sources.isValid() && parent.isValid());
        const fs::path local = parent.path() / "local" / "shown";
        fs::create_directories(local);
        const std::string top = createFolder(*appwise, "Hostile", "root");
        QVERIFY(!top.empty());
        const Strings hostile = {"..", "../../x", "a/b", "", "/etc"};
        const std::string fileName = "quorvel-hostile-" + account.user() + ".txt";
        std::string parentOfNext = top;
        for (const auto& name : hostile) {
            // Side by side in the top folder, and one more level each below
            // "..", so that climbs could add up.
            const std::string made = createFolder(*appwise, name, top);
            QVERIFY2(!made.empty(), name.c_str());
            QVERIFY(uploadFile(*appwise, writeFile(sources.path() / "f", "in " + name), made, fileName));
            const std::string nested = createFolder(*appwise, name, parentOfNext);
            QVERIFY(!nested.empty());
            QVERIFY(uploadFile(*appwise, writeFile(sources.path() / "g", "nested " + name), nested, fileName));
            parentOfNext = nested;
        }

        MainViewController view;
        view.commRelatedObservers();
        appwise->setLocalPath(local);
        const auto listing = folderListing(*appwise, "root");
        QVERIFY(listing);
        appwise->setRemoteDirectoryInfo(listing);
        const auto before = find(parent.path());
        const auto& slow = appwise->engine(CommTasks::slowTask);
        slow->queue()->jobCleanup();

        appwise->selectedItems().setOwnElements(pick(listing->content, {"Hostile"}));
        view.receiveFileFromRemote();
        QTRY_VERIFY_WITH_TIMEOUT(jobsOfType(*slow, JobType::fileReceive) == 10 && engineIdle(*slow), kStandInGuardMs);
        for (const auto& [id, job] : slow->queue()->getJobsList()) QVERIFY(job.status == JobStatus::completed);

        const auto after = find(parent.path());
        int files = 0;
        for (const auto& path : after) {
            if (before.count(path)) continue;
            const fs::path relative = path.lexically_relative(local);
            QVERIFY2(!relative.empty() && *relative.begin() != "..", path.c_str());
            if (fs::is_regular_file(path)) {
                ++files;
                QCOMPARE(path.filename().string(), fileName);
            }
        }
        QCOMPARE(files, 10);
        QVERIFY(!fs::exists(fs::path("/etc") / fileName));
        QVERIFY(fs::is_regular_file(local / "Hostile" / "a_b" / fileName));
        QVERIFY(fs::is_regular_file(local / "Hostile" / "_etc" / fileName));
    }

    // The local selection goes into the remote folder on show; a symbolic
    // link in it is named in one alert and the file beside it still goes.
    // An abort asked while no upload ran does not end this one.
    void theLocalSelectionIsUploadedAndALinkIsNamed() {
        StandInAccount account("upload");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder local;
        QVERIFY(local.isValid());
        writeFile(local.path() / "one.txt", "first\n");
        writeFile(local.path() / "two.txt", "second\n");
        fs::create_symlink("two.txt", local.path() / "link");

        MainViewController view;
        view.appRelatedObservers();
        appwise->setLocalPath(local.path());
        // The local folder's own refresh first, whoever observes it.
        QCoreApplication::processEvents();
        selectLocal(view, local.path(), {"one.txt", "link"});
        testsupport::NotificationRecorder runs(appwise->notifications(),
                                               {ostrelcomm::xfer::kMultipleLocalFileSendNotification});
        view.multipleLocalToRemote()->setAbortOperation(true);

        appwise->notifications()->post(quorvel::kActionSendFileToRemoteNotification);
        QVERIFY(appwise->fileXferInProgress());
        QVERIFY(runs.waitUntil([](const auto& posted) {
            return !posted.empty() && posted.back().result != ostrelcomm::xfer::kSending;
        }));
        QCOMPARE(runs.all().back().result, std::string(ostrelcomm::xfer::kCompleted));
        QCOMPARE(account.namesIn("root"), Strings{"one.txt"});
        QTRY_COMPARE(presenter->shown().size(), std::size_t{1});
        const QString named = presenter->shown().front().informativeText;
        QVERIFY2(named.contains(QStringLiteral("\nlink")), qPrintable(named));
        QVERIFY(!named.contains(QStringLiteral("one.txt")));

        // Only links: nothing to send, no run, one more alert.
        runs.clear();
        selectLocal(view, local.path(), {"link"});
        appwise->setFileXferInProgress(false);
        view.sendLocalItemsToRemote();
        QVERIFY(!appwise->fileXferInProgress());
        QTRY_COMPARE(presenter->shown().size(), std::size_t{2});
        QCoreApplication::processEvents();
        QVERIFY(runs.all().empty());
    }

    // A folder holding a file whose name is not UTF-8 and two good ones:
    // the two are stored, nothing is asked for the third, the run
    // completes, and the alert names it.
    void aNameThatIsNotUtf8IsLeftOutAndNamed() {
        StandInAccount account("latin1");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder local;
        QVERIFY(local.isValid());
        writeFile(local.path() / "F" / "caf\xE9", "latin-1 name\n");
        writeFile(local.path() / "F" / "good1", "one\n");
        writeFile(local.path() / "F" / "good2", "two\n");

        MainViewController view;
        appwise->setLocalPath(local.path());
        // The local folder's own refresh first, whoever observes it.
        QCoreApplication::processEvents();
        selectLocal(view, local.path(), {"F"});
        testsupport::NotificationRecorder runs(appwise->notifications(),
                                               {ostrelcomm::xfer::kMultipleLocalFileSendNotification});
        account.newRequests();
        view.sendLocalItemsToRemote();
        QVERIFY(runs.waitUntil([](const auto& posted) {
            return !posted.empty() && posted.back().result != ostrelcomm::xfer::kSending;
        }));
        QCOMPARE(runs.all().back().result, std::string(ostrelcomm::xfer::kCompleted));
        const std::string folder = account.uuidIn("root", "F");
        QVERIFY(!folder.empty());
        QCOMPARE(account.namesIn(folder), (Strings{"good1", "good2"}));
        const auto requests = account.newRequests();
        QCOMPARE(requestsTo(requests, "GET /filesend/prepare/"), 2);
        QCOMPARE(requestsTo(requests, "GET /filesend/finalize/"), 2);
        QTRY_COMPARE(presenter->shown().size(), std::size_t{1});
        const QString named = presenter->shown().front().informativeText;
        QVERIFY2(named.contains(QStringLiteral("F/caf\\xE9")), qPrintable(named));
    }

    // While an upload runs, and while the remote pane shows the shares node
    // or a peer, an upload queues nothing and leaves the running uploader's
    // list as it is.
    void anUploadIsRefusedWhileOneRunsOrUnderTheSharesNode() {
        StandInAccount account("refused");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder local;
        QVERIFY(local.isValid());
        writeFile(local.path() / "held.bin", std::string(100'000, 'h'));
        writeFile(local.path() / "other.txt", "other\n");

        MainViewController view;
        appwise->setLocalPath(local.path());
        // The local folder's own refresh first, whoever observes it.
        QCoreApplication::processEvents();
        selectLocal(view, local.path(), {"held.bin"});
        testsupport::NotificationRecorder runs(appwise->notifications(),
                                               {ostrelcomm::xfer::kMultipleLocalFileSendNotification});
        devserver::Fault held = devserver::Fault::stalled();
        held.times = 1;
        standIn().setFault("PUT", "/filesend/store/", held);
        view.sendLocalItemsToRemote();
        QVERIFY(standIn().waitForStalledRequests(1, kGuard));
        const auto& slow = appwise->engine(CommTasks::slowTask);
        const auto running = view.multipleLocalToRemote()->sourceItems();
        const auto jobsBefore = slow->queue()->getJobsList().size();

        selectLocal(view, local.path(), {"other.txt"});
        view.sendLocalItemsToRemote();
        QCOMPARE(slow->queue()->getJobsList().size(), jobsBefore);
        QCOMPARE(view.multipleLocalToRemote()->sourceItems().size(), running.size());
        QCOMPARE(view.multipleLocalToRemote()->sourceItems().front().url, running.front().url);
        standIn().releaseStalls();
        QVERIFY(runs.waitUntil([](const auto& posted) {
            return !posted.empty() && posted.back().result != ostrelcomm::xfer::kSending;
        }));
        QCOMPARE(runs.all().back().result, std::string(ostrelcomm::xfer::kCompleted));
        appwise->setFileXferInProgress(false);

        // The shares node, then a peer below it.
        appwise->remotePath().append(quorvel::localize("SHARES"), "SHARES");
        for (int level = 0; level < 2; ++level) {
            if (level == 1) appwise->remotePath().append("peer", account.owner());
            const auto listed = view.multipleLocalToRemote()->sourceItems();
            const auto queued = slow->queue()->getJobsList().size();
            view.sendLocalItemsToRemote();
            QCOMPARE(slow->queue()->getJobsList().size(), queued);
            QVERIFY(!appwise->fileXferInProgress());
            QCOMPARE(view.multipleLocalToRemote()->sourceItems().size(), listed.size());
        }
        QCOMPARE(account.namesIn("root"), Strings{"held.bin"});
    }

    // The strip's button: with no upload it closes the strip; pressed twice
    // during one it says " (aborting)" once, and the upload ends aborted.
    void theStripButtonClosesOrAbortsOnce() {
        StandInAccount account("strip");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder local;
        QVERIFY(local.isValid());
        writeFile(local.path() / "held.bin", std::string(100'000, 'h'));

        MainViewController view;
        auto* strip = view.findChild<QWidget*>(QStringLiteral("sendingFileInfo"));
        auto* button = view.findChild<QPushButton*>(QStringLiteral("sendingFileActionButton"));
        auto* remaining = view.findChild<QLabel*>(QStringLiteral("sendingFileRemainingTime"));
        appwise->setLocalPath(local.path());
        // The local folder's own refresh first, whoever observes it.
        QCoreApplication::processEvents();
        selectLocal(view, local.path(), {"held.bin"});
        testsupport::NotificationRecorder runs(appwise->notifications(),
                                               {ostrelcomm::xfer::kMultipleLocalFileSendNotification});
        devserver::Fault held = devserver::Fault::stalled();
        held.times = 1;
        standIn().setFault("PUT", "/filesend/store/", held);
        view.sendLocalItemsToRemote();
        QCOMPARE(strip->maximumHeight(), 80);
        QVERIFY(standIn().waitForStalledRequests(1, kGuard));

        button->click();
        button->click();
        QCOMPARE(remaining->text(), QStringLiteral("...") + QString::fromStdString(quorvel::localize(" (aborting)")));
        QVERIFY(view.multipleLocalToRemote()->abortOperation());
        standIn().releaseStalls();
        QVERIFY(runs.waitUntil([](const auto& posted) {
            return !posted.empty() && posted.back().result != ostrelcomm::xfer::kSending;
        }));
        QCOMPARE(runs.all().back().result, std::string(ostrelcomm::xfer::kAborted));

        QTRY_VERIFY_WITH_TIMEOUT(view.multipleLocalToRemote()->isIdle(), kStandInGuardMs);
        appwise->setFileXferInProgress(false);
        button->click();
        QCOMPARE(strip->maximumHeight(), 0);
        QVERIFY(!strip->isVisible());
    }

    // A change of one job's step redraws that row's progress cell and no
    // other; a change of a job that lists no row redraws nothing; neither
    // resets the table.
    void aJobChangeRedrawsItsChangedCellsOnly() {
        MainViewController view;
        view.commRelatedObservers();
        view.jobsQueueCopied(CommTasks::slowTask, {{"A", job(JobType::fileSend, JobStatus::inProgress, 1, 100)},
                                                   {"B", job(JobType::fileReceive, JobStatus::inProgress, 1, 200)}});
        QTRY_COMPARE(view.jobsViewList().size(), std::size_t{2});
        auto* model = view.findChild<QTableView*>(QStringLiteral("jobsTable"))->model();
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);

        quorvel::QueueChanges step;
        step.jobs["A"] = job(JobType::fileSend, JobStatus::inProgress, 2, 100);
        emit appwise->bridge(CommTasks::slowTask).queueChanged(step);
        QTRY_COMPARE(changed.count(), 1);
        const auto cell = changed.front();
        const auto topLeft = cell.at(0).value<QModelIndex>();
        QCOMPARE(topLeft, cell.at(1).value<QModelIndex>());
        QCOMPARE(topLeft.row(), rowOf(view, "A"));
        QCOMPARE(topLeft.column(), 2);

        changed.clear();
        quorvel::QueueChanges unknown;
        unknown.jobs["U"] = job(JobType::getFolderInfo, JobStatus::completed, 1, 300);
        emit appwise->bridge(CommTasks::fastTask).queueChanged(unknown);
        QTRY_VERIFY(view.ftJobsList().count("U"));
        QCoreApplication::processEvents();
        QCOMPARE(changed.count(), 0);
        QCOMPARE(resets.count(), 0);
    }

    // A turn of changes of jobs takes their records, never a copy of the
    // queue; a new job has the whole list read again.
    void onlyANewOrDroppedJobCopiesTheQueue() {
        MainViewController view;
        view.commRelatedObservers();
        const auto& slow = appwise->engine(CommTasks::slowTask);
        QVERIFY(slow->queue()->getJobsList().empty());
        // Known to the view only: a copy of the queue would drop it.
        view.jobChanged(CommTasks::slowTask, "Z", job(JobType::fileSend, JobStatus::inProgress, 1, 100));
        const auto post = [&](const char* name, ostrelcomm::UserInfo info) {
            std::lock_guard lock(slow->mutex());
            slow->queue()->notifications()->post(name, std::move(info));
        };

        post(ostrelcomm::kJobChangedNotification,
             {{"id", std::string("Q")}, {"data", job(JobType::fileSend, JobStatus::inProgress, 2, 200)}});
        post(ostrelcomm::kJobsQueueChangedNotification, {});
        QTRY_VERIFY(view.stJobsList().count("Q"));
        QVERIFY(view.stJobsList().count("Z"));

        post(ostrelcomm::kNewJobAvailableNotification,
             {{"id", std::string("N")}, {"data", job(JobType::fileSend, JobStatus::pending, 0, 300)}});
        QTRY_VERIFY(view.stJobsList().empty());
    }

private:
    Appwise* appwise = nullptr;
    std::shared_ptr<RecordingAlertPresenter> presenter;
};

QTEST_MAIN(MainViewSendReceiveTest)
#include "MainViewSendReceive_test.moc"
