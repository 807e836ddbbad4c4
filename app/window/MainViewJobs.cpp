// The main view's jobs list: both engines' queues merged into one list, its
// rows filtered, cut to the newest and sorted; the counters behind the
// spinner and the badge; the alarms of failed jobs and their silencing; and
// the actions on one job (abort, resume) and on the whole list (clean-up).

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>
#include <numeric>
#include <utility>

#include "app/Extensions/Localize.h"
#include "app/Extensions/SystemColor.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/RunOnMain.h"
#include "app/window/JobProgressDelegate.h"
#include "app/window/JobsTableModel.h"
#include "app/window/MainViewController.h"
#include "app/window/SegmentedControl.h"
#include "app/window/StatusBadge.h"
#include "jobs/JobType.h"
#include "tree/NameOrder.h"

namespace quorvel {

namespace {

using ostrelcomm::CommJobsItem;
using ostrelcomm::JobStatus;
using ostrelcomm::JobType;

// The status image's side in device-independent pixels, drawn at twice that.
constexpr int kStatusDotSide = 16;

// Jobs that wait or run.
bool isActive(JobStatus status) {
    return status == JobStatus::inProgress || status == JobStatus::pending || status == JobStatus::aborting ||
           status == JobStatus::deferred || status == JobStatus::reqAbort;
}

// Jobs that failed, or were (being) aborted.
bool isFailure(JobStatus status) {
    return status == JobStatus::error || status == JobStatus::aborted || status == JobStatus::aborting ||
           status == JobStatus::reqAbort;
}

QString text(const char* key) { return QString::fromStdString(localize(key)); }

// The status image: a dot in `color`, as the desktop shows a status.
QPixmap statusDot(const QColor& color) {
    constexpr int ratio = 2;
    QPixmap dot(kStatusDotSide * ratio, kStatusDotSide * ratio);
    dot.fill(Qt::transparent);
    {
        QPainter painter(&dot);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(color.darker(125), ratio));
        painter.setBrush(color);
        const qreal inset = 3 * ratio;
        painter.drawEllipse(QRectF(dot.rect()).adjusted(inset, inset, -inset, -inset));
    }
    dot.setDevicePixelRatio(ratio);
    return dot;
}

// The `maxCount` newest of `rows`, newest first, as a full sort by date
// descending would give them; `rows` within the limit stay as they are.
template <class Row, class Timestamp>
void keepNewest(std::vector<Row>& rows, std::size_t maxCount, Timestamp timestamp) {
    if (rows.size() <= maxCount) return;
    std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(maxCount), rows.end(),
                      [&](const Row& a, const Row& b) { return timestamp(a) > timestamp(b); });
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(maxCount), rows.end());
}

}  // namespace

// --- types -------------------------------------------------------------------------------

std::optional<MainViewController::JobsSortType> MainViewController::sortTypeFromRaw(std::string_view raw) {
    if (raw == "jobType") return JobsSortType::jobType;
    if (raw == "date") return JobsSortType::date;
    return std::nullopt;
}

std::optional<MainViewController::JobsListItems> MainViewController::fromRaw(int raw) {
    switch (raw) {
        case 0: return JobsListItems::all;
        case 1: return JobsListItems::completed;
        case 2: return JobsListItems::failed;
        case 3: return JobsListItems::aborted;
        default: return std::nullopt;
    }
}

// --- set-up ------------------------------------------------------------------------------

void MainViewController::setUpJobsList() {
    self_ = this;
    jobTypeLabel_ = [](std::string_view key) { return localize(key, kCommStatesTable); };
    jobsModel_ = new JobsTableModel(*this, this);
    jobsTable_->setModel(jobsModel_);
    jobsTable_->setItemDelegateForColumn(2, new JobProgressDelegate(jobsTable_));
    // Abort and resume act on one job.
    jobsTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    jobsTable_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(jobsTable_, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        QMenu* menu = jobsContextMenu(this);
        if (!menu) return;
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(jobsTable_->viewport()->mapToGlobal(position));
    });

    QHeaderView* header = jobsTable_->horizontalHeader();
    const QFontMetrics metrics = jobsTable_->fontMetrics();
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::Interactive);
    header->setSectionResizeMode(2, QHeaderView::Interactive);
    header->resizeSection(1, metrics.horizontalAdvance(QStringLiteral("September 30, 2026 at 12:59:59 PM")) + 24);
    header->resizeSection(
        2, metrics.horizontalAdvance(QStringLiteral("100.0% · 999.9 MB/s · 59 min 59 s left")) + 24);

    connect(jobsToDisplay_, &SegmentedControl::segmentChosen, this,
            [this] { jobsToDisplay(jobsToDisplay_->selectedSegment()); });
    connect(viewTypeBtn_, &QPushButton::clicked, this, [this] { showDetailedJobs(); });
    connect(cleanupButton_, &QPushButton::clicked, this, [this] { cleanupJobs(); });
    connect(mainTabView_, &QTabWidget::currentChanged, this, [this](int index) {
        const QWidget* tab = mainTabView_->widget(index);
        tabViewDidSelect(tab ? tab->objectName() : QString());
    });
    commStatusIndicator_->setPixmap(statusDot(systemColor(SystemColor::green)));
}

