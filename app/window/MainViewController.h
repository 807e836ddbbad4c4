#pragma once

#include <QWidget>

#include <QPointer>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "app/local/Directory.h"
#include "app/local/DirectoryMonitor.h"
#include "app/local/Metadata.h"
#include "app/utils/CommTasks.h"
#include "app/window/PathBar.h"
#include "app/window/RemoteItemsTableContent.h"
#include "app/window/TransferPace.h"
#include "jobs/CommJobs.h"
#include "jobs/CommJobsItem.h"
#include "platform/NotificationCenter.h"
#include "shares/SharedItem.h"
#include "tree/RemoteDirectoryBranch.h"
#include "tree/CopyDir.h"
#include "xfer/MultipleLocalFileSend.h"

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QShowEvent;
class QStandardItemModel;
class QTabWidget;
class QTableView;

namespace quorvel {

class CopyDirBridge;
class JobsTableModel;
class LocalFilesTableModel;
class RemoteFilesTableModel;
class SegmentedControl;

// The main window's content: the browsing tab (the local and the remote
// folder side by side) and the jobs tab. It holds the browsing state of both
// panes and the two long-running transfer objects of the library, both on
// the slow engine, for as long as the window lives.
//
// The view never calls the server itself: every operation goes to one of the
// two engines of Appwise::shared(), and results come back through the
// engines' bridges. Its requests to other screens go out on Appwise's center.
//
// Its code is split by what it does: MainViewController.cpp holds the
// lifecycle and the layout; the tables (MainViewTables.cpp), the path bars,
// the observers of the engines and the jobs list each get a file of their
// own beside it.
//
// On the main thread only.
class MainViewController : public QWidget {
    Q_OBJECT

public:
    // The table that holds the user's current selection.
    enum class SelectedTable { none, localItems, remoteItems, jobs };

    // A table's sort: the key its clicked column stands for, and the
    // direction.
    struct SortDescriptor {
        std::string key;
        bool ascending = true;
    };

    // Needs Appwise::shared() with its slow engine.
    explicit MainViewController(QWidget* parent = nullptr);
    ~MainViewController() override;
    MainViewController(const MainViewController&) = delete;
    MainViewController& operator=(const MainViewController&) = delete;

    // --- tables (MainViewTables.cpp) -----------------------------------------------
    // The local rows: the listing sorted by the local key and direction, or
    // none without a listing; then the table reloads.
    void reloadLocalFileList();
    // The remote rows rebuilt for the place on show (the user's own folder,
    // the top with the shares node among its items, the users who share with
    // the user, or one of them's items), sorted by the remote key and
    // direction; then the table reloads.
    //
    // Both reloads keep the rows of what Appwise's selection holds selected
    // on screen, wherever the sort puts them, and change nothing of the
    // selection itself.
    void reloadRemoteFileList();

    // A table's new sort, as a click on its column header gives it. Local
    // keys "name", "date", "size" and remote keys "name",
    // "modificationDate", "size", "itemType" become the table's sort and
    // reload it; the jobs table's go to the jobs list; any other key changes
    // nothing.
    void sortDescriptorsDidChange(QTableView* table, const SortDescriptor& descriptor);
    // A table's selection changed; anything but one of the three tables is
    // logged ("No object found").
    void tableViewSelectionDidChange(QObject* table);
    // The local selection into Appwise's selection and selectedTable.
    void localItemsSelected();
    // The remote selection into Appwise's selection and selectedTable: the
    // records of the own items (the shares node row left out), or of one
    // peer's shared items; selecting users in the list of those who share
    // records nothing. A selected row whose record cannot be found is logged
    // and leaves the record as it was.
    void remoteItemsSelected();

    // Each assignment posts "adjustEditMenu" with "SelectAllEnable": true for
    // the local and remote tables, false otherwise.
    SelectedTable selectedTable() const { return selectedTable_; }
    void setSelectedTable(SelectedTable table);

