// The main view's three tables: their rows, their sort by column header, and
// the selection they record.

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSignalBlocker>
#include <QTableView>

#include <algorithm>
#include <any>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/SelectedItems.h"
#include "app/window/LocalFilesTableModel.h"
#include "app/window/MainViewController.h"
#include "app/window/RemoteFilesTableModel.h"
#include "jobs/VirtualPath.h"
#include "platform/SystemLog.h"

namespace quorvel {

namespace {

// The sort key each column of a table stands for, by the column's position;
// all first sort ascending. No column offers the remote key "itemType".
const std::vector<std::string>& sortPrototypes(const QTableView* table) {
    static const std::map<QString, std::vector<std::string>> prototypes = {
        {QStringLiteral("localFiles"), {"name", "size", "date"}},
        {QStringLiteral("remoteFiles"), {"name", "size", "modificationDate"}},
        {QStringLiteral("jobsTable"), {"jobType", "date"}},
    };
    static const std::vector<std::string> none;
    const auto found = prototypes.find(table->objectName());
    return found == prototypes.end() ? none : found->second;
}

// The selected rows, in ascending order.
std::vector<int> selectedRowIndexes(const QTableView* table) {
    std::vector<int> rows;
    for (const QModelIndex& index : table->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

// The server's size as the rows hold sizes; a size beyond their range, which
// no server records, shows as the largest they hold.
std::int64_t signedSize(std::uint64_t size) {
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(std::min(size, largest));
}

// Where each identifier first stands in `records`: a selection of every
// row of a large folder looks each one up once.
template <class Record, class Uuid>
std::unordered_map<std::string, std::size_t> firstByUuid(const std::vector<Record>& records, Uuid uuid) {
    std::unordered_map<std::string, std::size_t> positions;
    positions.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) positions.emplace(uuid(records[i]), i);
    return positions;
}

}  // namespace

// --- rows ------------------------------------------------------------------------------

template <class Selected>
void MainViewController::showSelection(QTableView* table, int rows, Selected selected) {
    QAbstractItemModel* model = table->model();
    const int lastColumn = model->columnCount() - 1;
    // One range per run of selected rows: a whole folder selected is one.
    QItemSelection selection;
    for (int row = 0; row < rows; ++row) {
        if (!selected(row)) continue;
        const int first = row;
        while (row + 1 < rows && selected(row + 1)) ++row;
        selection.select(model->index(first, 0), model->index(row, lastColumn));
    }
    if (selection.isEmpty()) return;
    showingSelection_ = true;
    table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    showingSelection_ = false;
}

void MainViewController::reloadLocalFileList() {
    localFilesModel_->reload([this] {
        if (localFiles_)
            directoryItems_ = localFiles_->contentsOrderedBy(localSortKey_, localSortAscending_);
        else
            directoryItems_.reset();
    });
    if (!directoryItems_) return;

    std::unordered_set<std::string> held;
    for (const auto& entry : Appwise::shared().selectedItems().localFiles()) held.insert(entry.url.native());
    const auto& rows = *directoryItems_;
    showSelection(localFilesTable_, static_cast<int>(rows.size()),
                  [&](int row) { return held.count(rows[static_cast<std::size_t>(row)].url.native()) > 0; });
}

void MainViewController::reloadRemoteFileList() {
    remoteFilesModel_->reload([this] {
        remoteItemsTableContent_.content.clear();
        bool underShares = false;
        try {
            underShares = Appwise::shared().remotePath().getUUIDFromIndex(0) == kSharesNodeUUID;
        } catch (const ostrelcomm::VirtualPath::PathError&) {
            // The top of the tree has no component: the user's own rows.
        }
        if (underShares)
            addShare();
        else
            addOwnFile();
        remoteItemsTableContent_.contentsOrderedBy(remoteSortKey_, remoteSortAscending_);
    });

    const SelectedItems& selected = Appwise::shared().selectedItems();
    std::unordered_set<std::string> held;
    for (const auto& item : selected.ownElements()) held.insert(item.uuid);
    for (const auto& item : selected.shares()) held.insert(item.itemuuid);
    const auto& rows = remoteItemsTableContent_.content;
    showSelection(remoteFilesTable_, static_cast<int>(rows.size()),
                  [&](int row) { return held.count(rows[static_cast<std::size_t>(row)].uuid) > 0; });
}

void MainViewController::addOwnFile() {
    Appwise& appwise = Appwise::shared();
    const auto& listing = appwise.remoteDirectoryInfo();
    if (!listing) return;
    if (appwise.remotePath().getPathElements().size() == 1)
        remoteItemsTableContent_.addItem(kSharesNodeUUID, localize("SHARES"), TableRemoteItemType::SHARESDIR,
                                         std::nullopt, std::nullopt, {});
    for (const auto& item : listing->content)
        remoteItemsTableContent_.addItem(item.uuid, item.metadata.name, tableItemType(item.type),
                                         item.metadata.modificationDate, signedSize(item.orig_size), item.attrib);
}

void MainViewController::addShare() {
    switch (Appwise::shared().remotePath().getPathElements().size()) {
        case 2:
            for (const auto& [name, uuid] : sharingPeers_)
                remoteItemsTableContent_.addItem(uuid, name, TableRemoteItemType::PEER, std::nullopt, std::nullopt,
                                                 {});
            return;
        case 3:
            for (const auto& item : sharedItems_)
                remoteItemsTableContent_.addItem(item.itemuuid, item.metadata.name, tableItemType(item.itemtype),
                                                 item.metadata.modificationDate, item.metadata.fileSize, {});
            return;
        default:
            return;
    }
}

// --- sort ------------------------------------------------------------------------------

void MainViewController::followSortHeader(QTableView* table) {
    QHeaderView* header = table->horizontalHeader();
    // The sort the view starts with: by name, or the jobs by date, ascending.
    header->setSortIndicator(table == jobsTable_ ? 1 : 0, Qt::AscendingOrder);
    // A column that offers no key does not sort: its click puts the
    // indicator back where it was.
    struct Shown {
        int section;
        Qt::SortOrder order;
    };
    auto shown = std::make_shared<Shown>(Shown{header->sortIndicatorSection(), header->sortIndicatorOrder()});
    connect(header, &QHeaderView::sortIndicatorChanged, this,
            [this, table, header, shown](int section, Qt::SortOrder order) {
                const auto& keys = sortPrototypes(table);
                if (section < 0 || static_cast<std::size_t>(section) >= keys.size()) {
                    const QSignalBlocker quiet(header);
                    header->setSortIndicator(shown->section, shown->order);
                    return;
                }
                *shown = Shown{section, order};
                sortDescriptorsDidChange(table,
                                         {keys[static_cast<std::size_t>(section)], order == Qt::AscendingOrder});
            });
}

void MainViewController::sortDescriptorsDidChange(QTableView* table, const SortDescriptor& descriptor) {
    if (table == localFilesTable_) {
        const auto key = Directory::fileOrderFromRaw(descriptor.key);
        if (!key) return;
        localSortKey_ = *key;
        localSortAscending_ = descriptor.ascending;
        reloadLocalFileList();
    } else if (table == remoteFilesTable_) {
        const auto key = RemoteItemsTableContent::fromRaw(descriptor.key);
        if (!key) return;
        remoteSortKey_ = *key;
        remoteSortAscending_ = descriptor.ascending;
        reloadRemoteFileList();
    } else if (table == jobsTable_) {
        sortJobsTable(descriptor);
    }
}

// --- selection -------------------------------------------------------------------------

void MainViewController::followSelection(QTableView* table) {
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, table] {
        if (!showingSelection_) tableViewSelectionDidChange(table);
    });
}