// --- queue copies ----------------------------------------------------------------------------

MainViewController::JobsList MainViewController::jobsListCopy(const ostrelcomm::CommJobs& queue) {
    std::lock_guard lock(queue.mutex());
    JobsList jobs = queue.getJobsList();
    for (auto& [id, job] : jobs) job.context.reset();
    return jobs;
}

void MainViewController::jobsQueueCopied(CommTasks task, JobsList jobs) {
    for (auto& [id, job] : jobs) job.context.reset();
    (task == CommTasks::slowTask ? stJobsList_ : ftJobsList_) = std::move(jobs);
    scheduleJobsListRebuild();
}

void MainViewController::jobChanged(CommTasks task, const std::string& jobID, std::optional<CommJobsItem> job) {
    JobsList& list = task == CommTasks::slowTask ? stJobsList_ : ftJobsList_;
    if (job) {
        job->context.reset();
        list.insert_or_assign(jobID, std::move(*job));
    } else {
        list.erase(jobID);
    }
    scheduleJobsListRebuild();
}

// A running transfer announces every block: one rebuild per turn of the
// event loop, with whatever came in it.
void MainViewController::scheduleJobsListRebuild() {
    if (jobsRebuildQueued_) return;
    jobsRebuildQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            jobsRebuildQueued_ = false;
            buildJobsList();
        },
        Qt::QueuedConnection);
}

// --- the list and its rows ---------------------------------------------------------------

void MainViewController::buildJobsList() {
    JobsList merged = stJobsList_;
    activeFastJobs_ = 0;
    const bool fullLog = Appwise::shared().setup().showFullLog;
    for (const auto& [id, job] : ftJobsList_) {
        if (isFailure(job.status) || fullLog) merged.insert_or_assign(id, job);
        if (isActive(job.status)) ++activeFastJobs_;
    }

    activeSlowJobs_ = 0;
    std::unordered_set<std::string> running;
    for (const auto& [id, job] : merged) {
        if (isTransfer(job.jobType) && isActive(job.status)) ++activeSlowJobs_;
        if (job.status == JobStatus::error) jobsAlarmStatuses_.try_emplace(id, JobsAlarmStatus::active);
        if (isTransfer(job.jobType) && job.status == JobStatus::inProgress) {
            transferPace_.sight(id, job.actStep);
            running.insert(id);
        }
    }
    transferPace_.keepOnly(running);
    for (auto it = jobsAlarmStatuses_.begin(); it != jobsAlarmStatuses_.end();) {
        if (merged.count(it->first))
            ++it;
        else
            it = jobsAlarmStatuses_.erase(it);
    }

    jobsList_ = std::move(merged);
    followResumedTransfers();
    // One drawing for all the counters set above.
    updateSpinner();
    updateBadges();
    buildViewableJobsList();
}

void MainViewController::buildViewableJobsList() {
    // The newest are picked among the entries before any row is copied.
    std::vector<const JobsList::value_type*> passing;
    passing.reserve(jobsList_.size());
    for (const auto& entry : jobsList_)
        if (filterJob(entry.second, jobsToList_, viewType_)) passing.push_back(&entry);
    keepNewest(passing, kMaxListedJobs, [](const JobsList::value_type* entry) { return entry->second.timestamp; });

    std::vector<CommJob> rows;
    rows.reserve(passing.size());
    for (const auto* entry : passing) rows.push_back({entry->first, entry->second});
    showJobsRows(sortJobs(std::move(rows), jobsSortType_, jobsSortOrder_));
}