    // --- browsing state -------------------------------------------------------------
    // The listing of the local folder on show; none before the first.
    const std::optional<Directory>& localFiles() const { return localFiles_; }
    void setLocalFiles(std::optional<Directory> listing) { localFiles_ = std::move(listing); }
    // The local table's rows in display order; none without a listing.
    const std::optional<std::vector<Metadata>>& directoryItems() const { return directoryItems_; }
    Directory::FileOrder localSortKey() const { return localSortKey_; }
    bool localSortAscending() const { return localSortAscending_; }
    // The remote table's rows in display order.
    const RemoteItemsTableContent& remoteItemsTableContent() const { return remoteItemsTableContent_; }
    RemoteItemsTableContent::FileOrder remoteSortKey() const { return remoteSortKey_; }
    bool remoteSortAscending() const { return remoteSortAscending_; }
    // The users who share items with the user: user name to identifier.
    const std::map<std::string, std::string>& sharingPeers() const { return sharingPeers_; }
    void setSharingPeers(std::map<std::string, std::string> peers) { sharingPeers_ = std::move(peers); }
    // The items the peer on show shares with the user, in the order received.
    const std::vector<ostrelcomm::SharedItem>& sharedItems() const { return sharedItems_; }
    void setSharedItems(std::vector<ostrelcomm::SharedItem> items) { sharedItems_ = std::move(items); }

    // --- transfer objects ----------------------------------------------------------
    // The recursive remote folder copy, used by a paste of copied folders; one
    // for the view's life. Its reports reach the main thread through
    // copyDirBridge().
    const std::shared_ptr<ostrelcomm::CopyDir>& copyDirJob() const { return copyDirJob_; }
    CopyDirBridge& copyDirBridge() const { return *copyDirBridge_; }
    // The multi-file upload, posting "multipleLocalFileSend" on Appwise's
    // center; one for the view's life.
    const std::shared_ptr<ostrelcomm::MultipleLocalFileSend>& multipleLocalToRemote() const {
        return multipleLocalToRemote_;
    }

    // --- jobs list (MainViewJobs.cpp) ------------------------------------------------
    // The tab on show.
    enum class SelectedTab { files, jobs };
    // One row of the jobs table.
    struct CommJob {
        std::string uuid;
        ostrelcomm::CommJobsItem jobdata;
    };
    // The jobs table's sort key, by the raw values "jobType" and "date".
    enum class JobsSortType { jobType, date };
    static std::optional<JobsSortType> sortTypeFromRaw(std::string_view raw);
    enum class JobsSortOrder { ascending, descending };
    enum class JobsViewType { standard, detailed };
    // The filter, by the segments of jobsToDisplay from left to right.
    enum class JobsListItems { all = 0, completed = 1, failed = 2, aborted = 3 };
    // Exactly the raw values 0 to 3.
    static std::optional<JobsListItems> fromRaw(int raw);
    enum class JobsAlarmStatus { active, silenced };
    // Jobs by identifier, as the queues give them; here always without their
    // contexts, which belong to the engines' threads.
    using JobsList = ostrelcomm::CommJobs::Queue;
    // The text of a "CommStates" key; empty for a key the table lacks, which
    // then shows itself.
    using JobTypeLabelLookup = std::function<std::string(std::string_view key)>;
    // How many rows the table shows at most: the newest jobs.
    static constexpr std::size_t kMaxListedJobs = 50;

    // A copy of an engine's queue fit for the main thread: the jobs without
    // their contexts, dropped under the engine's lock while the queue still
    // holds them, so the last owner of a context is never the main thread.
    static JobsList jobsListCopy(const ostrelcomm::CommJobs& queue);

    // What the queue observers hand over: a fresh copy of an engine's whole
    // queue, or one job's latest record (none: the queue no longer has it).
    // Stored at once (contexts dropped); the list is rebuilt and the table
    // reloaded once, at the next turn of the event loop, however many came
    // in between.
    void jobsQueueCopied(CommTasks task, JobsList jobs);
    void jobChanged(CommTasks task, const std::string& jobID, std::optional<ostrelcomm::CommJobsItem> job);

