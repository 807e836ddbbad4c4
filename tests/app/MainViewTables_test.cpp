// The main view's tables on the offscreen platform: the remote rows filled
// for each place of the remote path, the local rows of a real folder; the
// sort chosen by a click on a column header or by a descriptor; and the
// selection recorded from clicks on rows: of the local folder, and of real
// listings of the stand-in server (the user's own items, the users who share
// with the user, and one of them's items).

#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <any>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "RemoteRecords.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/EngineBridge.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/SelectedItems.h"
#include "app/local/Directory.h"
#include "app/window/FileTableCell.h"
#include "app/window/MainViewController.h"
#include "app/window/RemoteItemsTableContent.h"
#include "support/ListingOracle.h"
#include "support/NotificationRecorder.h"
#include "tree/RemoteDirInfo.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::MainViewController;
using quorvel::RemoteItemsTableContent;
using SelectedTable = MainViewController::SelectedTable;
using Strings = std::vector<std::string>;
using Path = std::vector<std::pair<std::string, std::string>>;

namespace {

// A listing as the server would send it, read by the library.
ostrelcomm::tree::DirInfoPayload listingOf(const std::vector<testsupport::ListingOracle::Item>& items) {
    testsupport::ListingOracle oracle;
    const std::string body = oracle.body(std::nullopt, items).dump();
    return ostrelcomm::RemoteDirInfo::create(ostrelcomm::toBytes(body), oracle.passwordKey);
}

testsupport::ListingOracle::Item listed(const std::string& uuid, const std::string& name, const std::string& type,
                                        std::uint64_t size, Strings attrib = {}) {
    testsupport::ListingOracle::Item item;
    item.uuid = uuid;
    item.type = type;
    item.orig_size = size;
    item.attrib = std::move(attrib);
    item.metadata = testsupport::metadataText(name);
    return item;
}

// The listing of a remote folder through the fast engine, as the browser
// takes it; null when none came.
ostrelcomm::tree::DirInfoPayload fetchListing(Appwise& appwise, const std::string& uuid) {
    ostrelcomm::tree::DirInfoPayload listing;
    QObject receiver;
    QObject::connect(&appwise.bridge(CommTasks::fastTask), &quorvel::EngineBridge::queryRemoteDirectoryContent,
                     &receiver, [&](const quorvel::DirectoryContentEvent& event) {
                         if (event.source == kTestSource && event.data && *event.data) listing = *event.data;
                     });
    appwise.engine(CommTasks::fastTask)->directory_getInfo(uuid, std::string(kTestSource));
    (void)QTest::qWaitFor([&] { return listing != nullptr; }, kStandInGuardMs);
    return listing;
}

// Each row as "uuid kind size date", "-" for what it lacks.
Strings rowsOf(const MainViewController& view) {
    static const char* kinds[] = {"ROOT", "FILE", "DIRECTORY", "PEER", "SHARESDIR"};
    Strings out;
    for (const auto& row : view.remoteItemsTableContent().content)
        out.push_back(row.uuid + " " + kinds[static_cast<int>(row.type)] + " " +
                      (row.fileSize ? std::to_string(*row.fileSize) : "-") + " " + (row.modificationDate ? "d" : "-"));
    return out;
}

Strings uuidsOf(const MainViewController& view) {
    Strings out;
    for (const auto& row : view.remoteItemsTableContent().content) out.push_back(row.uuid);
    return out;
}

void setPath(Appwise& appwise, const Path& path) {
    appwise.remotePath().clean();
    for (const auto& [name, uuid] : path) appwise.remotePath().append(name, uuid);
}

std::string sharesName() { return quorvel::localize("SHARES"); }

QTableView* table(const MainViewController& view, const char* name) {
    return view.findChild<QTableView*>(QString::fromLatin1(name));
}

// A click on a row, with the modifiers that add it to the selection.
void clickRow(QTableView* table, int row, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
    const QRect rect = table->visualRect(table->model()->index(row, 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers, rect.center());
}

int rowOf(const MainViewController& view, const std::string& uuid) {
    const auto& rows = view.remoteItemsTableContent().content;
    const auto found = std::find_if(rows.begin(), rows.end(), [&](const auto& row) { return row.uuid == uuid; });
    return found == rows.end() ? -1 : static_cast<int>(found - rows.begin());
}

Strings selectedUuids(const MainViewController& view) {
    Strings out;
    const auto rows = table(view, "remoteFiles")->selectionModel()->selectedRows();
    for (const QModelIndex& index : rows)
        out.push_back(view.remoteItemsTableContent().content[static_cast<std::size_t>(index.row())].uuid);
    std::sort(out.begin(), out.end());
    return out;
}

template <class Records, class Uuid>
Strings uuidsIn(const Records& records, Uuid uuid) {
    Strings out;
    for (const auto& record : records) out.push_back(uuid(record));
    return out;
}

Strings ownSelection(Appwise& appwise) {
    return uuidsIn(appwise.selectedItems().ownElements(), [](const auto& item) { return item.uuid; });
}
Strings sharesSelection(Appwise& appwise) {
    return uuidsIn(appwise.selectedItems().shares(), [](const auto& item) { return item.itemuuid; });
}

// The selection announcements, "location:count", in order.
Strings selectionChanges(const testsupport::NotificationRecorder& recorder) {
    Strings out;
    for (const auto& posted : recorder.all()) {
        if (posted.name != quorvel::kChangedFileSelectionNotification) continue;
        const auto location = std::any_cast<std::string>(posted.userInfo.at(quorvel::kLocationKey));
        const auto count = std::any_cast<std::int64_t>(posted.userInfo.at(
            location == quorvel::kLocationLocal ? quorvel::kSelectedLocalFilesKey : quorvel::kSelectedRemoteFilesKey));
        out.push_back(location + ":" + std::to_string(count));
    }
    return out;
}

// The Edit menu's "SelectAllEnable" of each "adjustEditMenu", in order; a
// userInfo with any other key shows as "?".
Strings selectAllStates(const testsupport::NotificationRecorder& recorder) {
    Strings out;
    for (const auto& posted : recorder.all()) {
        if (posted.name != quorvel::kAdjustEditMenuNotification) continue;
        const auto found = posted.userInfo.find(quorvel::kSelectAllEnableKey);
        if (posted.userInfo.size() != 1 || found == posted.userInfo.end()) {
            out.push_back("?");
            continue;
        }
        out.push_back(std::any_cast<bool>(found->second) ? "true" : "false");
    }
    return out;
}

void writeFile(const std::filesystem::path& path, std::size_t bytes) {
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

Strings localNames(const MainViewController& view) {
    Strings out;
    if (view.directoryItems())
        for (const auto& entry : *view.directoryItems()) out.push_back(entry.name);
    return out;
}

Strings localSelection(Appwise& appwise) {
    return uuidsIn(appwise.selectedItems().localFiles(), [](const auto& entry) { return entry.name; });
}

std::vector<int> selectedRows(const QTableView* table) {
    std::vector<int> rows;
    for (const QModelIndex& index : table->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace

Q_DECLARE_METATYPE(Path)
Q_DECLARE_METATYPE(Strings)

class MainViewTablesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { standIn(); }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("tables"), presenter));
    }

    // The rows of each place: every source is filled, the path chooses.
    void remoteRowsOfEachPlace_data() {
        QTest::addColumn<Path>("path");
        QTest::addColumn<bool>("withListing");
        QTest::addColumn<Strings>("rows");
        const std::string shares = sharesName();
        QTest::newRow("top") << Path{} << true
                             << Strings{"r FILE 10 d", "SHARES SHARESDIR - -", "z DIRECTORY 4096 d", "a FILE 0 d"};
        QTest::newRow("top without listing") << Path{} << false << Strings{};
        QTest::newRow("folder") << Path{{"Folder", "F"}} << true
                                << Strings{"r FILE 10 d", "z DIRECTORY 4096 d", "a FILE 0 d"};
        QTest::newRow("folder without listing") << Path{{"Folder", "F"}} << false << Strings{};
        QTest::newRow("peers") << Path{{shares, "SHARES"}} << true
                               << Strings{"pa PEER - -", "pb PEER - -"};
        QTest::newRow("a peer's items") << Path{{shares, "SHARES"}, {"bob", "pb"}} << true
                                        << Strings{"s2 DIRECTORY - d", "s1 FILE 7 d"};
        QTest::newRow("below a peer") << Path{{shares, "SHARES"}, {"bob", "pb"}, {"Docs", "s2"}} << true
                                      << Strings{};
    }
    void remoteRowsOfEachPlace() {
        QFETCH(Path, path);
        QFETCH(bool, withListing);
        QFETCH(Strings, rows);
        MainViewController view;
        setPath(*appwise, path);
        if (withListing)
            appwise->setRemoteDirectoryInfo(listingOf({listed("z", "Zulu", "DIRECTORY", 4096),
                                                       listed("r", "Report", "FILE", 10, {"shared"}),
                                                       listed("a", "alpha", "FILE", 0)}));
        view.setSharingPeers({{"bob", "pb"}, {"Alice", "pa"}});
        auto notes = sharedItem("s1", "share1");
        notes.metadata.name = "notes";
        notes.metadata.fileSize = 7;
        notes.orig_size = 999;
        auto docs = sharedItem("s2", "share2", ostrelcomm::RemoteItemType::DIRECTORY);
        docs.metadata.name = "Docs";
        view.setSharedItems({notes, docs});

        view.reloadRemoteFileList();

        QCOMPARE(rowsOf(view), rows);
        QCOMPARE(table(view, "remoteFiles")->model()->rowCount(), static_cast<int>(rows.size()));
    }

    // A row of the listing keeps the item's name, date and attributes; the
    // listing itself keeps its order (the rows are sorted, not it).
    void ownRowsCopyTheListing() {
        MainViewController view;
        const auto listing = listingOf({listed("z", "Zulu", "DIRECTORY", 4096),
                                        listed("r", "Report", "FILE", 10, {"shared", "x"})});
        appwise->setRemoteDirectoryInfo(listing);
        view.reloadRemoteFileList();
        const auto& row = view.remoteItemsTableContent().content[0];
        QCOMPARE(row.name, std::string("Report"));
        QCOMPARE(row.attrib, (Strings{"shared", "x"}));
        QVERIFY(row.modificationDate == listing->content[1].metadata.modificationDate);
        QCOMPARE(view.remoteItemsTableContent().content[1].name, sharesName());
        QCOMPARE(listing->content[0].uuid, std::string("z"));
    }

    // A click on the size header sorts by size, ascending, a second one
    // descending; a descriptor set by code may sort by kind, which no column
    // offers; keys the remote table does not know change nothing.
    void sortHeadersAndDescriptors() {
        MainViewController view;
        view.resize(900, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        appwise->setRemoteDirectoryInfo(listingOf({listed("big", "b", "FILE", 300), listed("dir", "d", "DIRECTORY", 20),
                                                   listed("mid", "m", "FILE", 100)}));
        view.reloadRemoteFileList();
        QCOMPARE(uuidsOf(view), (Strings{"SHARES", "big", "dir", "mid"}));

        QTableView* remote = table(view, "remoteFiles");
        QHeaderView* header = remote->horizontalHeader();
        const auto clickHeader = [&](int section) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(section) + 10, header->height() / 2));
        };
        clickHeader(1);
        QVERIFY(view.remoteSortKey() == RemoteItemsTableContent::FileOrder::size);
        QVERIFY(view.remoteSortAscending());
        QCOMPARE(uuidsOf(view), (Strings{"SHARES", "dir", "mid", "big"}));
        QCOMPARE(header->sortIndicatorSection(), 1);
        clickHeader(1);
        QVERIFY(!view.remoteSortAscending());
        QCOMPARE(uuidsOf(view), (Strings{"big", "mid", "dir", "SHARES"}));
        clickHeader(2);
        QVERIFY(view.remoteSortKey() == RemoteItemsTableContent::FileOrder::modificationDate);
        QVERIFY(view.remoteSortAscending());