bool MainViewController::filterJob(const CommJobsItem& job, JobsListItems jobStatusToList,
                                   JobsViewType jobTypeToList) {
    if (jobTypeToList == JobsViewType::standard && !isTransfer(job.jobType) && job.status != JobStatus::error)
        return false;
    switch (jobStatusToList) {
        case JobsListItems::all: return true;
        case JobsListItems::completed: return job.status == JobStatus::completed;
        case JobsListItems::failed: return job.status == JobStatus::error;
        case JobsListItems::aborted:
            return job.status == JobStatus::aborted || job.status == JobStatus::aborting ||
                   job.status == JobStatus::reqAbort;
    }
    return false;
}

std::vector<MainViewController::CommJob> MainViewController::trimJobsList(std::vector<CommJob> listToTrim,
                                                                          std::size_t maxJobsQty) {
    if (listToTrim.size() <= maxJobsQty) return listToTrim;
    keepNewest(listToTrim, maxJobsQty, [](const CommJob& row) { return row.jobdata.timestamp; });
    return listToTrim;
}

std::vector<MainViewController::CommJob> MainViewController::sortJobs(std::vector<CommJob> jobsToSort,
                                                                      JobsSortType sortingKey,
                                                                      JobsSortOrder sortingOrder) const {
    const bool ascending = sortingOrder == JobsSortOrder::ascending;
    if (sortingKey == JobsSortType::date) {
        std::sort(jobsToSort.begin(), jobsToSort.end(), [ascending](const CommJob& a, const CommJob& b) {
            return ascending ? a.jobdata.timestamp < b.jobdata.timestamp : b.jobdata.timestamp < a.jobdata.timestamp;
        });
        return jobsToSort;
    }
    // Each row's key worked out once.
    std::vector<std::string> keys;
    keys.reserve(jobsToSort.size());
    for (const auto& row : jobsToSort) keys.push_back(ostrelcomm::nameOrderKey(jobTypeText(row.jobdata, true)));
    std::vector<std::size_t> order(jobsToSort.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return ascending ? keys[a] < keys[b] : keys[b] < keys[a];
    });
    std::vector<CommJob> sorted;
    sorted.reserve(jobsToSort.size());
    for (const std::size_t i : order) sorted.push_back(std::move(jobsToSort[i]));
    return sorted;
}

std::string MainViewController::jobTypeText(const CommJobsItem& job, bool withDetails) const {
    const std::string key = "jobType." + std::string(ostrelcomm::name(job.jobType));
    std::string label = jobTypeLabel_ ? jobTypeLabel_(key) : std::string();
    if (label.empty()) label = key;
    if (withDetails) {
        label += ": ";
        label += job.jobDetails.value_or(std::string());
    }
    return label;
}

void MainViewController::setJobTypeLabelLookup(JobTypeLabelLookup lookup) {
    jobTypeLabel_ = std::move(lookup);
    showJobsRows(sortJobs(jobsViewList_, jobsSortType_, jobsSortOrder_));
}

namespace {

// The columns of a job's row whose cells show what differs between two of
// its records: the status and the description; the date queued; the
// progress and the information text.
std::vector<int> changedColumns(const CommJobsItem& was, const CommJobsItem& is) {
    std::vector<int> columns;
    if (was.status != is.status || was.jobDetails != is.jobDetails) columns.push_back(0);
    if (was.timestamp != is.timestamp) columns.push_back(1);
    if (was.status != is.status || was.actStep != is.actStep || was.jobSteps != is.jobSteps ||
        was.jobInfo != is.jobInfo)
        columns.push_back(2);
    return columns;
}

}  // namespace

