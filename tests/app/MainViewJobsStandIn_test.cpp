// The jobs list against the stand-in server, fed with the engines' queue
// copies as the queue observers take them: a download held on its block is
// aborted from the menu and leaves no temporary file; an upload refused once
// is resumed from the menu, stored whole, and the transfer flag it raised is
// cleared when it ends; a failed listing of the fast engine is listed, and
// resuming it changes nothing; the clean-up empties the list.

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/EngineBridge.h"
#include "app/window/MainViewController.h"
#include "devserver/Fault.h"
#include "jobs/CommJobs.h"
#include "jobs/JobStatus.h"
#include "jobs/JobType.h"
#include "support/NotificationRecorder.h"

using namespace apptest;
using ostrelcomm::JobStatus;
using ostrelcomm::JobType;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::MainViewController;

namespace {

constexpr auto kGuard = std::chrono::milliseconds(kStandInGuardMs);
constexpr std::size_t kBlock = 4 * 1024 * 1024;

std::string randomContent(std::size_t size) {
    std::mt19937 generator(20261211);
    std::string content(size, '\0');
    for (auto& byte : content) byte = static_cast<char>(generator());
    return content;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// Both queues handed to the jobs list as the queue observers hand them: a
// fresh copy of the engine's queue at each change.
void feed(Appwise& appwise, MainViewController& view) {
    for (const CommTasks task : {CommTasks::slowTask, CommTasks::fastTask}) {
        QObject::connect(&appwise.bridge(task), &quorvel::EngineBridge::queueChanged, &view,
                         [&appwise, &view, task](const quorvel::QueueChanges&) {
                             view.jobsQueueCopied(task,
                                                  MainViewController::jobsListCopy(*appwise.engine(task)->queue()));
                         });
    }
}

// The job's status in the merged list; none when it is not there.
std::optional<JobStatus> statusOf(const MainViewController& view, const std::string& jobID) {
    const auto found = view.jobsList().find(jobID);
    if (found == view.jobsList().end()) return std::nullopt;
    return found->second.status;
}

int rowOf(const MainViewController& view, const std::string& jobID) {
    const auto& rows = view.jobsViewList();
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (rows[row].uuid == jobID) return static_cast<int>(row);
    return -1;
}

// The menu of the job's row, selected in the jobs tab.
std::unique_ptr<QMenu> menuOf(MainViewController& view, const std::string& jobID) {
    child<QTabWidget>(view, "mainTabView")->setCurrentIndex(1);
    const int row = rowOf(view, jobID);
    if (row < 0) return nullptr;
    child<QTableView>(view, "jobsTable")->selectRow(row);
    return std::unique_ptr<QMenu>(view.jobsContextMenu(&view));
}

QString titleOf(const QMenu& menu) { return menu.actions().size() == 1 ? menu.actions().front()->text() : QString(); }
QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

int postsOf(const testsupport::NotificationRecorder& recorder) { return static_cast<int>(recorder.all().size()); }

}  // namespace

class MainViewJobsStandInTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { standIn(); }

