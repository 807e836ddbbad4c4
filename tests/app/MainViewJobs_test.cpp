// The jobs list on records made by the tests, as the queue observers hand
// them over: the merge of both queues and its counters, the filter in both
// views, the 50 newest kept and sorted, the labels and the sort by type
// text, each cell of the table, the alarms with the badge and their
// silencing, the pace and time left of a transfer under a clock of the
// test's own, the spinner drawn on the main thread, the context menu by
// status, and one rebuild per turn.

#include <QAbstractItemModel>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AppTestSupport.h"
#include "app/Extensions/Formatters.h"
#include "app/Extensions/Image.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/SystemColor.h"
#include "app/utils/Appwise.h"
#include "app/window/FileTableCell.h"
#include "app/window/JobProgressDelegate.h"
#include "app/window/JobsTableModel.h"
#include "app/window/MainViewController.h"
#include "app/window/SegmentedControl.h"
#include "jobs/CommJobsItem.h"
#include "jobs/JobStatus.h"
#include "jobs/JobType.h"

using namespace apptest;
using ostrelcomm::CommJobsItem;
using ostrelcomm::JobStatus;
using ostrelcomm::JobType;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::MainViewController;
using quorvel::SystemColor;
using Alarm = MainViewController::JobsAlarmStatus;
using Items = MainViewController::JobsListItems;
using View = MainViewController::JobsViewType;
using Strings = std::vector<std::string>;
using IdSet = std::set<std::string>;