void MainViewController::showJobsRows(std::vector<CommJob> rows) {
    // The same jobs in the same order: only the cells that changed are
    // drawn again, and the selection stays as it is. A running transfer
    // changes one cell at each block.
    const bool sameRows = std::equal(rows.begin(), rows.end(), jobsViewList_.begin(), jobsViewList_.end(),
                                     [](const CommJob& a, const CommJob& b) { return a.uuid == b.uuid; });
    if (sameRows) {
        std::vector<CommJob> previous = std::exchange(jobsViewList_, std::move(rows));
        for (std::size_t row = 0; row < jobsViewList_.size(); ++row)
            for (const int column : changedColumns(previous[row].jobdata, jobsViewList_[row].jobdata))
                jobsModel_->cellChanged(static_cast<int>(row), column);
        return;
    }

    std::optional<std::string> selected;
    for (const QModelIndex& index : jobsTable_->selectionModel()->selectedRows())
        if (static_cast<std::size_t>(index.row()) < jobsViewList_.size())
            selected = jobsViewList_[static_cast<std::size_t>(index.row())].uuid;

    showingSelection_ = true;
    jobsModel_->reload([&] { jobsViewList_ = std::move(rows); });
    bool kept = false;
    if (selected) {
        const auto found = std::find_if(jobsViewList_.begin(), jobsViewList_.end(),
                                        [&](const CommJob& row) { return row.uuid == *selected; });
        if (found != jobsViewList_.end()) {
            const int row = static_cast<int>(found - jobsViewList_.begin());
            jobsTable_->selectionModel()->select(
                jobsModel_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            kept = true;
        }
    }
    showingSelection_ = false;
    // The selected job left the rows: the table holds no selection any more.
    if (selected && !kept) tableViewSelectionDidChange(jobsTable_);
}

// --- sort and view -----------------------------------------------------------------------

void MainViewController::sortJobsTable(const SortDescriptor& descriptor) {
    const auto key = sortTypeFromRaw(descriptor.key);
    if (!key) return;
    setJobsSortType(*key);
    setJobsSortOrder(descriptor.ascending ? JobsSortOrder::ascending : JobsSortOrder::descending);
}

void MainViewController::setJobsSortType(JobsSortType type) {
    jobsSortType_ = type;
    showJobsRows(sortJobs(jobsViewList_, jobsSortType_, jobsSortOrder_));
}

void MainViewController::setJobsSortOrder(JobsSortOrder order) {
    jobsSortOrder_ = order;
    showJobsRows(sortJobs(jobsViewList_, jobsSortType_, jobsSortOrder_));
}

void MainViewController::setViewType(JobsViewType type) {
    viewType_ = type;
    viewTypeBtn_->setChecked(type == JobsViewType::detailed);
    buildViewableJobsList();
}

void MainViewController::setJobsToList(JobsListItems items) {
    jobsToList_ = items;
    silenceErrors();
    jobsToDisplay_->setSelectedSegment(static_cast<int>(items));
    buildViewableJobsList();
}

void MainViewController::jobsToDisplay(int selectedSegment) {
    setJobsToList(fromRaw(selectedSegment).value_or(JobsListItems::all));
}

void MainViewController::showDetailedJobs() {
    setViewType(viewType_ == JobsViewType::standard ? JobsViewType::detailed : JobsViewType::standard);
}

void MainViewController::tabViewDidSelect(const QString& identifier) {
    if (identifier == QLatin1String("filesTab"))
        selectedTab_ = SelectedTab::files;
    else if (identifier == QLatin1String("jobsTab"))
        selectedTab_ = SelectedTab::jobs;
    else
        return;
    silenceErrors();
}

// --- alarms, badge and spinner -------------------------------------------------------------

void MainViewController::updateBadges() {
    failedJobs_ = static_cast<int>(std::count_if(jobsAlarmStatuses_.begin(), jobsAlarmStatuses_.end(),
                                                 [](const auto& alarm) { return alarm.second == JobsAlarmStatus::active; }));
    runOnMain([self = self_] {
        if (self) self->drawBadges();
    });
}

void MainViewController::drawBadges() {
    if (failedJobs_ >= 1) {
        // With the failed jobs already on show, the rebuild that follows
        // every change has listed them: only the silencing is left to do.
        const auto failed = JobsListItems::failed;
        if (jobsToList_ == failed && jobsToDisplay_->selectedSegment() == static_cast<int>(failed))
            silenceErrors();
        else
            setJobsToList(failed);
        commStatusIndicator_->setPixmap(statusDot(systemColor(SystemColor::red)));
        showBadge(jobsNumber_, failedJobs_, systemColor(SystemColor::red));
        return;
    }
    if (Appwise::shared().fileXferInProgress()) return;
    if (activeSlowJobs_ < 1) {
        jobsNumber_->hide();
        commStatusIndicator_->setPixmap(statusDot(systemColor(SystemColor::green)));
        return;
    }
    commStatusIndicator_->setPixmap(statusDot(systemColor(SystemColor::yellow)));
    showBadge(jobsNumber_, activeSlowJobs_, systemColor(SystemColor::green));
}

void MainViewController::silenceErrors() {
    if (jobsToList_ != JobsListItems::failed || selectedTab_ != SelectedTab::jobs) return;
    for (auto& alarm : jobsAlarmStatuses_) alarm.second = JobsAlarmStatus::silenced;
    updateBadges();
}

// Any thread: only the view's guard and the shared flag are touched here;
// one drawing is queued however many calls come before it runs.
void MainViewController::updateSpinner() {
    if (spinnerUpdateQueued_->exchange(true)) return;
    runOnMain([self = self_, queued = spinnerUpdateQueued_] {
        queued->store(false);
        if (self) self->drawSpinner();
    });
}

void MainViewController::drawSpinner() {
    if (Appwise::shared().fileXferInProgress()) return;
    if (activeSlowJobProgress_ >= 0) {
        progressSpinner_->show();
        progressSpinner_->setRange(0, 100);
        progressSpinner_->setValue(static_cast<int>(activeSlowJobProgress_ * 100));
    } else if (activeSlowJobs_ > 0 || activeFastJobs_ >= 1) {
        progressSpinner_->show();
        // A bar without a range is a busy one.
        progressSpinner_->setRange(0, 0);
        commStatusIndicator_->hide();
    } else {
        progressSpinner_->hide();
        progressSpinner_->setRange(0, 100);
        progressSpinner_->setValue(0);
        commStatusIndicator_->show();
    }
}

// --- actions on the jobs -------------------------------------------------------------------

const MainViewController::CommJob* MainViewController::selectedJob() const {
    if (selectedTab_ != SelectedTab::jobs) return nullptr;
    const QModelIndexList rows = jobsTable_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return nullptr;
    const auto row = static_cast<std::size_t>(rows.front().row());
    return row < jobsViewList_.size() ? &jobsViewList_[row] : nullptr;
}

QMenu* MainViewController::jobsContextMenu(QWidget* parent) {
    const CommJob* job = selectedJob();
    if (!job) return nullptr;
    const char* title = nullptr;
    void (MainViewController::*action)() = nullptr;
    switch (job->jobdata.status) {
        case JobStatus::error:
            title = "Resume job";
            action = &MainViewController::resumeJob;
            break;
        case JobStatus::pending:
        case JobStatus::inProgress:
        case JobStatus::suspended:
            title = "Abort job";
            action = &MainViewController::abortJob;
            break;
        default:
            return nullptr;
    }
    auto* menu = new QMenu(parent);
    QAction* item = menu->addAction(text(title));
    connect(item, &QAction::triggered, this, [this, action] { (this->*action)(); });
    return menu;
}

void MainViewController::abortJob() {
    const CommJob* job = selectedJob();
    if (!job) return;
    const std::string jobID = job->uuid;
    Appwise::shared().engine(CommTasks::slowTask)->abortJobs({jobID});
}

void MainViewController::resumeJob() {
    const CommJob* job = selectedJob();
    if (!job) return;
    const std::string jobID = job->uuid;
    const JobType type = job->jobdata.jobType;
    Appwise& appwise = Appwise::shared();
    const auto answers = appwise.engine(CommTasks::slowTask)->resumeJobs({jobID});
    const auto answer = answers.find(jobID);
    // Only a transfer the engine took back counts as one in progress: any
    // other answer would leave the transfer actions off for good.
    if (answer == answers.end() || !answer->second || !isTransfer(type)) return;

    resumedTransfers_.insert(jobID);
    // The queue holds the job as resumed now; a rebuild before the engine's
    // next word on it must not take it for ended.
    if (const auto copy = stJobsList_.find(jobID); copy != stJobsList_.end()) copy->second.status = JobStatus::resume;
    appwise.setFileXferInProgress(true);
    appwise.notifications()->post(kFileXferInProgressNotification);
    scheduleJobsListRebuild();
    showTransferStarting();
}

void MainViewController::followResumedTransfers() {
    if (resumedTransfers_.empty()) return;
    bool ended = false;
    for (auto it = resumedTransfers_.begin(); it != resumedTransfers_.end();) {
        const auto job = jobsList_.find(*it);
        const bool going =
            job != jobsList_.end() && (isActive(job->second.status) || job->second.status == JobStatus::resume);
        if (going) {
            ++it;
        } else {
            it = resumedTransfers_.erase(it);
            ended = true;
        }
    }
    // A running upload ends the transfer itself, with its final word.
    if (!ended || !resumedTransfers_.empty() || !multipleLocalToRemote_->isIdle()) return;
    Appwise& appwise = Appwise::shared();
    appwise.setFileXferInProgress(false);
    appwise.notifications()->post(kFileXferInProgressNotification);
    setSendingFileInfoHeight(0);
    sendingFileProgressBar_->setRange(0, 100);
    sendingFileProgressBar_->setValue(0);
}

void MainViewController::cleanupJobs() {
    Appwise& appwise = Appwise::shared();
    appwise.engine(CommTasks::slowTask)->queue()->jobCleanup();
    appwise.engine(CommTasks::fastTask)->queue()->jobCleanup();
}

}  // namespace quorvel