    void init() {
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("jobs-stand-in"),
                                                      std::make_shared<RecordingAlertPresenter>(), Terms::accepted));
    }

    void cleanup() {
        standIn().releaseStalls();
        standIn().clearFaults();
    }

    // Held on its first block, the download runs; "Abort job" ends it
    // aborted once the block comes, and its temporary file goes with it.
    void aHeldDownloadIsAbortedFromTheMenu() {
        StandInAccount account("jobs-abort");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder local;
        TemporaryFolder downloads;
        QVERIFY(local.isValid() && downloads.isValid());
        const auto& slow = appwise->engine(CommTasks::slowTask);
        QVERIFY(slow->fileSend_add(writeFile(local.path() / "held.bin", randomContent(2 * kBlock + 10)), std::nullopt));
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*slow), kStandInGuardMs);
        const std::string item = account.uuidIn("root", "held.bin");
        QVERIFY(!item.empty());

        MainViewController view;
        feed(*appwise, view);
        standIn().setFault("GET", "/filerecv/getblock/", once(devserver::Fault::stalled()));
        const auto jobID = slow->fileReceive_add(item, downloads.path(), "held.bin");
        QVERIFY(jobID);
        QVERIFY(standIn().waitForStalledRequests(1, kGuard));
        QTRY_VERIFY_WITH_TIMEOUT(statusOf(view, *jobID) == JobStatus::inProgress, kStandInGuardMs);
        QVERIFY(rowOf(view, *jobID) >= 0);
        const auto temporary = downloads.path() / (item + ".OstrelDownload");
        QVERIFY(std::filesystem::exists(temporary));

        auto menu = menuOf(view, *jobID);
        QVERIFY(menu);
        QCOMPARE(titleOf(*menu), localized("Abort job"));
        menu->actions().front()->trigger();
        standIn().releaseStalls();

        QTRY_VERIFY_WITH_TIMEOUT(statusOf(view, *jobID) == JobStatus::aborted, kStandInGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*slow), kStandInGuardMs);
        QVERIFY(std::filesystem::is_empty(downloads.path()));
        QVERIFY(rowOf(view, *jobID) >= 0);
        // An aborted job raises no alarm.
        QVERIFY(view.jobsAlarmStatuses().empty());

        view.cleanupJobs();
        QTRY_VERIFY_WITH_TIMEOUT(view.jobsList().empty(), kStandInGuardMs);
        QVERIFY(view.jobsViewList().empty());
    }

    // A block refused once fails the upload; "Resume job" sends it again,
    // the stored file downloads equal, and the transfer flag that the
    // resume raised falls when the upload ends.
    void aRefusedUploadIsResumedFromTheMenu() {
        StandInAccount account("jobs-resume");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder local;
        TemporaryFolder downloads;
        QVERIFY(local.isValid() && downloads.isValid());
        const std::string content = randomContent(kBlock + 300);
        const auto path = writeFile(local.path() / "resumed.bin", content);

        MainViewController view;
        feed(*appwise, view);
        testsupport::NotificationRecorder transfers(appwise->notifications(),
                                                    {quorvel::kFileXferInProgressNotification});
        standIn().setFault("PUT", "/filesend/store/",
                           once(devserver::Fault::exception(500, "InternalServerError", "Disk full")));
        const auto& slow = appwise->engine(CommTasks::slowTask);
        const auto jobID = slow->fileSend_add(path, std::nullopt);
        QVERIFY(jobID);
        QTRY_VERIFY_WITH_TIMEOUT(statusOf(view, *jobID) == JobStatus::error, kStandInGuardMs);
        const int row = rowOf(view, *jobID);
        QVERIFY(row >= 0);
        QVERIFY(!view.jobsViewList()[static_cast<std::size_t>(row)].jobdata.jobInfo.value_or("").empty());
        QTRY_COMPARE(child<QLabel>(view, "jobsNumber")->text(), QString("1"));
        QVERIFY(!appwise->fileXferInProgress());

        auto menu = menuOf(view, *jobID);
        QVERIFY(menu);
        QCOMPARE(titleOf(*menu), localized("Resume job"));
        menu->actions().front()->trigger();
        QVERIFY(appwise->fileXferInProgress());
        QCOMPARE(postsOf(transfers), 1);
        QVERIFY(!child<QWidget>(view, "sendingFileInfo")->isHidden());
        QCOMPARE(child<QLabel>(view, "sendingFilesProgress")->text(), localized("Sending data..."));

        QTRY_VERIFY_WITH_TIMEOUT(statusOf(view, *jobID) == JobStatus::completed, kStandInGuardMs);
        QVERIFY(!appwise->fileXferInProgress());
        QCOMPARE(postsOf(transfers), 2);
        QVERIFY(child<QWidget>(view, "sendingFileInfo")->isHidden());
        // The alarm stays until the clean-up, silenced.
        QCOMPARE(view.failedJobs(), 0);

        const std::string item = account.uuidIn("root", "resumed.bin");
        QVERIFY(!item.empty());
        QVERIFY(slow->fileReceive_add(item, downloads.path(), "resumed.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(downloads.path() / "resumed.bin"), kStandInGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*slow), kStandInGuardMs);
        QVERIFY(readFile(downloads.path() / "resumed.bin") == content);
    }

    // The fast engine's failed listing is listed; the slow engine does not
    // know it, so "Resume job" changes nothing, and no transfer is flagged.
    void aFailedListingCannotBeResumedFromTheList() {
        StandInAccount account("jobs-listing");
        QVERIFY(logIn(*appwise, account));
        MainViewController view;
        feed(*appwise, view);
        testsupport::NotificationRecorder transfers(appwise->notifications(),
                                                    {quorvel::kFileXferInProgressNotification});
        standIn().setFault("GET", "/dir/list/",
                           once(devserver::Fault::exception(500, "InternalServerError", "Not now")));
        const auto& fast = appwise->engine(CommTasks::fastTask);
        const std::string jobID = fast->directory_getInfo("root", std::string(kTestSource));
        QTRY_VERIFY_WITH_TIMEOUT(statusOf(view, jobID) == JobStatus::error, kStandInGuardMs);
        QVERIFY(rowOf(view, jobID) >= 0);
        QCOMPARE(view.jobsList().at(jobID).jobType, JobType::getFolderInfo);

        auto menu = menuOf(view, jobID);
        QVERIFY(menu);
        QCOMPARE(titleOf(*menu), localized("Resume job"));
        LogCapture log;
        menu->actions().front()->trigger();
        QVERIFY(log.contains("Unable to resume: This jobID doesn't exist"));
        QCOMPARE(fast->queue()->getJobData(jobID)->status, JobStatus::error);
        QVERIFY(appwise->engine(CommTasks::slowTask)->queue()->getJobsList().empty());
        QVERIFY(!appwise->fileXferInProgress());
        QCOMPARE(postsOf(transfers), 0);
        QVERIFY(child<QWidget>(view, "sendingFileInfo")->isHidden());
        QCOMPARE(statusOf(view, jobID), JobStatus::error);
    }

private:
    Appwise* appwise = nullptr;
};

QTEST_MAIN(MainViewJobsStandInTest)
#include "MainViewJobsStandIn_test.moc"