void MainViewController::tableViewSelectionDidChange(QObject* table) {
    if (table && table == localFilesTable_) {
        localItemsSelected();
    } else if (table && table == remoteFilesTable_) {
        remoteItemsSelected();
    } else if (table && table == jobsTable_) {
        setSelectedTable(jobsTable_->selectionModel()->hasSelection() ? SelectedTable::jobs : SelectedTable::none);
    } else {
        ostrelcomm::systemLog("No object found");
    }
}

void MainViewController::localItemsSelected() {
    SelectedItems& selected = Appwise::shared().selectedItems();
    const std::vector<int> rows = selectedRowIndexes(localFilesTable_);
    if (rows.empty()) {
        setSelectedTable(SelectedTable::none);
        selected.setLocalFiles({});
        return;
    }
    setSelectedTable(SelectedTable::localItems);
    std::vector<Metadata> files;
    if (directoryItems_)
        for (const int row : rows)
            if (static_cast<std::size_t>(row) < directoryItems_->size())
                files.push_back((*directoryItems_)[static_cast<std::size_t>(row)]);
    selected.setLocalFiles(std::move(files));
}

void MainViewController::remoteItemsSelected() {
    Appwise& appwise = Appwise::shared();
    SelectedItems& selected = appwise.selectedItems();
    const std::vector<int> rows = selectedRowIndexes(remoteFilesTable_);
    if (rows.empty()) {
        setSelectedTable(SelectedTable::none);
        selected.setOwnElements({});
        selected.setShares({});
        return;
    }
    setSelectedTable(SelectedTable::remoteItems);

    const ostrelcomm::VirtualPath& path = appwise.remotePath();
    bool underShares = false;
    if (!path.pathComponents().empty()) {
        try {
            underShares = path.getUUIDFromIndex(0) == kSharesNodeUUID;
        } catch (const ostrelcomm::VirtualPath::PathError&) {
            ostrelcomm::systemLog("Unable to get items type in remoteItemsSelected()");
            return;
        }
    }
    const auto& content = remoteItemsTableContent_.content;

    if (!underShares) {
        const auto& listing = appwise.remoteDirectoryInfo();
        const auto listed = listing ? firstByUuid(listing->content, [](const auto& item) { return item.uuid; })
                                    : std::unordered_map<std::string, std::size_t>{};
        std::vector<ostrelcomm::RemoteItemInfo> records;
        for (const int row : rows) {
            const auto& uuid = content[static_cast<std::size_t>(row)].uuid;
            if (uuid == kSharesNodeUUID) continue;
            const auto found = listed.find(uuid);
            if (found == listed.end()) {
                ostrelcomm::systemLog("Unable to get own item record in remoteItemsSelected()");
                return;
            }
            records.push_back(listing->content[found->second]);
        }
        selected.setOwnElements(std::move(records));
        return;
    }

    // The list of the users who share with the user: nothing to record.
    if (path.pathComponents().size() == 1) return;
    const auto listed = firstByUuid(sharedItems_, [](const auto& item) { return item.itemuuid; });
    std::vector<ostrelcomm::SharedItem> records;
    for (const int row : rows) {
        const auto found = listed.find(content[static_cast<std::size_t>(row)].uuid);
        if (found == listed.end()) {
            ostrelcomm::systemLog("Unable to get shared item record in remoteItemsSelected()");
            return;
        }
        records.push_back(sharedItems_[found->second]);
    }
    selected.setShares(std::move(records));
}

void MainViewController::setSelectedTable(SelectedTable table) {
    selectedTable_ = table;
    const bool selectAll = table == SelectedTable::localItems || table == SelectedTable::remoteItems;
    Appwise::shared().notifications()->post(kAdjustEditMenuNotification, {{kSelectAllEnableKey, selectAll}});
}

}  // namespace quorvel