namespace {

// A job queued `second` seconds into a fixed day.
CommJobsItem job(JobType type, JobStatus status, std::int64_t second = 0, std::size_t steps = 3,
                 std::optional<std::string> details = std::nullopt) {
    CommJobsItem item(type, steps, nullptr, ostrelcomm::JobPriority::Normal, 0);
    item.status = status;
    item.timestamp = std::chrono::sys_seconds(std::chrono::seconds(1'780'000'000 + second));
    item.jobDetails = std::move(details);
    return item;
}

IdSet rowIds(const MainViewController& view) {
    IdSet ids;
    for (const auto& row : view.jobsViewList()) ids.insert(row.uuid);
    return ids;
}

Strings rowOrder(const MainViewController& view) {
    Strings ids;
    for (const auto& row : view.jobsViewList()) ids.push_back(row.uuid);
    return ids;
}

// The lists as the observers hand them over, rebuilt at once.
void hand(MainViewController& view, MainViewController::JobsList slow, MainViewController::JobsList fast = {}) {
    view.jobsQueueCopied(CommTasks::slowTask, std::move(slow));
    view.jobsQueueCopied(CommTasks::fastTask, std::move(fast));
    view.buildJobsList();
}

QVariant cell(const MainViewController& view, int row, int column, int role) {
    QAbstractItemModel* model = child<QTableView>(view, "jobsTable")->model();
    return model->data(model->index(row, column), role);
}

// The colour at the middle of the status image.
QColor indicatorColor(const MainViewController& view) {
    const QImage image = child<QLabel>(view, "commStatusIndicator")->pixmap().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

QColor badgeColor(const MainViewController& view) {
    return child<QLabel>(view, "jobsNumber")->palette().color(QPalette::Window);
}

void setShowFullLog(Appwise& appwise, bool on) {
    quorvel::AppSetup setup = appwise.setup();
    setup.showFullLog = on;
    appwise.setSetup(setup);
}

}  // namespace

class MainViewJobsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { appwise = &Appwise::installShared(makeAppwise(uniqueSuite("jobs"))); }

    // 60 jobs that pass the filter: the 50 newest, then in the chosen order;
    // the newest picked as a full sort by date would pick them.
    void sixtyJobsGiveTheFiftyNewestInTheChosenOrder() {
        MainViewController view;
        MainViewController::JobsList slow;
        std::vector<MainViewController::CommJob> rows;
        for (int i = 0; i < 60; ++i) {
            // Dates in a scrambled order, all distinct.
            const int second = (i * 37) % 60;
            const std::string id = "J" + std::to_string(second);
            slow.emplace(id, job(JobType::fileSend, JobStatus::completed, second, 3, "f" + std::to_string(59 - second)));
            rows.push_back({id, slow.at(id)});
        }
        hand(view, slow);

        Strings newest;
        for (int second = 10; second < 60; ++second) newest.push_back("J" + std::to_string(second));
        QCOMPARE(rowOrder(view), newest);

        view.setJobsSortOrder(MainViewController::JobsSortOrder::descending);
        std::reverse(newest.begin(), newest.end());
        QCOMPARE(rowOrder(view), newest);

        // By type text ("Upload: f<59 - second>"), which the details order here.
        view.setJobsSortType(MainViewController::JobsSortType::jobType);
        view.setJobsSortOrder(MainViewController::JobsSortOrder::ascending);
        Strings byDetails;
        for (int n = 0; n < 50; ++n) byDetails.push_back("f" + std::to_string(n));
        std::sort(byDetails.begin(), byDetails.end());
        Strings details;
        for (const auto& row : view.jobsViewList()) details.push_back(*row.jobdata.jobDetails);
        QCOMPARE(details, byDetails);

        std::sort(rows.begin(), rows.end(),
                  [](const auto& a, const auto& b) { return a.jobdata.timestamp > b.jobdata.timestamp; });
        rows.resize(50, rows.front());
        Strings fullSort;
        for (const auto& row : rows) fullSort.push_back(row.uuid);
        Strings trimmed;
        for (const auto& row : MainViewController::trimJobsList(
                 [&] {
                     std::vector<MainViewController::CommJob> all;
                     for (const auto& [id, item] : slow) all.push_back({id, item});
                     return all;
                 }(),
                 50))
            trimmed.push_back(row.uuid);
        QCOMPARE(trimmed, fullSort);
    }

    // Each view and filter over one job of each status, transfers and
    // another kind alike.
    void theFilterInBothViews() {
        MainViewController view;
        view.setJobsSortType(MainViewController::JobsSortType::jobType);
        MainViewController::JobsList slow;
        const std::pair<JobStatus, const char*> statuses[] = {
            {JobStatus::pending, "pending"},     {JobStatus::suspended, "suspended"},
            {JobStatus::deferred, "deferred"},   {JobStatus::resume, "resume"},
            {JobStatus::completed, "completed"}, {JobStatus::error, "error"},
            {JobStatus::inProgress, "inProgress"}, {JobStatus::reqAbort, "reqAbort"},
            {JobStatus::aborting, "aborting"},   {JobStatus::aborted, "aborted"}};
        for (const auto& [status, name] : statuses)
            slow.emplace(std::string("R-") + name, job(JobType::fileReceive, status));
        slow.emplace("C-completed", job(JobType::fileCopy, JobStatus::completed));
        slow.emplace("C-error", job(JobType::fileCopy, JobStatus::error));
        slow.emplace("C-aborted", job(JobType::fileCopy, JobStatus::aborted));
        hand(view, slow);

        const IdSet transfers = {"R-pending", "R-suspended", "R-deferred", "R-resume", "R-completed",
                                 "R-error", "R-inProgress", "R-reqAbort", "R-aborting", "R-aborted"};
        IdSet standardAll = transfers;
        standardAll.insert("C-error");
        IdSet detailedAll = standardAll;
        detailedAll.insert({"C-completed", "C-aborted"});
        const struct {
            View view;
            Items filter;
            IdSet rows;
        } cases[] = {
            {View::standard, Items::all, standardAll},
            {View::standard, Items::completed, {"R-completed"}},
            {View::standard, Items::failed, {"R-error", "C-error"}},
            {View::standard, Items::aborted, {"R-reqAbort", "R-aborting", "R-aborted"}},
            {View::detailed, Items::all, detailedAll},
            {View::detailed, Items::completed, {"R-completed", "C-completed"}},
            {View::detailed, Items::failed, {"R-error", "C-error"}},
            {View::detailed, Items::aborted, {"R-reqAbort", "R-aborting", "R-aborted", "C-aborted"}},
        };
        auto* segments = child<quorvel::SegmentedControl>(view, "jobsToDisplay");
        for (const auto& c : cases) {
            if (view.viewType() != c.view) view.showDetailedJobs();
            view.jobsToDisplay(static_cast<int>(c.filter));
            QVERIFY(view.viewType() == c.view);
            QCOMPARE(segments->selectedSegment(), static_cast<int>(c.filter));
            QCOMPARE(rowIds(view), c.rows);
        }

        // A segment that is no filter lists all.
        view.jobsToDisplay(7);
        QVERIFY(view.jobsToList() == Items::all);
        QCOMPARE(segments->selectedSegment(), 0);
        QVERIFY(!MainViewController::fromRaw(4));
        QVERIFY(!MainViewController::fromRaw(-1));
    }

    // The fast engine's jobs are listed when they failed or were aborted,
    // or all with the full log; its active jobs are counted either way,
    // and the transfers among the listed jobs.
    void fastJobsAreListedWhenTheyFailedAndCountedWhileActive() {
        MainViewController view;
        view.showDetailedJobs();
        const MainViewController::JobsList slow = {
            {"S-up", job(JobType::fileSend, JobStatus::inProgress)},
            {"S-down", job(JobType::fileReceive, JobStatus::pending)},
            {"S-done", job(JobType::fileReceive, JobStatus::completed)},
            {"S-copy", job(JobType::fileCopy, JobStatus::inProgress)},
        };
        const MainViewController::JobsList fast = {
            {"F-listed", job(JobType::getFolderInfo, JobStatus::completed)},
            {"F-waiting", job(JobType::getFolderInfo, JobStatus::pending)},
            {"F-running", job(JobType::getFileInfo, JobStatus::inProgress)},
            {"F-failed", job(JobType::getFolderInfo, JobStatus::error)},
            {"F-aborted", job(JobType::directoryDelete, JobStatus::aborted)},
        };
        hand(view, slow, fast);
        QCOMPARE(rowIds(view), (IdSet{"S-up", "S-down", "S-done", "S-copy", "F-failed", "F-aborted"}));
        QCOMPARE(view.activeFastJobs(), 2);
        QCOMPARE(view.activeSlowJobs(), 2);

        setShowFullLog(*appwise, true);
        view.buildJobsList();
        QCOMPARE(rowIds(view), (IdSet{"S-up", "S-down", "S-done", "S-copy", "F-listed", "F-waiting", "F-running",
                                      "F-failed", "F-aborted"}));
        QCOMPARE(view.activeFastJobs(), 2);
        view.showDetailedJobs();
        QCOMPARE(rowIds(view), (IdSet{"S-up", "S-down", "S-done", "F-failed"}));
    }

    // Labels from "CommStates"; a table that lacks them shows the keys, and
    // the sort by type puts downloads before uploads then.
    void jobTypeLabelsAndTheirKeys() {
        MainViewController view;
        view.setJobsSortType(MainViewController::JobsSortType::jobType);
        hand(view, {{"U", job(JobType::fileSend, JobStatus::completed, 0, 3, "a.txt")},
                    {"D", job(JobType::fileReceive, JobStatus::completed, 1, 3, "b.txt")},
                    {"L", job(JobType::getFolderInfo, JobStatus::error, 2, 1, "root")}});
        QCOMPARE(cell(view, 0, 0, Qt::DisplayRole).toString(),
                 QString::fromStdString(quorvel::localize("jobType.fileReceive", quorvel::kCommStatesTable)) +
                     ": b.txt");

        view.setJobTypeLabelLookup([](std::string_view) { return std::string(); });
        QCOMPARE(rowOrder(view), (Strings{"D", "U", "L"}));
        QCOMPARE(cell(view, 0, 0, Qt::DisplayRole).toString(), QString("jobType.fileReceive: b.txt"));
        QCOMPARE(cell(view, 1, 0, Qt::DisplayRole).toString(), QString("jobType.fileSend: a.txt"));
        // Only transfers show what they work on.
        QCOMPARE(cell(view, 2, 0, Qt::DisplayRole).toString(), QString("jobType.getFolderInfo"));

        view.sortJobsTable({"jobType", false});
        QCOMPARE(rowOrder(view), (Strings{"L", "U", "D"}));
        view.sortJobsTable({"size", true});
        QCOMPARE(rowOrder(view), (Strings{"L", "U", "D"}));
        QVERIFY(view.jobsSortType() == MainViewController::JobsSortType::jobType);
        view.sortJobsTable({"date", true});
        QCOMPARE(rowOrder(view), (Strings{"U", "D", "L"}));
    }

    // Every cell of the table by column position: the status's icon and
    // tint, the date, the progress or the error text.
    void theCellsOfEachStatus() {
        MainViewController view;
        quorvel::JobsTableModel model(view);
        const struct {
            JobStatus status;
            const char* icon;
            SystemColor tint;
        } looks[] = {
            {JobStatus::pending, "pendingjobs-icon", SystemColor::label},
            {JobStatus::suspended, "pausedjobs-icon", SystemColor::gray},
            {JobStatus::deferred, "deferredjobs-icon", SystemColor::gray},
            {JobStatus::resume, "runningjob-icon", SystemColor::orange},
            {JobStatus::completed, "completedjobs-icon", SystemColor::green},
            {JobStatus::error, "failedjobs-icon", SystemColor::red},
            {JobStatus::inProgress, "runningjob-icon", SystemColor::blue},
            {JobStatus::reqAbort, "jobsaborted-icon", SystemColor::yellow},
            {JobStatus::aborting, "jobsaborted-icon", SystemColor::purple},
            {JobStatus::aborted, "jobsaborted-icon", SystemColor::orange},
        };
        for (const auto& look : looks) {
            const MainViewController::CommJob row{"J", job(JobType::fileSend, look.status)};
            const auto data = model.jobCellData(row, 0);
            const QImage expected = quorvel::namedImage(QString::fromLatin1(look.icon));
            QVERIFY2(!expected.isNull() && quorvel::isTemplateImage(expected), look.icon);
            QVERIFY2(data.icon == expected, look.icon);
            QCOMPARE(data.tint, quorvel::systemColor(look.tint));
            QCOMPARE(data.identifier, QString("jobDescriptionID"));
        }

        const auto queued = job(JobType::fileReceive, JobStatus::pending, 4000);
        const auto date = model.jobCellData({"J", queued}, 1);
        QCOMPARE(date.text, quorvel::Formatters::date(queued.timestamp, quorvel::Formatters::DateStyle::long_,
                                                      quorvel::Formatters::DateStyle::medium));
        QCOMPARE(date.identifier, QString("jobQueuedID"));
        QVERIFY(date.icon.isNull() && !date.tint.isValid());

        const auto detail = [&](JobStatus status, std::size_t done, std::size_t steps,
                                std::optional<std::string> info = std::nullopt) {
            auto item = job(JobType::fileSend, status, 0, steps);
            item.actStep = done;
            item.jobInfo = std::move(info);
            return model.jobCellData({"J", item}, 2);
        };
        QCOMPARE(detail(JobStatus::inProgress, 1, 3).text, QString("33.0%"));
        QCOMPARE(detail(JobStatus::inProgress, 5, 4).text, QString("125.0%"));
        QCOMPARE(detail(JobStatus::inProgress, 0, 0).text, QString());
        QCOMPARE(detail(JobStatus::error, 2, 3, "Disk full").text, QString("Disk full"));
        QCOMPARE(detail(JobStatus::error, 2, 3).text, QString());
        QCOMPARE(detail(JobStatus::completed, 3, 3).text, QString());
        QCOMPARE(detail(JobStatus::pending, 1, 3).identifier, QString("jobDetailID"));

        const auto other = model.jobCellData({"J", queued}, 3);
        QVERIFY(other.text.isEmpty() && other.identifier.isEmpty() && other.icon.isNull());

        // Through the table: the bar's share, held within 0 to 100.
        auto over = job(JobType::fileSend, JobStatus::inProgress, 0, 4);
        over.actStep = 5;
        auto none = job(JobType::fileSend, JobStatus::inProgress, 1, 0);
        auto third = job(JobType::fileSend, JobStatus::inProgress, 2, 3);
        third.actStep = 1;
        hand(view, {{"over", over}, {"none", none}, {"third", third}, {"done", job(JobType::fileSend,
                                                                                  JobStatus::completed, 3)}});
        QCOMPARE(rowOrder(view), (Strings{"over", "none", "third", "done"}));
        QCOMPARE(cell(view, 0, 2, quorvel::kJobProgressRole), QVariant(100));
        QVERIFY(!cell(view, 1, 2, quorvel::kJobProgressRole).isValid());
        QCOMPARE(cell(view, 2, 2, quorvel::kJobProgressRole), QVariant(33));
        QVERIFY(!cell(view, 3, 2, quorvel::kJobProgressRole).isValid());
        QCOMPARE(cell(view, 2, 2, quorvel::kCellIdentifierRole).toString(), QString("jobDetailID"));
    }

    // A failure with the files tab on show: the badge counts it on red and
    // the failed jobs are listed; the jobs tab silences it for good, and the
    // badge goes back to the running transfers; a job that fails again
    // after a resume keeps its silenced alarm; the clean-up drops them.
    void alarmsBadgeAndSilencing() {
        MainViewController view;
        QTest::qWait(0);
        auto* badge = child<QLabel>(view, "jobsNumber");
        auto* segments = child<quorvel::SegmentedControl>(view, "jobsToDisplay");
        QVERIFY(badge->isHidden());
        const QColor green = quorvel::systemColor(SystemColor::green);
        const QColor red = quorvel::systemColor(SystemColor::red);
        const QColor yellow = quorvel::systemColor(SystemColor::yellow);
        QCOMPARE(indicatorColor(view), green);

        MainViewController::JobsList slow = {{"failed", job(JobType::fileSend, JobStatus::error, 1)},
                                             {"running", job(JobType::fileReceive, JobStatus::inProgress, 2)}};
        hand(view, slow);
        QCOMPARE(view.failedJobs(), 1);
        QTRY_COMPARE(badge->text(), QString("1"));
        QVERIFY(!badge->isHidden());
        QCOMPARE(badgeColor(view), red);
        QCOMPARE(indicatorColor(view), red);
        QVERIFY(view.jobsToList() == Items::failed);
        QCOMPARE(segments->selectedSegment(), 2);
        QCOMPARE(rowIds(view), IdSet{"failed"});
        QVERIFY(view.jobsAlarmStatuses().at("failed") == Alarm::active);

        child<QTabWidget>(view, "mainTabView")->setCurrentIndex(1);
        QVERIFY(view.selectedTab() == MainViewController::SelectedTab::jobs);
        QVERIFY(view.jobsAlarmStatuses().at("failed") == Alarm::silenced);
        QCOMPARE(view.failedJobs(), 0);
        QTRY_COMPARE(badgeColor(view), green);
        QCOMPARE(badge->text(), QString("1"));
        QCOMPARE(indicatorColor(view), yellow);

        // Resumed, then failed again: the alarm stays as it was.
        slow.at("failed").status = JobStatus::resume;
        slow.at("running").status = JobStatus::completed;
        hand(view, slow);
        QVERIFY(view.jobsAlarmStatuses().at("failed") == Alarm::silenced);
        QTRY_VERIFY(badge->isHidden());
        QCOMPARE(indicatorColor(view), green);
        slow.at("failed").status = JobStatus::error;
        hand(view, slow);
        QVERIFY(view.jobsAlarmStatuses().at("failed") == Alarm::silenced);
        QCOMPARE(view.failedJobs(), 0);

        // A second failure raises the badge again; the clean-up drops both.
        child<QTabWidget>(view, "mainTabView")->setCurrentIndex(0);
        slow.emplace("failed2", job(JobType::fileReceive, JobStatus::error, 3));
        hand(view, slow);
        QCOMPARE(view.failedJobs(), 1);
        QTRY_COMPARE(badgeColor(view), red);
        QVERIFY(!badge->isHidden());
        hand(view, {});
        QVERIFY(view.jobsAlarmStatuses().empty());
        QCOMPARE(view.failedJobs(), 0);
        QTRY_VERIFY(badge->isHidden());
        QCOMPARE(indicatorColor(view), green);
    }

    // The pace of a download seen at steps 1, 2, 3 two seconds apart: none
    // until two moves were timed, then 4 MiB per 2 s and 7 steps left.
    void aTransfersRateAndTimeLeft() {
        MainViewController view;
        auto now = std::chrono::steady_clock::time_point{};
        view.setJobsClock([&now] { return now; });
        auto download = job(JobType::fileReceive, JobStatus::inProgress, 0, 10, "big.bin");
        for (const int step : {1, 2, 3}) {
            now = std::chrono::steady_clock::time_point{} + std::chrono::seconds(2 * (step - 1));
            download.actStep = static_cast<std::size_t>(step);
            hand(view, {{"D", download}});
            if (step < 3) {
                QVERIFY(!cell(view, 0, 2, quorvel::kTransferRateRole).isValid());
                QVERIFY(!cell(view, 0, 2, quorvel::kTimeLeftRole).isValid());
            }
        }
        QCOMPARE(cell(view, 0, 2, quorvel::kTransferRateRole).toString(), QString("2.1 MB/s"));
        QCOMPARE(cell(view, 0, 2, quorvel::kTimeLeftRole).toString(), QString("14 s left"));
        QCOMPARE(cell(view, 0, 2, Qt::DisplayRole).toString(), QString("30.0%"));
        QAbstractItemModel* model = child<QTableView>(view, "jobsTable")->model();
        QCOMPARE(quorvel::JobProgressDelegate::barText(model->index(0, 2)), QString("30.0% · 2.1 MB/s · 14 s left"));

        // Not a transfer, or no longer running: no pace.
        download.status = JobStatus::error;
        hand(view, {{"D", download}});
        QVERIFY(!cell(view, 0, 2, quorvel::kTransferRateRole).isValid());
        download.status = JobStatus::inProgress;
        download.actStep = 4;
        hand(view, {{"D", download}});
        QVERIFY(!cell(view, 0, 2, quorvel::kTransferRateRole).isValid());
    }

    // From another thread the spinner is only queued: it draws on the main
    // thread, from the counters as they are then.
    void theSpinnerDrawsOnTheMainThread() {
        MainViewController view;
        auto* spinner = child<QProgressBar>(view, "progressSpinner");
        auto* indicator = child<QLabel>(view, "commStatusIndicator");
        QTest::qWait(0);
        QVERIFY(spinner->isHidden());

        std::thread([&view] { view.updateSpinner(); }).join();
        QVERIFY(spinner->isHidden());
        view.setActiveSlowJobProgress(0.25f);
        QTRY_VERIFY(!spinner->isHidden());
        QCOMPARE(spinner->maximum(), 100);
        QCOMPARE(spinner->value(), 25);

        // Jobs running, no copy: busy, the status image hidden.
        view.setActiveSlowJobProgress(-1);
        hand(view, {}, {{"F", job(JobType::getFolderInfo, JobStatus::pending)}});
        QTRY_COMPARE(spinner->maximum(), 0);
        QVERIFY(!spinner->isHidden());
        QVERIFY(indicator->isHidden());

        hand(view, {}, {});
        QTRY_VERIFY(spinner->isHidden());
        QCOMPARE(spinner->maximum(), 100);
        QCOMPARE(spinner->value(), 0);
        QVERIFY(!indicator->isHidden());

        // While an upload runs the spinner is the upload's.
        appwise->setFileXferInProgress(true);
        hand(view, {}, {{"F", job(JobType::getFolderInfo, JobStatus::pending)}});
        QTest::qWait(0);
        QTest::qWait(0);
        QVERIFY(spinner->isHidden());
    }

    // The menu of the selected job by its status; none without a selection
    // or with the files tab on show.
    void theContextMenuByStatus() {
        MainViewController view;
        auto* table = child<QTableView>(view, "jobsTable");
        auto* tabs = child<QTabWidget>(view, "mainTabView");
        const struct {
            JobStatus status;
            const char* title;
        } cases[] = {
            {JobStatus::error, "Resume job"},  {JobStatus::pending, "Abort job"},
            {JobStatus::inProgress, "Abort job"}, {JobStatus::suspended, "Abort job"},
            {JobStatus::deferred, nullptr},    {JobStatus::resume, nullptr},
            {JobStatus::completed, nullptr},   {JobStatus::reqAbort, nullptr},
            {JobStatus::aborting, nullptr},    {JobStatus::aborted, nullptr},
        };
        // The filter stays "All": the failed job's alarm is silenced first.
        tabs->setCurrentIndex(1);
        for (const auto& c : cases) {
            hand(view, {{"J", job(JobType::fileSend, c.status)}});
            QTest::qWait(0);
            view.jobsToDisplay(0);
            table->clearSelection();
            QVERIFY(!view.jobsContextMenu(&view));
            table->selectRow(0);
            std::unique_ptr<QMenu> menu(view.jobsContextMenu(&view));
            if (!c.title) {
                QVERIFY2(!menu, ostrelcomm::name(c.status).data());
                continue;
            }
            QVERIFY2(menu, ostrelcomm::name(c.status).data());
            QCOMPARE(menu->actions().size(), 1);
            QCOMPARE(menu->actions().front()->text(), QString::fromStdString(quorvel::localize(c.title)));
            QVERIFY(menu->actions().front()->shortcut().isEmpty());
            tabs->setCurrentIndex(0);
            QVERIFY(!view.jobsContextMenu(&view));
            tabs->setCurrentIndex(1);
        }

        // A right click on the table pops the selected job's menu up.
        view.show();
        hand(view, {{"J", job(JobType::fileSend, JobStatus::pending)}});
        table->selectRow(0);
        emit table->customContextMenuRequested(table->visualRect(table->model()->index(0, 0)).center());
        QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QCOMPARE(popup->actions().size(), 1);
        QCOMPARE(popup->actions().front()->text(), QString::fromStdString(quorvel::localize("Abort job")));
        popup->close();
    }

    // Copies and changes handed over in one turn make one rebuild; the
    // selected job stays selected across it.
    void oneRebuildPerTurn() {
        MainViewController view;
        auto* table = child<QTableView>(view, "jobsTable");
        hand(view, {{"A", job(JobType::fileSend, JobStatus::pending, 1)},
                    {"B", job(JobType::fileSend, JobStatus::pending, 2)}});
        QTest::qWait(0);
        table->selectRow(1);
        QSignalSpy resets(table->model(), &QAbstractItemModel::modelReset);

        auto running = job(JobType::fileSend, JobStatus::inProgress, 2);
        view.jobChanged(CommTasks::slowTask, "B", running);
        running.actStep = 1;
        view.jobChanged(CommTasks::slowTask, "B", running);
        view.jobChanged(CommTasks::slowTask, "C", job(JobType::fileReceive, JobStatus::pending, 0));
        view.jobsQueueCopied(CommTasks::fastTask, {{"F", job(JobType::getFolderInfo, JobStatus::error, 3)}});
        QCOMPARE(resets.count(), 0);
        // The rebuild, then the new failure's switch of the filter.
        QTRY_VERIFY(view.jobsToList() == Items::failed);
        QTest::qWait(0);
        QCOMPARE(resets.count(), 2);
        QCOMPARE(view.jobsList().size(), std::size_t{4});
        QCOMPARE(rowIds(view), IdSet{"F"});

        // Seen in the jobs tab, the alarm no longer switches the filter.
        child<QTabWidget>(view, "mainTabView")->setCurrentIndex(1);
        view.jobsToDisplay(0);
        QCOMPARE(rowOrder(view), (Strings{"C", "A", "B", "F"}));
        table->selectRow(2);
        view.jobChanged(CommTasks::slowTask, "A", std::nullopt);
        QTRY_COMPARE(rowOrder(view), (Strings{"C", "B", "F"}));
        const auto selected = table->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.front().row(), 1);
        QCOMPARE(view.jobsViewList()[1].jobdata.actStep, std::size_t{1});
    }

private:
    Appwise* appwise = nullptr;
};

QTEST_MAIN(MainViewJobsTest)
#include "MainViewJobs_test.moc"