        view.sortDescriptorsDidChange(remote, {"itemType", true});
        QVERIFY(view.remoteSortKey() == RemoteItemsTableContent::FileOrder::itemType);
        QCOMPARE(uuidsOf(view), (Strings{"big", "mid", "dir", "SHARES"}));
        view.sortDescriptorsDidChange(remote, {"itemType", false});
        QCOMPARE(uuidsOf(view), (Strings{"SHARES", "dir", "big", "mid"}));

        for (const char* key : {"date", "Name", "", "jobType"}) {
            view.sortDescriptorsDidChange(remote, {key, true});
            QVERIFY(view.remoteSortKey() == RemoteItemsTableContent::FileOrder::itemType);
            QVERIFY(!view.remoteSortAscending());
            QCOMPARE(uuidsOf(view), (Strings{"SHARES", "dir", "big", "mid"}));
        }

        // The jobs table's third column offers no key: it does not sort.
        QHeaderView* jobsHeader = table(view, "jobsTable")->horizontalHeader();
        QCOMPARE(jobsHeader->sortIndicatorSection(), 1);
        jobsHeader->setSortIndicator(2, Qt::DescendingOrder);
        QCOMPARE(jobsHeader->sortIndicatorSection(), 1);
        QCOMPARE(jobsHeader->sortIndicatorOrder(), Qt::AscendingOrder);
    }

    // Against a real listing: the shares node and two items selected record
    // the two items; a click on no row empties the remote selection; a row
    // whose record left the listing changes nothing. A new sort keeps the
    // selected items selected on screen and records nothing.
    void ownItemsSelected() {
        StandInAccount account("tables-own");
        const std::string a = account.file("a");
        const std::string b = account.file("b");
        const std::string folder = account.folder("F");
        QVERIFY(logIn(*appwise, account));
        MainViewController view;
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        appwise->setRemoteDirectoryInfo(fetchListing(*appwise, "root"));
        QVERIFY(appwise->remoteDirectoryInfo());
        view.reloadRemoteFileList();
        QCOMPARE(uuidsOf(view), (Strings{folder, "SHARES", a, b}));
        QTableView* remote = table(view, "remoteFiles");
        testsupport::NotificationRecorder recorder(
            appwise->notifications(),
            {quorvel::kChangedFileSelectionNotification, quorvel::kAdjustEditMenuNotification});

        clickRow(remote, rowOf(view, "SHARES"), Qt::NoModifier);
        clickRow(remote, rowOf(view, a));
        clickRow(remote, rowOf(view, b));
        QCOMPARE(ownSelection(*appwise), (Strings{a, b}));
        QCOMPARE(appwise->selectedItems().ownElements()[1].metadata.name, std::string("b"));
        QVERIFY(view.selectedTable() == SelectedTable::remoteItems);
        QCOMPARE(selectionChanges(recorder).back(), std::string("own:2"));
        QCOMPARE(selectAllStates(recorder), (Strings{"true", "true", "true"}));

        // Sorted by name, descending: the rows move, the selected items stay
        // selected on screen and nothing is announced.
        const auto before = recorder.all().size();
        view.sortDescriptorsDidChange(remote, {"name", false});
        QCOMPARE(uuidsOf(view), (Strings{b, a, "SHARES", folder}));
        QCOMPARE(selectedUuids(view), (Strings{std::min(a, b), std::max(a, b)}));
        QCOMPARE(recorder.all().size(), before);
        QCOMPARE(ownSelection(*appwise), (Strings{a, b}));

        // No row under the click: both remote lists emptied.
        QTest::mouseClick(remote->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(10, remote->viewport()->height() - 5));
        QVERIFY(remote->selectionModel()->selectedRows().isEmpty());
        QVERIFY(ownSelection(*appwise).empty() && sharesSelection(*appwise).empty());
        QVERIFY(view.selectedTable() == SelectedTable::none);
        QCOMPARE(selectAllStates(recorder).back(), std::string("false"));
        const Strings changes = selectionChanges(recorder);
        QCOMPARE(Strings(changes.end() - 2, changes.end()), (Strings{"own:0", "shares:0"}));

        // The record of a row left the listing on show (another folder's, or
        // none): logged, the record as it was.
        appwise->selectedItems().setOwnElements(pick(appwise->remoteDirectoryInfo()->content, {"a"}));
        const std::vector<std::pair<ostrelcomm::tree::DirInfoPayload, std::string>> cases = {
            {fetchListing(*appwise, folder), b}, {nullptr, a}};
        for (const auto& [other, clicked] : cases) {
            appwise->setRemoteDirectoryInfo(other);
            LogCapture log;
            const auto posted = selectionChanges(recorder).size();
            clickRow(remote, rowOf(view, clicked), Qt::NoModifier);
            QCOMPARE(log.lines(), Strings{"Unable to get own item record in remoteItemsSelected()"});
            QCOMPARE(ownSelection(*appwise), Strings{a});
            QCOMPARE(selectionChanges(recorder).size(), posted);
        }
    }

    // In the list of the users who share with the user, a selection records
    // nothing; among one peer's items it records those items.
    void sharedItemsSelected() {
        StandInAccount owner("tables-owner");
        StandInAccount reader("tables-reader");
        const std::string f1 = owner.file("F1");
        const std::string f2 = owner.file("F2");
        QVERIFY(owner.grant(f1, reader) && owner.grant(f2, reader));
        QVERIFY(logIn(*appwise, reader));
        MainViewController view;
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTableView* remote = table(view, "remoteFiles");
        const auto own = ownItem("kept");
        appwise->selectedItems().setOwnElements({own});
        testsupport::NotificationRecorder recorder(appwise->notifications(),
                                                   {quorvel::kChangedFileSelectionNotification});

        setPath(*appwise, {{sharesName(), "SHARES"}});
        view.setSharingPeers({{owner.user(), owner.owner()}});
        view.reloadRemoteFileList();
        QCOMPARE(rowsOf(view), Strings{owner.owner() + " PEER - -"});
        clickRow(remote, 0, Qt::NoModifier);
        QVERIFY(view.selectedTable() == SelectedTable::remoteItems);
        QVERIFY(selectionChanges(recorder).empty());
        QCOMPARE(ownSelection(*appwise), Strings{"kept"});

        setPath(*appwise, {{sharesName(), "SHARES"}, {owner.user(), owner.owner()}});
        view.setSharedItems(sharedItems(*appwise));
        view.reloadRemoteFileList();
        QCOMPARE(uuidsOf(view), (Strings{f1, f2}));
        clickRow(remote, 1, Qt::NoModifier);
        QCOMPARE(sharesSelection(*appwise), Strings{f2});
        QCOMPARE(selectionChanges(recorder), Strings{"shares:1"});
        QCOMPARE(ownSelection(*appwise), Strings{"kept"});

        // The peer's list was replaced meanwhile: nothing found, nothing changed.
        view.setSharedItems({});
        LogCapture log;
        clickRow(remote, 0);
        QCOMPARE(log.lines(), Strings{"Unable to get shared item record in remoteItemsSelected()"});
        QCOMPARE(sharesSelection(*appwise), Strings{f2});
    }

    // The local rows: the listing sorted by name, then as the header says; a
    // folder's size "--", an empty file's the formatter's zero.
    void localRowsAndTheirSort() {
        TemporaryFolder folder;
        QVERIFY(folder.isValid());
        std::filesystem::create_directory(folder.path() / "Sub");
        writeFile(folder.path() / "b.txt", 0);
        writeFile(folder.path() / "A.txt", 5);
        writeFile(folder.path() / "a.txt", 2000);
        MainViewController view;
        view.resize(900, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTableView* local = table(view, "localFiles");

        // The view lists the local folder on show at load; without a listing
        // there are no rows.
        view.setLocalFiles(std::nullopt);
        view.reloadLocalFileList();
        QVERIFY(!view.directoryItems());
        QCOMPARE(local->model()->rowCount(), 0);

        view.setLocalFiles(quorvel::Directory(folder.path()));
        view.reloadLocalFileList();
        QCOMPARE(localNames(view), (Strings{"A.txt", "Sub", "a.txt", "b.txt"}));
        const std::vector<Strings> sizes = {{"A.txt", "5 bytes"}, {"Sub", "--"}, {"a.txt", "2 KB"}, {"b.txt", "Zero KB"}};
        const QStringList identifiers = {"locNameCellID", "locSizeCellID", "locModDateCellID"};
        for (int row = 0; row < 4; ++row) {
            QCOMPARE(local->model()->index(row, 1).data().toString().toStdString(), sizes[row][1]);
            for (int column = 0; column < 3; ++column)
                QCOMPARE(local->model()->index(row, column).data(quorvel::kCellIdentifierRole).toString(),
                         identifiers[column]);
        }
        QVERIFY(!local->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());

        QHeaderView* header = local->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 10, header->height() / 2));
        QVERIFY(view.localSortKey() == quorvel::Directory::FileOrder::size);
        const Strings bySize = localNames(view);
        QCOMPARE(Strings(bySize.begin() + 2, bySize.end()), (Strings{"A.txt", "a.txt"}));

        view.sortDescriptorsDidChange(local, {"name", false});
        QCOMPARE(localNames(view), (Strings{"b.txt", "a.txt", "Sub", "A.txt"}));
        for (const char* key : {"modificationDate", "itemType", "Name"}) {
            view.sortDescriptorsDidChange(local, {key, true});
            QVERIFY(view.localSortKey() == quorvel::Directory::FileOrder::name);
            QVERIFY(!view.localSortAscending());
        }
        view.sortDescriptorsDidChange(local, {"date", true});
        QVERIFY(view.localSortKey() == quorvel::Directory::FileOrder::date);
        QVERIFY(view.localSortAscending());
    }

    // The local selection in display order, folders included; kept on screen
    // by a new sort; a click on no row empties it.
    void localItemsSelected() {
        TemporaryFolder folder;
        QVERIFY(folder.isValid());
        std::filesystem::create_directory(folder.path() / "Sub");
        writeFile(folder.path() / "b.txt", 0);
        writeFile(folder.path() / "A.txt", 5);
        MainViewController view;
        view.resize(900, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTableView* local = table(view, "localFiles");
        view.setLocalFiles(quorvel::Directory(folder.path()));
        view.reloadLocalFileList();
        QCOMPARE(localNames(view), (Strings{"A.txt", "Sub", "b.txt"}));
        testsupport::NotificationRecorder recorder(
            appwise->notifications(),
            {quorvel::kChangedFileSelectionNotification, quorvel::kAdjustEditMenuNotification});

        clickRow(local, 2, Qt::NoModifier);
        clickRow(local, 1);
        QCOMPARE(localSelection(*appwise), (Strings{"Sub", "b.txt"}));
        QCOMPARE(appwise->selectedItems().localFiles()[0].url, folder.path() / "Sub");
        QVERIFY(view.selectedTable() == SelectedTable::localItems);
        QCOMPARE(selectionChanges(recorder), (Strings{"local:1", "local:2"}));
        QCOMPARE(selectAllStates(recorder), (Strings{"true", "true"}));

        const auto before = recorder.all().size();
        view.sortDescriptorsDidChange(local, {"name", false});
        QCOMPARE(localNames(view), (Strings{"b.txt", "Sub", "A.txt"}));
        QCOMPARE(selectedRows(local), (std::vector<int>{0, 1}));
        QCOMPARE(recorder.all().size(), before);

        QTest::mouseClick(local->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(10, local->viewport()->height() - 5));
        QVERIFY(localSelection(*appwise).empty());
        QVERIFY(view.selectedTable() == SelectedTable::none);
        QCOMPARE(selectionChanges(recorder).back(), std::string("local:0"));
        QCOMPARE(selectAllStates(recorder).back(), std::string("false"));
    }

    // The jobs table holds the selection while it has a selected row; a
    // selection change of anything else is logged.
    void jobsAndOtherSelections() {
        MainViewController view;
        QTableView* jobs = table(view, "jobsTable");
        const ostrelcomm::CommJobsItem upload(ostrelcomm::JobType::fileSend, 3, nullptr,
                                              ostrelcomm::JobPriority::Normal, 0);
        view.jobsQueueCopied(CommTasks::slowTask, {{"JOB", upload}});
        view.buildJobsList();
        QCOMPARE(jobs->model()->rowCount(), 1);
        testsupport::NotificationRecorder recorder(appwise->notifications(), {quorvel::kAdjustEditMenuNotification});

        jobs->selectRow(0);
        QVERIFY(view.selectedTable() == SelectedTable::jobs);
        jobs->clearSelection();
        QVERIFY(view.selectedTable() == SelectedTable::none);
        QCOMPARE(selectAllStates(recorder), (Strings{"false", "false"}));

        LogCapture log;
        QObject stranger;
        view.tableViewSelectionDidChange(&stranger);
        QCOMPARE(log.lines(), Strings{"No object found"});
        QVERIFY(view.selectedTable() == SelectedTable::none);
    }

private:
    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
};

QTEST_MAIN(MainViewTablesTest)
#include "MainViewTables_test.moc"