    // The merged list, the counters and the alarms rebuilt from both copies,
    // then the rows. The slow engine's jobs are always listed; the fast
    // engine's only when they failed or were aborted, unless the settings
    // ask for the full log.
    void buildJobsList();
    // The rows from the merged list: filtered, the newest kept, sorted.
    void buildViewableJobsList();
    // In the standard view only transfers and failed jobs pass; then by the
    // filter (aborted takes aborted, aborting and reqAbort).
    static bool filterJob(const ostrelcomm::CommJobsItem& job, JobsListItems jobStatusToList,
                          JobsViewType jobTypeToList);
    // The `maxJobsQty` newest rows, newest first; a list within the limit
    // comes back as it is.
    static std::vector<CommJob> trimJobsList(std::vector<CommJob> listToTrim, std::size_t maxJobsQty);
    // Sorted by date, or by the job's type text (its label, ": " and its
    // details) in the order of item names. Equal keys: any order.
    std::vector<CommJob> sortJobs(std::vector<CommJob> jobsToSort, JobsSortType sortingKey,
                                  JobsSortOrder sortingOrder) const;
    // The jobs table's new sort (its keys "jobType" and "date"); any other key
    // changes nothing.
    void sortJobsTable(const SortDescriptor& descriptor);
    // A job's type label: "jobType." and the case's name looked up in
    // "CommStates"; with its details after ": " when asked.
    std::string jobTypeText(const ostrelcomm::CommJobsItem& job, bool withDetails) const;
    // Tests look the labels up in a table of their own.
    void setJobTypeLabelLookup(JobTypeLabelLookup lookup);

    // The badge and the status image from the alarms not yet silenced, or
    // the running transfers.
    void updateBadges();
    // With the failed jobs on show in the jobs tab: every alarm silenced
    // (never removed); then the badge again.
    void silenceErrors();
    // The spinner from the counters as they are when it draws; from any
    // thread, it draws on the main thread.
    void updateSpinner();

    // The menu for the selected job: "Resume job" for a failed one, "Abort
    // job" for a waiting, running or suspended one; none otherwise, or when
    // the jobs tab is not on show or no row is selected. The caller owns it.
    QMenu* jobsContextMenu(QWidget* parent);
    // The selected job to the slow engine, whichever engine queued it. A
    // resumed transfer counts as a transfer in progress until it ends.
    void abortJob();
    void resumeJob();
    // The finished jobs dropped: the slow engine's, then the fast engine's.
    void cleanupJobs();
    // The segment's filter; an index out of 0 to 3 (or none) lists all.
    void jobsToDisplay(int selectedSegment);
    // Between the standard and the detailed view.
    void showDetailedJobs();

    // A tab was selected by its identifier ("filesTab", "jobsTab"); others
    // change nothing.
    void tabViewDidSelect(const QString& identifier);
    SelectedTab selectedTab() const { return selectedTab_; }

    JobsSortType jobsSortType() const { return jobsSortType_; }
    JobsSortOrder jobsSortOrder() const { return jobsSortOrder_; }
    JobsViewType viewType() const { return viewType_; }
    JobsListItems jobsToList() const { return jobsToList_; }
    // Each set sorts the rows again and reloads the table.
    void setJobsSortType(JobsSortType type);
    void setJobsSortOrder(JobsSortOrder order);
    // Rebuilds the rows and reloads the table.
    void setViewType(JobsViewType type);
    // Silences the alarms when due, selects the filter's segment, rebuilds
    // the rows and reloads the table.
    void setJobsToList(JobsListItems items);

    const JobsList& stJobsList() const { return stJobsList_; }
    const JobsList& ftJobsList() const { return ftJobsList_; }
    const JobsList& jobsList() const { return jobsList_; }
    const std::vector<CommJob>& jobsViewList() const { return jobsViewList_; }
    const std::unordered_map<std::string, JobsAlarmStatus>& jobsAlarmStatuses() const { return jobsAlarmStatuses_; }
    int activeSlowJobs() const { return activeSlowJobs_; }
    int activeFastJobs() const { return activeFastJobs_; }
    int failedJobs() const { return failedJobs_; }
    // Share done of the running folder copy, 0 to 1; -1 for none.
    float activeSlowJobProgress() const { return activeSlowJobProgress_; }
    void setActiveSlowJobProgress(float progress) { activeSlowJobProgress_ = progress; }
    // The pace of the running transfers, and the clock it is measured by.
    const TransferPace& transferPace() const { return transferPace_; }
    void setJobsClock(TransferPace::Clock clock) { transferPace_.setClock(std::move(clock)); }

