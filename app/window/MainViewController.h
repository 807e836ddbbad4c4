#pragma once

#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/local/Directory.h"
#include "app/local/Metadata.h"
#include "app/window/RemoteItemsTableContent.h"
#include "shares/SharedItem.h"
#include "tree/CopyDir.h"
#include "xfer/MultipleLocalFileSend.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QStandardItemModel;
class QTabWidget;
class QTableView;

namespace quorvel {

class CopyDirBridge;
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

    // --- jobs list --------------------------------------------------------------------
    // The jobs table's new sort (its keys "jobType" and "date").
    void sortJobsTable(const SortDescriptor& descriptor);

private:
    void layOutFilesTab(QWidget* tab);
    void layOutJobsTab(QWidget* tab);
    QWidget* makeStatusCluster();
    QWidget* makeUploadStrip();
    // The upload strip's height: 0 hides it, 80 shows it.
    void setSendingFileInfoHeight(int height);

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

    // --- interface elements ---------------------------------------------------------
    QTabWidget* mainTabView_ = nullptr;
    QTableView* localFilesTable_ = nullptr;
    QTableView* remoteFilesTable_ = nullptr;
    QTableView* jobsTable_ = nullptr;
    QWidget* localPathView_ = nullptr;
    QWidget* remotePathView_ = nullptr;
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
    // Until the jobs list gives the jobs table its model: the columns alone.
    QStandardItemModel* jobsPlaceholderModel_ = nullptr;

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

    // --- transfer objects -------------------------------------------------------------
    std::shared_ptr<ostrelcomm::CopyDir> copyDirJob_;
    std::unique_ptr<CopyDirBridge> copyDirBridge_;
    std::shared_ptr<ostrelcomm::MultipleLocalFileSend> multipleLocalToRemote_;

    // --- jobs list --------------------------------------------------------------------
};

}  // namespace quorvel