    // --- observers (MainViewObservers.cpp) ----------------------------------------
    // The observers of both engines' results and queues, in their order
    // (folder results, the download, the empty queues, the copier's reports,
    // the queues, the folder tree), then those of the application's center.
    // Called once the view is loaded; each registers once for the view's
    // life, a second call registers nothing.
    void commRelatedObservers();
    void appRelatedObservers();

    // --- browsing (MainViewBrowse.cpp) ---------------------------------------------
    // A click on an item of the local path bar: its folder becomes the local
    // folder on show, and the watcher follows it. No item, or one without a
    // URL: nothing.
    void setLocalPath(const PathBar::Item* clicked);
    // A click on an item of the remote path bar: the remote path cut back to
    // the level the item names, then listed again ("actionRefresh").
    void setRemotePath(const PathBar::Item* clicked);
    // A double click on a row of the local table: a folder (not an
    // application bundle) is entered; anything else uploads the local
    // selection.
    void localTableViewDoubleClick(int row);
    // A double click on a row of the remote table: a file downloads the
    // remote selection; a folder, the shares node or a peer is entered and
    // listed.
    void remoteTableViewDoubleClick(int row);
    // The remote path bar drawn from the remote path, enabled; or hidden.
    void updateRemotePathView(bool visible);
    PathBar* localPathView() const { return localPathView_; }
    PathBar* remotePathView() const { return remotePathView_; }
    // The watcher of the local folder on show.
    const DirectoryMonitor& directoryMonitor() const { return *directoryMonitor_; }

    // Folder listings, peers, shared items, creations, edits and deletions of
    // the fast engine.
    void observeFolderResults();
    // Either engine's empty queue: the refresh deferred by deletions.
    void observeEmptyQueues();
    // The application's center: the full-log setting, the local folder's
    // refresh, the login state, the refresh action, the clipboard, select all.
    void observeShowFullLog();
    void observeLocalFolderRefresh();
    void observeAuthentication();
    void observeRefresh();
    void observePasteboard();
    void observeSelectAll();

    // --- sending and receiving (MainViewSendReceive.cpp) ---------------------------
    // Both engines' queues into the jobs list.
    void observeJobQueues();
    // The slow engine's folder trees asked for by a folder download.
    void observeFolderTree();
    // The toolbar's and menus' download and upload actions.
    void observeTransferActions();

    // Uploads the local table's selected rows (application bundles left out)
    // into the remote folder on show, on the slow engine. Refused, with
    // nothing queued and the uploader left as it is, while an upload or a
    // resumed transfer runs, and while the remote pane shows the shares node
    // or a peer's items. The items the uploader refuses (links, FIFOs,
    // vanished files, names that are not UTF-8) are named in one alert; with
    // none accepted no run starts.
    void sendLocalItemsToRemote();
    // The upload strip's button: an idle strip closes; during an upload the
    // first press asks the uploader to abort and says so, further presses do
    // nothing.
    void sendingFileActionButton();
    // Downloads the selected remote items into the local folder on show, on
    // the slow engine: shared items as files; own files as files, own
    // folders through a query of their tree, which comes back to
    // receiveDirFromRemote(). A selection reaching the root stops there.
    void receiveFileFromRemote();
    // Downloads one branch of a remote folder tree below `destURL`. Every
    // folder's name is made one safe local name (safeLocalFileName), so no
    // remote name leads outside `destURL`; an empty folder makes nothing.
    void receiveDirFromRemote(const ostrelcomm::RemoteDirectoryBranch& item, const std::filesystem::path& destURL);

    // --- transfers on screen (MainViewTransfers.cpp) ---------------------------------
    // The observers of a download's, a folder copy's and a multi-file
    // upload's reports. Each registers once for the view's life; a second
    // call registers nothing. commRelatedObservers() registers the first
    // four in their place among the others, appRelatedObservers() the last.
    void observeRemoteFileDownload();
    void observeItemCopied();
    void observeCopyCompleted();
    void observeCopyError();
    void observeMultipleLocalFileSend();
    // Whether the download of a remote item was asked for under the shares
    // node, kept by the item's identifier until its report ends it: a file
    // of another user never gets its hash or thumbnail written back.
    void recordDownloadRequest(const std::string& uuid, bool underShares);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Once the view is built: the observers, the local listing, the watcher.
    void viewDidLoad();
    // Each time the view comes on screen.
    void viewDidAppear();
    void layOutFilesTab(QWidget* tab);
    void layOutJobsTab(QWidget* tab);
    QWidget* makeStatusCluster();
    QWidget* makeUploadStrip();
    // The upload strip's height: 0 hides it, 80 shows it.
    void setSendingFileInfoHeight(int height);
    // The strip opened and the spinner running, before a transfer's first
    // report gives them numbers.
    void showTransferStarting();

    // --- jobs list (MainViewJobs.cpp) ------------------------------------------------
    // The jobs table's model, delegate, menu and controls, once the widgets
    // are there.
    void setUpJobsList();
    void scheduleJobsListRebuild();
    // The rows replaced as one reset of the model, the selected job kept
    // selected.
    void showJobsRows(std::vector<CommJob> rows);
    // The selected row's job; none without one, beyond the rows, or with the
    // files tab on show.
    const CommJob* selectedJob() const;
    // The resumed transfers that ended: the transfer flag cleared when none
    // is left and no upload runs.
    void followResumedTransfers();
    // The drawing halves of updateBadges() and updateSpinner(), on the main
    // thread, from the counters as they are then.
    void drawBadges();
    void drawSpinner();

    // --- tables (MainViewTables.cpp) -----------------------------------------------
    // Follows a table's selection and its column headers' sort; after a new
    // model is set on a table, follow its selection again.
    void followSelection(QTableView* table);
    void followSortHeader(QTableView* table);
    // The own rows: the shares node first at the top, then the listing's
    // items; nothing without a listing.
    void addOwnFile();
    // The peers, or one peer's items, by the depth of the path.
    void addShare();
    // Selects the rows for which `selected` holds, reporting nothing.
    template <class Selected>
    void showSelection(QTableView* table, int rows, Selected selected);

    // --- browsing (MainViewBrowse.cpp) ---------------------------------------------
    // `handler` on the main thread for a notification of Appwise's center: at
    // once when posted there, else from the event loop.
    void observeApplication(const char* name, std::function<void(MainViewController&)> handler);
    // `observer` of `name` on Appwise's center, on the posting thread; every
    // such registration is removed first thing when the view goes.
    void observeAppCenter(const char* name, ostrelcomm::NotificationCenter::Observer observer);
    // The fast engine lists the remote folder on show again, for this view.
    void refreshCurrentFolder();
    // The local folder on show changed: the watcher starts over on it.
    void restartDirectoryMonitor();
    void showRemotePane();
    // Empties the record of the selected remote items.
    void clearRemoteSelection();

    // --- interface elements ---------------------------------------------------------
    QTabWidget* mainTabView_ = nullptr;
    QTableView* localFilesTable_ = nullptr;
    QTableView* remoteFilesTable_ = nullptr;
    QTableView* jobsTable_ = nullptr;
    PathBar* localPathView_ = nullptr;
    PathBar* remotePathView_ = nullptr;
    QProgressBar* progressSpinner_ = nullptr;
    QLabel* commStatusIndicator_ = nullptr;
    SegmentedControl* jobsToDisplay_ = nullptr;
    QPushButton* viewTypeBtn_ = nullptr;
    QLabel* jobsNumber_ = nullptr;
    QWidget* sendingFileInfo_ = nullptr;
    QLabel* sendingFilesProgress_ = nullptr;
    QLabel* sendingFileRemainingTime_ = nullptr;
    QProgressBar* sendingFileProgressBar_ = nullptr;
    QPushButton* sendingFileActionButton_ = nullptr;
    LocalFilesTableModel* localFilesModel_ = nullptr;
    RemoteFilesTableModel* remoteFilesModel_ = nullptr;
    JobsTableModel* jobsModel_ = nullptr;

    // --- browsing state ---------------------------------------------------------------
    std::optional<Directory> localFiles_;
    std::optional<std::vector<Metadata>> directoryItems_;
    Directory::FileOrder localSortKey_ = Directory::FileOrder::name;
    bool localSortAscending_ = true;
    RemoteItemsTableContent::FileOrder remoteSortKey_ = RemoteItemsTableContent::FileOrder::name;
    bool remoteSortAscending_ = true;
    std::map<std::string, std::string> sharingPeers_;
    std::vector<ostrelcomm::SharedItem> sharedItems_;
    RemoteItemsTableContent remoteItemsTableContent_;
    SelectedTable selectedTable_ = SelectedTable::none;
    // A reload puts the selection back on screen: not a change by the user.
    bool showingSelection_ = false;

    // Each observer registers once for the view's life.
    struct RegisteredObservers {
        bool folderResults = false;
        bool emptyQueues = false;
        bool showFullLog = false;
        bool localFolderRefresh = false;
        bool authentication = false;
        bool refresh = false;
        bool pasteboard = false;
        bool selectAll = false;
        bool jobQueues = false;
        bool folderTree = false;
        bool transferActions = false;
        bool download = false;
        bool itemCopied = false;
        bool copyCompleted = false;
        bool copyError = false;
        bool upload = false;
    } registered_;
    // True the first time for `flag`, which it sets.
    static bool firstRegistration(bool& flag) { return !std::exchange(flag, true); }
    // The registrations on Appwise's center, removed when the view goes.
    std::shared_ptr<ostrelcomm::NotificationCenter> appCenter_;
    std::vector<ostrelcomm::NotificationCenter::Token> appTokens_;
    std::unique_ptr<DirectoryMonitor> directoryMonitor_;

    // --- transfer objects -------------------------------------------------------------
    std::shared_ptr<ostrelcomm::CopyDir> copyDirJob_;
    std::unique_ptr<CopyDirBridge> copyDirBridge_;
    std::shared_ptr<ostrelcomm::MultipleLocalFileSend> multipleLocalToRemote_;

    // --- transfers on screen (MainViewTransfers.cpp) -----------------------------------
    // Which observers are registered, the downloads asked for, and the
    // worker that makes thumbnails; made on first use.
    struct Transfers;
    Transfers& transfers();
    std::shared_ptr<Transfers> transfers_;

    // --- jobs list --------------------------------------------------------------------
    QPushButton* cleanupButton_ = nullptr;
    JobsList stJobsList_;
    JobsList ftJobsList_;
    JobsList jobsList_;
    std::vector<CommJob> jobsViewList_;
    JobsSortType jobsSortType_ = JobsSortType::date;
    JobsSortOrder jobsSortOrder_ = JobsSortOrder::ascending;
    JobsViewType viewType_ = JobsViewType::standard;
    JobsListItems jobsToList_ = JobsListItems::all;
    std::unordered_map<std::string, JobsAlarmStatus> jobsAlarmStatuses_;
    int activeSlowJobs_ = 0;
    int activeFastJobs_ = 0;
    int failedJobs_ = 0;
    float activeSlowJobProgress_ = -1;
    SelectedTab selectedTab_ = SelectedTab::files;
    JobTypeLabelLookup jobTypeLabel_;
    TransferPace transferPace_;
    // Transfers resumed from the list that have not ended yet.
    std::unordered_set<std::string> resumedTransfers_;
    bool jobsRebuildQueued_ = false;
    // Copied by updateSpinner() on any thread: the view, made on the main
    // thread; and whether a drawing is already queued, shared with it.
    QPointer<MainViewController> self_;
    std::shared_ptr<std::atomic<bool>> spinnerUpdateQueued_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace quorvel
